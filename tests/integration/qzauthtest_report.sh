#!/usr/bin/env bash
# qzAuthTest's report and exit status with names on the command line: member
# and non-member, nesting and loops, unknown user (the group is then not looked
# up), unknown group, three arguments, and the report on standard output kept
# apart from the diagnostics on standard error. Also the sample directory's
# default question.
set -uo pipefail

program="${CORVEL_BINARY_DIR:?}/tools/qzauthtest/qzAuthTest"
[ -x "$program" ] || { echo "FAIL: $program is not built" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- stdout:" >&2; cat "$work/out" >&2
  echo "--- stderr (last lines):" >&2; tail -n 15 "$work/err" >&2
  exit 1
}

export CORVEL_DIRECTORY="ldif:${CORVEL_SOURCE_DIR:?}/tests/integration/qzauthtest_directory.ldif"
base='DC=corp,DC=example,DC=test'

# Standard input is closed for all runs: with two or more arguments nothing
# may be read.
run() {
  "$program" "$@" </dev/null >"$work/out" 2>"$work/err"
  status=$?
}
has_out() { grep -qxF -- "$1" "$work/out"; }
current_user="Current user \"Unix User\\$(id -un)\" with SID \"S-1-22-1-$(id -u)\""

# 1. A nested member: the whole report, nothing prompted.
run 'alice@corp.example.test' 'CORP\Staff'
[ "$status" -eq 0 ] || fail "nested member: exit status $status, expected 0"
printf '%s\n' \
  "$current_user" \
  'Testing if the user "alice@corp.example.test" is a member of "CORP\Staff"' \
  "Found user as\"CN=Alice Test,OU=People,$base\"" \
  "Found group as\"CN=Staff,OU=Groups,$base\"" \
  'A member ...' >"$work/expected"
diff "$work/expected" "$work/out" >&2 || fail "nested member: report differs"
# The diagnostics are on standard error only, the report on standard output only.
grep -qF 'qzAuthenticator::getObjectDN initing name translator on global catalog' "$work/err" \
  || fail "nested member: no log line on standard error"
grep -qF '* _isUserInGroup: checking IsMember of group "CN=Engineering"' "$work/err" \
  || fail "nested member: no trace of the descent on standard error"
grep -qF 'A member' "$work/err" && fail "report line on standard error"
grep -qF 'qzAuthenticator' "$work/out" && fail "log line on standard output"
grep -qF '_isUserInGroup' "$work/out" && fail "trace line on standard output"

# 2. Not a member (bob is only in Sales), a DN as the user name, and a loop
#    that does not hold the user: the test ran, exit 0.
run 'bob@corp.example.test' 'CORP\Staff'
[ "$status" -eq 0 ] || fail "non-member: exit status $status"
has_out 'Not a member...' || fail "non-member: verdict"
has_out 'A member ...' && fail "non-member: both verdicts"

run "CN=Bob Test,OU=People,$base" 'CORP\LoopA'
[ "$status" -eq 0 ] || fail "loop: exit status $status"
has_out "Found user as\"CN=Bob Test,OU=People,$base\"" || fail "loop: DN not found as itself"
has_out 'Not a member...' || fail "loop: verdict"

# 3. A '/' in the group's DN: opened as \2f, and bob is a member.
run 'CORP\bob' "CN=R/D Team,OU=Groups,$base"
[ "$status" -eq 0 ] || fail "slash: exit status $status"
has_out 'A member ...' || fail "slash: verdict"
grep -qF "* isUserInGroup: opening path: \"LDAP://CN=R\\2fD Team,OU=Groups,$base\"" "$work/err" \
  || fail "slash: the path was not escaped"

# 4. Three arguments: the third is ignored, nothing is prompted.
run 'alice@corp.example.test' 'CORP\Staff' 'CORP\Sales'
[ "$status" -eq 0 ] || fail "three arguments: exit status $status"
has_out 'A member ...' || fail "three arguments: verdict"
grep -qF 'user [' "$work/out" && fail "three arguments: a prompt was shown"
grep -qF 'Sales' "$work/out" "$work/err" && fail "three arguments: the third was used"

# 5. Unknown user: the error line, exit -1, and the group is not looked up
#    (also when the group is unknown too).
run 'nobody-here@corp.example.test' 'NoSuchGroupQz'
[ "$status" -eq 255 ] || fail "unknown user: exit status $status, expected 255"
printf '%s\n' \
  "$current_user" \
  'Testing if the user "nobody-here@corp.example.test" is a member of "NoSuchGroupQz"' \
  'error: unable to find the user "nobody-here@corp.example.test"' >"$work/expected"
diff "$work/expected" "$work/out" >&2 || fail "unknown user: report differs"
grep -qF 'NoSuchGroupQz' "$work/err" && fail "unknown user: the group was looked up"

# 6. Unknown group: the error line, exit -1, no membership test.
run 'alice@corp.example.test' 'CORP\NoSuchGroupQz'
[ "$status" -eq 255 ] || fail "unknown group: exit status $status, expected 255"
has_out 'error: unable to find the group "CORP\NoSuchGroupQz"' || fail "unknown group: error line"
has_out "Found user as\"CN=Alice Test,OU=People,$base\"" || fail "unknown group: user line"
grep -qF 'isUserInGroup' "$work/err" && fail "unknown group: the membership test ran"
[ "$(wc -l <"$work/out")" -eq 4 ] || fail "unknown group: expected 4 report lines"

# 7. A bare group name not found is retried with the current account's domain
#    (here "Unix User", which the directory does not know): still not found,
#    and the last trace names the name as given.
run 'alice@corp.example.test' 'Staff'
grep -qF "qzAuthenticator::getObjectDN reiniting name translator on global catalog, adding domain prefix, searching for \"Unix User\\Staff\"" "$work/err" \
  || fail "bare group: no retry with the current account's domain"

# 8. The sample directory's default question, as scripts/demo asks it.
if [ -f "$CORVEL_SOURCE_DIR/examples/corp.ldif" ]; then
  CORVEL_DIRECTORY="ldif:$CORVEL_SOURCE_DIR/examples/corp.ldif" run - </dev/null
  [ "$status" -eq 0 ] || fail "sample directory: exit status $status"
  has_out 'A member ...' || fail "sample directory: the default user is no member of the default group"
fi

echo "qzauthtest_report: all checks passed"
