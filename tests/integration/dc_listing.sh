#!/usr/bin/env bash
# Group listing against the throw-away domain controller: the direct and the
# recursive mode, nesting, a loop, a '/' in a DN, primary groups (Domain
# Users, the builtin Users nesting it, a changed primary group), and
# credentials used only with a domain and a password. Uses the DC the test
# runner started (CORVEL_DC_DIR).
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZLOGONTEST:-$build/tools/qzauthtest/qzLogonTest}
require_program "$bin" qzLogonTest

pw=$CORVEL_DC_USER_PASSWORD
dom=$CORVEL_DC_DOMAIN
err=$CORVEL_DC_DIR/listing.err
passed=0
failed=0

# check NAME WANT_EXIT "GROUPS" PASSWORD USER MODE: the groups, one per line
# in byte order, joined by blanks; the password must not reach the log.
check() {
  local name=$1 want_rc=$2 want=$3 pass=$4 user=$5 mode=$6 out rc
  printf '%s\n' "$pass" | timeout 60 "$bin" groups "$user" "$mode" >"$err.out" 2>"$err"
  rc=$?
  out=$(paste -sd' ' "$err.out")
  if [ "$rc" -eq "$want_rc" ] && [ "$out" = "$want" ] &&
     { [ -z "$pass" ] || ! grep -qF -- "$pass" "$err"; }; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: exit $rc (want $want_rc), groups '$out' (want '$want')"
    sed 's/^/    err: /' "$err" | tail -n 8
  fi
}
has() {
  if grep -qF -- "$2" "$err"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL $1: no '$2' in the log"; sed 's/^/    err: /' "$err"; fi
}

check "nested three levels" 0 "Domain Users Level0 Level1 Level2 Users" "" "$dom\\frank" recursive
check "loop ends" 0 "Domain Users LoopA LoopB Users" "" "$dom\\carol" recursive
check "slash in a DN" 0 "Domain Users Level0 R/D Team Users" "" "$dom\\erin" recursive
check "direct mode" 0 "Domain Users Level0 R/D Team" "" "$dom\\erin" direct
check "direct mode, one level" 0 "Domain Users Level2" "" "$dom\\frank" direct
check "direct group" 0 "Domain Users Sales Users" "" "alice@$CORVEL_DC_DNS_DOMAIN" recursive
# A primary group other than Domain Users, and the groups that nest it;
# Domain Users is grace's through its member values now.
check "primary group, nested" 0 "Domain Users PosixGrand PosixParent PosixStaff Users" "" \
  "$dom\\grace" recursive
check "primary group, direct" 0 "Domain Users PosixStaff" "" "$dom\\grace" direct
check "unknown user" 1 "" "" "$dom\\nobody" recursive
has "failure line" "qzAuthenticator::getADUserGroups - result FAILURE"

# With a domain and a password the directory is read as that user.
check "own credentials" 0 "Domain Users Level0 Level1 Level2 Users" "$pw" "$dom\\frank" recursive
has "credentials used" "with the credentials of \"$dom\\frank\""
check "principal name with credentials" 0 "Domain Users Level2" "$pw" "frank@$CORVEL_DC_DNS_DOMAIN" direct
has "principal name credentials used" "with the credentials of \"frank@$CORVEL_DC_DNS_DOMAIN\""
check "wrong password" 1 "" "x$pw" "$dom\\frank" recursive
# An empty password: the caller's own ticket.
check "no password" 0 "Domain Users Level0 Level1 Level2 Users" "" "$dom\\frank" recursive
has "own context" "in the caller's own security context"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
