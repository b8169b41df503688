#!/usr/bin/env bash
# The nearest domain controller, as a domain-joined host finds it with
# nothing configured but the realm and DNS: the client in SiteA's subnet
# uses dc1 (SiteA), in SiteB's dc2 (SiteB, behind a 150 ms link), in no
# site's subnet whichever DC answers the LDAP ping first; with dc1 stopped
# before the run, dc2 answers. Through qzIsMember and qzAuthTest alike.
set -uo pipefail

. "$(dirname "$0")/lib/forest_env.sh"
ismember=$build/tools/qzismember/qzIsMember
authtest=$build/tools/qzauthtest/qzAuthTest
require_program "$ismember" qzIsMember
require_program "$authtest" qzAuthTest
passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
work=$CORVEL_FOREST_DIR/sites
mkdir -p "$work"
d=$CORVEL_FOREST_DNS_DOMAIN
dc1=$CORVEL_FOREST_DC1_HOST
dc2=$CORVEL_FOREST_DC2_HOST

# uses WHERE DC: both programs ask, and every LDAP connection they open
# goes to DC (the global catalog and the domain's DC alike).
uses() {
  local where=$1 dc=$2 out
  out=$(timeout 60 "$ismember" -v alice@$d 'CORP\Sales' 2>"$work/ismember.err")
  [ "$out" = member ] || fail "$where: qzIsMember says '$out'"
  timeout 60 "$authtest" alice@$d 'CORP\Sales' >"$work/authtest.out" 2>"$work/authtest.err"
  [ "$(tail -n 1 "$work/authtest.out")" = 'A member ...' ] || fail "$where: qzAuthTest: $(tail -n 1 "$work/authtest.out")"
  for err in "$work/ismember.err" "$work/authtest.err"; do
    local connected
    connected=$(sed -n 's/.*ldap: connected to \([^:]*\):.*/\1/p' "$err" | sort -u | paste -sd,)
    if [ "$connected" = "$dc" ]; then ok; else
      fail "$where: $(basename "$err" .err) connected to '$connected', want $dc"
      grep -F 'ldap:' "$err" | cut -c1-160 | head -12
    fi
  done
}

forest_client near
uses "client in SiteA" "$dc1"
grep -qF 'client site "SiteA"; using '"$dc1"':389 first' "$work/ismember.err" && ok ||
  fail "the choice of the DC is not logged"
forest_client far
uses "client in SiteB" "$dc2"
forest_client none
# In no site: the first to answer the ping, the near one in practice.
uses "client in no site" "$dc1"
grep -qF 'client site ""' "$work/ismember.err" && ok || fail "no site is not logged as none"

# The near DC stopped before the run: the far one serves.
forest_client near
forest_stop dc1
uses "dc1 stopped" "$dc2"
forest_start dc1 || fail "dc1 did not come back"

echo "sites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
