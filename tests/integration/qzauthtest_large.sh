#!/usr/bin/env bash
# qzAuthTest on large generated directories (bench/gen_ldif.py, into a temp
# dir): a loop of 10,000 groups, a chain 10,000 groups deep, a group of
# 100,000 members and a group whose DN is 4,000 characters long. Each run
# must end (timeout 60), answer rightly and not crash: the walk keeps its
# own stack, so depth cannot overflow the C++ stack, and a loop is entered
# once. Some runs repeat under the ASan build when it is there.
set -uo pipefail

program="${CORVEL_BINARY_DIR:?}/tools/qzauthtest/qzAuthTest"
[ -x "$program" ] || { echo "FAIL: $program is not built" >&2; exit 1; }
asan_program="${CORVEL_ASAN_PROGRAM:-${CORVEL_SOURCE_DIR:?}/build/asan/tools/qzauthtest/qzAuthTest}"
gen="${CORVEL_SOURCE_DIR:?}/bench/gen_ldif.py"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
base='DC=corp,DC=example,DC=test'

fail() {
  echo "FAIL: $*" >&2
  echo "--- stdout:" >&2; cat "$work/out" >&2
  echo "--- stderr (last lines):" >&2; tail -n 8 "$work/err" >&2
  failures=$((failures + 1))
}
# check NAME DIRECTORY STATUS LAST-LINE [program] -- USER GROUP
check() {
  local name=$1 ldif=$2 want_status=$3 want_line=$4 binary=$5; shift 5
  CORVEL_DIRECTORY="ldif:$work/$ldif" timeout 60 "$binary" "$@" </dev/null >"$work/out" 2>"$work/err"
  local status=$?
  if [ "$status" -eq 124 ]; then fail "$name: hung (timeout)"; return 1; fi
  if [ "$status" -ne "$want_status" ]; then fail "$name: exit status $status, expected $want_status"; return 1; fi
  [ "$(tail -n 1 "$work/out")" = "$want_line" ] || { fail "$name: last report line is not '$want_line'"; return 1; }
  if grep -q 'AddressSanitizer\|runtime error:\|LeakSanitizer' "$work/err"; then fail "$name: sanitizer report"; return 1; fi
  return 0
}
traces_of() { grep -cF "* _isUserInGroup: checking IsMember of group \"$1" "$work/err"; }

python3 "$gen" --shape chain --groups 10000 --loop --probe none --output "$work/loop.ldif" || exit 1
python3 "$gen" --shape chain --groups 10000 --probe last --output "$work/chain.ldif" || exit 1
python3 "$gen" --groups 1 --huge 100000 --output "$work/huge.ldif" || exit 1
python3 "$gen" --groups 50 --fanout 3 --long-dn 4000 --output "$work/long.ldif" || exit 1

# 1. A loop of 10,000 groups without the user: every group entered exactly
#    once, then "Not a member...".
check "10,000-group loop" loop.ldif 0 'Not a member...' "$program" 'probe@corp.example.test' 'CORP\Top' &&
{ entered=$(traces_of "CN=G")
  [ "$entered" -eq 9999 ] || fail "10,000-group loop: $entered nested groups entered, expected 9999 (each once)"
  [ "$(traces_of "CN=Top")" -eq 1 ] || fail "10,000-group loop: the top group was entered again"; }
# Entering the loop anywhere else ends too.
check "loop entered in the middle" loop.ldif 0 'Not a member...' "$program" 'probe@corp.example.test' 'CORP\G005000'

# 2. A chain 10,000 deep with the user at the bottom: found, no stack overflow.
check "10,000-deep chain" chain.ldif 0 'A member ...' "$program" 'probe@corp.example.test' 'CORP\Top'
check "10,000-deep chain from its last group" chain.ldif 0 'A member ...' "$program" 'probe@corp.example.test' 'CORP\G009999'

# 3. A group of 100,000 members: its last member is found through the top
#    group, a non-member is not, and the walk does not enter users.
check "100,000 members, the last" huge.ldif 0 'A member ...' "$program" 'CORP\u099999' 'CORP\Top'
check "100,000 members, the first" huge.ldif 0 'A member ...' "$program" 'CORP\u000000' 'CORP\Huge'
check "100,000 members, not one of them" huge.ldif 0 'Not a member...' "$program" 'probe@corp.example.test' 'CORP\Top' &&
{ [ "$(grep -cF '* _isUserInGroup: checking IsMember of group' "$work/err")" -eq 2 ] \
  || fail "100,000 members: the walk entered something other than the two groups"; }

# 4. A group whose DN is 4,000 characters: found by name and by DN, and it
#    holds the user.
long_dn="CN=$(printf 'L%.0s' $(seq 1 $((4000 - 3 - ${#base} - 11)))),OU=Groups,$base"
[ "${#long_dn}" -eq 4000 ] || fail "test setup: long DN is ${#long_dn} characters"
check "4,000-character DN by name" long.ldif 0 'A member ...' "$program" 'probe@corp.example.test' 'CORP\Long' &&
{ grep -qxF "Found group as\"$long_dn\"" "$work/out" || fail "4,000-character DN: not printed whole"; }
check "4,000-character DN as the name" long.ldif 0 'A member ...' "$program" 'probe@corp.example.test' "$long_dn"
check "4,000-character DN under the top group" long.ldif 0 'A member ...' "$program" 'probe@corp.example.test' 'CORP\Top'
check "4,000-character DN, one character short" long.ldif 255 \
  "error: unable to find the group \"${long_dn:1}\"" "$program" 'probe@corp.example.test' "${long_dn:1}"

# 5. The sanitizer build, where there is one.
if [ -x "$asan_program" ]; then
  check "asan: 10,000-group loop" loop.ldif 0 'Not a member...' "$asan_program" 'probe@corp.example.test' 'CORP\Top'
  check "asan: 10,000-deep chain" chain.ldif 0 'A member ...' "$asan_program" 'probe@corp.example.test' 'CORP\Top'
  check "asan: 100,000 members" huge.ldif 0 'A member ...' "$asan_program" 'CORP\u099999' 'CORP\Top'
  check "asan: 4,000-character DN" long.ldif 0 'A member ...' "$asan_program" 'probe@corp.example.test' "$long_dn"
else
  echo "note: no sanitizer build at $asan_program; its runs skipped"
fi

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed" >&2; exit 1; }
echo "qzauthtest_large: all cases passed"
