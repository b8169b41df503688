#!/usr/bin/env bash
# Users of a trusted forest (OTHER, two-way forest trust): a foreign
# security principal in a group of ours stands for them. olga is nested two
# levels below CORP\ForeignAccess through her principal; oscar is a member of
# CORP\ForeignGroups through the principal of OTHER\OtherStaff, a group of his
# own forest; otto is in no group of ours. Both name forms of the other
# forest, both programs, every method of qzIsMember, and the group listing.
# The other forest's DC offers no GSS-SPNEGO: connections to it bind with
# GSSAPI.
set -uo pipefail

. "$(dirname "$0")/lib/forest_env.sh"
ismember=$build/tools/qzismember/qzIsMember
authtest=$build/tools/qzauthtest/qzAuthTest
logontest=$build/tools/qzauthtest/qzLogonTest
require_program "$ismember" qzIsMember
passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
base=$CORVEL_FOREST_BASE
obase=$CORVEL_FOREST_OTHER_BASE
od=$CORVEL_FOREST_OTHER_DNS_DOMAIN
g() { echo "CN=$1,OU=Groups,$base"; }
forest_client near

# expect NAME STATUS STDOUT ARGS...
expect() {
  local name=$1 want_status=$2 want_out=$3 out status
  shift 3
  out=$(timeout 120 "$@" </dev/null 2>"$CORVEL_FOREST_DIR/trusts.err")
  status=$?
  if [ "$status" -eq "$want_status" ] && [ "$out" = "$want_out" ]; then ok; else
    fail "$name: exit $status (want $want_status), output:"
    printf '%s\n' "$out" | sed 's/^/    /'
    tail -n 3 "$CORVEL_FOREST_DIR/trusts.err" | cut -c1-200 | sed 's/^/    err: /'
  fi
}

olga_path="member
$(g ForeignAccess)
$(g ForeignMid)
$(g ForeignLeaf)
CN=Olga Test,OU=People,$obase"
for method in token up down; do
  expect "olga, $method" 0 "$olga_path" "$ismember" --method=$method --why "olga@$od" 'CORP\ForeignAccess'
  expect "OTHER\\olga, $method" 0 "$olga_path" "$ismember" --method=$method --why 'OTHER\olga' 'CORP\ForeignAccess'
  expect "oscar through his forest's group, $method" 0 "member
$(g ForeignGroups)
CN=OtherStaff,OU=Groups,$obase
CN=Oscar Test,OU=People,$obase" "$ismember" --method=$method --why "oscar@$od" 'CORP\ForeignGroups'
  expect "otto, $method" 1 'not a member' "$ismember" --method=$method "otto@$od" 'CORP\ForeignAccess'
  expect "a user of ours in the foreign groups, $method" 1 'not a member' \
    "$ismember" --method=$method "alice@$CORVEL_FOREST_DNS_DOMAIN" 'CORP\ForeignGroups'
done
expect "no such user of the other forest" 2 '' "$ismember" "nobody@$od" 'CORP\ForeignAccess'
timeout 120 "$ismember" -v "olga@$od" 'CORP\ForeignAccess' >/dev/null 2>"$CORVEL_FOREST_DIR/binds.err"
grep -q "ldap: bound to $CORVEL_FOREST_DC1_HOST:[0-9]* with GSS-SPNEGO" "$CORVEL_FOREST_DIR/binds.err" &&
  grep -q "ldap: bound to $CORVEL_FOREST_OTHER_HOST:[0-9]* with GSSAPI" "$CORVEL_FOREST_DIR/binds.err" && ok ||
  fail "binds: $(grep 'bound to' "$CORVEL_FOREST_DIR/binds.err")"

out=$(timeout 120 "$authtest" "olga@$od" 'CORP\ForeignAccess' 2>/dev/null | tail -n 1)
[ "$out" = 'A member ...' ] && ok || fail "qzAuthTest, olga: $out"
out=$(timeout 120 "$authtest" "otto@$od" 'CORP\ForeignAccess' 2>/dev/null | tail -n 1)
[ "$out" = 'Not a member...' ] && ok || fail "qzAuthTest, otto: $out"

# The listing of a user of the other forest holds the groups of ours it
# reaches through the principals, its own forest's groups beside them.
if [ -x "$logontest" ]; then
  out=$(echo | timeout 120 "$logontest" groups "olga@$od" recursive 2>/dev/null | paste -sd,)
  [ "$out" = "Domain Users,ForeignAccess,ForeignLeaf,ForeignMid,Users" ] && ok ||
    fail "olga's groups: $out"
  out=$(echo | timeout 120 "$logontest" groups "oscar@$od" recursive 2>/dev/null | paste -sd,)
  [ "$out" = "Domain Users,ForeignGroups,OtherStaff,Users" ] && ok || fail "oscar's groups: $out"
fi

echo "trusts: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
