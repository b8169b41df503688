#!/usr/bin/env bash
# qzAuthTest's dialogue: the two prompts with their defaults, empty answers,
# end of input, the 511-character line limit, and one argument (ignored).
set -uo pipefail

program="${CORVEL_BINARY_DIR:?}/tools/qzauthtest/qzAuthTest"
[ -x "$program" ] || { echo "FAIL: $program is not built" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; echo "--- stdout:" >&2; cat "$work/out" >&2; exit 1; }

# alice is in Staff through Engineering; bob is in Sales.
export CORVEL_DIRECTORY="ldif:${CORVEL_SOURCE_DIR:?}/tests/integration/qzauthtest_directory.ldif"

default_user='alice@corp.example.test'
default_group='CORP\Staff'
prompts="user [$default_user]: group [$default_group]: "

# run <stdin file> [args...]: stdout to $work/out, stderr to $work/err,
# status in $status.
run() {
  local input="$1"; shift
  "$program" "$@" <"$input" >"$work/out" 2>"$work/err"
  status=$?
}
# Line N of stdout.
line() { sed -n "${1}p" "$work/out"; }
testing_line() { printf 'Testing if the user "%s" is a member of "%s"' "$1" "$2"; }

# 1. End of input at both prompts: both defaults, the whole report.
run /dev/null
[ "$status" -eq 0 ] || fail "end of input: exit status $status, expected 0"
{
  printf '%sCurrent user "Unix User\\%s" with SID "S-1-22-1-%s"\n' "$prompts" "$(id -un)" "$(id -u)"
  printf '%s\n' "$(testing_line "$default_user" "$default_group")"
  printf 'Found user as"CN=Alice Test,OU=People,DC=corp,DC=example,DC=test"\n'
  printf 'Found group as"CN=Staff,OU=Groups,DC=corp,DC=example,DC=test"\n'
  printf 'A member ...\n'
} >"$work/expected"
diff "$work/expected" "$work/out" >&2 || fail "end of input: report differs"

# 2. Empty lines keep the defaults.
printf '\n\n' >"$work/in"
run "$work/in"
[ "$status" -eq 0 ] || fail "empty lines: exit status $status"
grep -qF "$(testing_line "$default_user" "$default_group")" "$work/out" \
  || fail "empty lines: defaults not kept"

# 3. Answers replace the defaults, exactly as typed.
printf 'bob@corp.example.test\nCORP\\Sales\n' >"$work/in"
run "$work/in"
[ "$status" -eq 0 ] || fail "answers: exit status $status"
grep -qF "$(testing_line 'bob@corp.example.test' 'CORP\Sales')" "$work/out" \
  || fail "answers: names not taken"
grep -qxF 'A member ...' "$work/out" || fail "answers: bob is a member of Sales"

printf ' alice@corp.example.test\n\n' >"$work/in"
run "$work/in"
grep -qF "$(testing_line ' alice@corp.example.test' "$default_group")" "$work/out" \
  || fail "blanks: the name was trimmed"

# 4. A line of 511 characters is taken whole, and the next line still read.
long511="$(printf 'u%.0s' $(seq 1 511))"
printf '%s\nCORP\\Sales\n' "$long511" >"$work/in"
run "$work/in"
grep -qF "$(testing_line "$long511" 'CORP\Sales')" "$work/out" \
  || fail "511 characters: not taken whole, or the group line was not read"
grep -qxF "error: unable to find the user \"$long511\"" "$work/out" \
  || fail "511 characters: no user error line"
[ "$status" -eq 255 ] || fail "511 characters: exit status $status, expected 255"

# 5. A longer line is cut after 511 characters; input is then failed, so the
#    group prompt reads nothing and keeps its default.
long600="$(printf 'v%.0s' $(seq 1 600))"
printf '%s\nCORP\\Sales\n' "$long600" >"$work/in"
run "$work/in"
cut511="${long600:0:511}"
grep -qF "$(testing_line "$cut511" "$default_group")" "$work/out" \
  || fail "600 characters: not cut at 511, or the group did not keep its default"
grep -qF "$long600" "$work/out" && fail "600 characters: the whole line was taken"
grep -qF 'CORP\Sales' "$work/out" && fail "600 characters: the group line was read"
[ "$status" -eq 255 ] || fail "600 characters: exit status $status, expected 255"

# 6. One argument: both prompts appear and the argument plays no part.
printf 'bob@corp.example.test\nCORP\\Sales\n' >"$work/in"
run "$work/in" 'carol@corp.example.test'
case "$(line 1)" in
  "user [$default_user]: group [$default_group]: "*) ;;
  *) fail "one argument: prompts missing or default replaced: $(line 1)" ;;
esac
grep -qF "$(testing_line 'bob@corp.example.test' 'CORP\Sales')" "$work/out" \
  || fail "one argument: prompted answers not used"
grep -qF carol "$work/out" && fail "one argument: the argument was used"

echo "qzauthtest_prompts: all checks passed"
