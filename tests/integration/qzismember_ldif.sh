#!/usr/bin/env bash
# qzIsMember against LDIF directories: every exit status, the path of --why
# (three levels deep, through a loop, through a primary group), JSON that a
# JSON parser reads back whatever the names hold, batches answering as the
# same questions asked one at a time, malformed and over-long batch lines,
# a walk that fails (the test build's fault table), and output that cannot
# be written. Every run is bounded by `timeout 60`.
set -uo pipefail

bin="${CORVEL_BINARY_DIR:?}/tools/qzismember/qzIsMember"
faulty="${CORVEL_BINARY_DIR:?}/tests/faults/qzIsMember"
[ -x "$bin" ] || { echo "FAIL: $bin is not built" >&2; exit 1; }
src=${CORVEL_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

base='DC=corp,DC=example,DC=test'
g() { echo "CN=$1,OU=Groups,$base"; }
u() { echo "CN=$1,OU=Users,$base"; }
sid=S-1-5-21-1004336348-1177238915-682003330

# The sample directory, plus names that JSON must escape (quotes,
# backslashes, UTF-8) and pat, whose primary group PosixStaff lists no one.
zoe_dn='CN=Zoë \"Q\" Back\\slash,OU=Users,'$base
zoe_group='CN=Zoë'"'"'s Group,OU=Groups,'$base
dir=$work/corp.ldif
{
  cat "$src/examples/corp.ldif"
  printf '\ndn:: %s\nobjectClass: user\nsAMAccountName: zoe\nuserPrincipalName: zoe@corp.example.test\n\n' \
    "$(printf '%s' "$zoe_dn" | base64 -w0)"
  printf 'dn:: %s\nobjectClass: group\nsAMAccountName: Zoes Group\nmember:: %s\n\n' \
    "$(printf '%s' "$zoe_group" | base64 -w0)" "$(printf '%s' "$zoe_dn" | base64 -w0)"
  printf 'dn: %s\nobjectClass: group\nsAMAccountName: Quote Top\nmember:: %s\n\n' \
    "$(g 'Top \"Q\"')" "$(printf '%s' "$zoe_group" | base64 -w0)"
  printf 'dn: %s\nobjectClass: user\nsAMAccountName: pat\nuserPrincipalName: pat@corp.example.test\nobjectSid: %s-1190\nprimaryGroupID: 1191\n\n' \
    "$(u 'Pat Primary')" "$sid"
  printf 'dn: %s\nobjectClass: group\nsAMAccountName: PosixStaff\nobjectSid: %s-1191\n\n' "$(g PosixStaff)" "$sid"
  printf 'dn: %s\nobjectClass: group\nsAMAccountName: PosixParent\nmember: %s\n\n' "$(g PosixParent)" "$(g PosixStaff)"
  printf 'dn: %s\nobjectClass: group\nsAMAccountName: PosixGrand\nmember: %s\n\n' "$(g PosixGrand)" "$(g PosixParent)"
} > "$dir"
export CORVEL_DIRECTORY=ldif:$dir

run() { timeout 60 "$@" </dev/null >"$work/out" 2>"$work/err"; status=$?; }

# expect NAME STATUS STDOUT CMD...: exit status and the whole standard output.
expect() {
  local name=$1 want_status=$2 want_out=$3
  shift 3
  run "$@"
  if [ "$status" -eq "$want_status" ] && [ "$(cat "$work/out")" = "$want_out" ]; then ok; else
    fail "$name: exit $status (want $want_status), output:"; sed 's/^/    /' "$work/out" "$work/err" | head -20
  fi
}

# 1. Exit statuses and the path.
expect "member" 0 member "$bin" alice@corp.example.test 'CORP\Staff'
expect "not a member" 1 'not a member' "$bin" bob@corp.example.test 'CORP\Developers'
expect "unknown user" 2 '' "$bin" nobody@corp.example.test 'CORP\Staff'
expect "unknown group" 2 '' "$bin" alice@corp.example.test 'CORP\NoSuchGroup'
expect "a group that is a user" 2 '' "$bin" alice@corp.example.test 'CORP\bob'
expect "unreadable directory" 3 '' env CORVEL_DIRECTORY=ldif:$work/missing.ldif "$bin" alice@corp.example.test 'CORP\Staff'
expect "no directory of a known kind" 3 '' env CORVEL_DIRECTORY=nowhere "$bin" alice@corp.example.test 'CORP\Staff'
expect "three levels down" 0 "member
$(g Staff)
$(g Engineering)
$(g Developers)
$(u 'Alice Anders')" "$bin" --why alice@corp.example.test 'CORP\Staff'
expect "through a loop" 0 "member
$(g LoopB)
$(g LoopA)
$(u 'Erin Evans')" "$bin" --why 'CORP\erin' 'CORP\LoopB'
expect "through a primary group" 0 "member
$(g PosixGrand)
$(g PosixParent)
$(g PosixStaff)
$(u 'Pat Primary')" "$bin" --why pat@corp.example.test 'CORP\PosixGrand'
expect "a name starting with a dash after --" 2 '' "$bin" -- -alice 'CORP\Staff'
for usage in "-x" "--why" "alice" "a b c" "--batch alice"; do
  # shellcheck disable=SC2086
  expect "usage: $usage" 64 '' "$bin" $usage
done
expect "help" 0 "$("$bin" --help)" "$bin" -h
grep -q '^usage: qzIsMember' "$work/out" && ok || fail "help has no usage line"
run "$bin" alice@corp.example.test 'CORP\Staff'
[ ! -s "$work/err" ] && ok || fail "quiet by default, but standard error holds: $(head -3 "$work/err")"
run "$bin" -v alice@corp.example.test 'CORP\Staff'
grep -qF "answered upward: \"$(u 'Alice Anders')\" is a member of \"$(g Staff)\"" "$work/err" && ok ||
  fail "-v does not say how the answer was found"
run "$bin" -v --method=down alice@corp.example.test 'CORP\Staff'
grep -qF '* _isUserInGroup: checking IsMember of group "CN=Staff" for user:' "$work/err" && ok ||
  fail "-v --method=down shows no walk trace"
expect "an unknown method" 64 '' "$bin" --method=sideways alice@corp.example.test 'CORP\Staff' 
timeout 60 "$bin" alice@corp.example.test 'CORP\Staff' >/dev/full 2>/dev/null
[ $? -eq 74 ] && ok || fail "an answer that cannot be written must not exit 0"

# 2. JSON read back by a parser: names with quotes, backslashes, UTF-8, a
#    byte that is no UTF-8, a control character. CHECK is Python over the
#    answer j and the environment E.
json_check() { # NAME STATUS CHECK CMD...
  local name=$1 want_status=$2 check=$3
  shift 3
  run "$@"
  if [ "$status" -eq "$want_status" ] && python3 -c "
import json, os, sys
E = os.environ
lines = open(sys.argv[1], encoding='utf-8').read().splitlines()
assert len(lines) == 1, lines
j = json.loads(lines[0])
assert list(j) == ['user', 'group', 'userDN', 'groupDN', 'member', 'path', 'error'], list(j)
assert $check, j" "$work/out"; then ok; else
    fail "$name: exit $status (want $want_status)"; sed 's/^/    /' "$work/out" "$work/err" | head -10
  fi
}
export ZOE_DN=$zoe_dn ZOE_GROUP=$zoe_group ODD='no"such\user'
json_check "json member, UTF-8 and quotes in the path" 0 \
  "j['member'] is True and j['error'] is None and j['userDN'] == E['ZOE_DN'] and j['path'] == [j['groupDN'], E['ZOE_GROUP'], E['ZOE_DN']]" \
  "$bin" --json zoe@corp.example.test 'CORP\Quote Top'
json_check "json not found, quotes and backslashes given" 2 \
  "j['user'] == E['ODD'] and j['userDN'] is None and j['member'] is None and j['path'] == [] and '0x80072116' in j['error']" \
  "$bin" --json "$ODD" 'CORP\Staff'
json_check "json not UTF-8 and a control character" 2 \
  "j['user'] == 'bad\ufffd\x01name' and j['group'] == 'CORP\\\\Staff'" \
  "$bin" --json "$(printf 'bad\377\001name')" 'CORP\Staff'
json_check "json directory failure" 3 \
  "j['member'] is None and j['userDN'] is None and '0x8007054B' in j['error']" \
  env CORVEL_DIRECTORY=ldif:$work/missing.ldif "$bin" --json alice@corp.example.test 'CORP\Staff'

# 3. A batch answers as the same questions asked one at a time: every user
#    of the directory (and unknown ones) against every group, in both forms.
users=(alice@corp.example.test bob@corp.example.test 'CORP\carol' dave.davis@example.test 'CORP\erin'
       frank@corp.example.test jsmith@corp.example.test 'CORP\svc-web' pat@corp.example.test
       zoe@corp.example.test nobody@corp.example.test 'CORP\WS01$')
groups=('CORP\Staff' 'CORP\Engineering' 'CORP\Developers' 'CORP\IT-Admins' 'CORP\Sales-Marketing'
        'CORP\LoopA' 'CORP\LoopB' 'CORP\Empty' 'CORP\Regional-Staff' 'CORP\Domain Users'
        'CORP\PosixGrand' 'CORP\Quote Top' "$(g Staff)" 'Staff' 'CORP\NoSuchGroup' 'CORP\alice')
: > "$work/questions"
for curUser in "${users[@]}"; do for curGroup in "${groups[@]}"; do
  printf '%s\t%s\n' "$curUser" "$curGroup" >> "$work/questions"
done; done
for round in 1 2; do cat "$work/questions"; done > "$work/batch.in" # 384 lines
: > "$work/single.json"
: > "$work/single.codes"
worst=0
while IFS=$'\t' read -r curUser curGroup; do
  timeout 60 "$bin" --json "$curUser" "$curGroup" >> "$work/single.json" 2>/dev/null
  code=$?
  echo "$code" >> "$work/single.codes"
  [ "$code" -ne 1 ] && [ "$code" -gt "$worst" ] && worst=$code
done < "$work/batch.in"
timeout 60 "$bin" --batch --json < "$work/batch.in" > "$work/batch.json" 2>/dev/null
code=$?
if cmp -s "$work/batch.json" "$work/single.json" && [ "$code" -eq "$worst" ]; then ok; else
  fail "json batch (exit $code, want $worst) differs from single questions:"
  diff "$work/single.json" "$work/batch.json" | head -10
fi
grep -qx 0 "$work/single.codes" && grep -qx 1 "$work/single.codes" && grep -qx 2 "$work/single.codes" &&
  ok || fail "the batch holds not every kind of answer"
timeout 60 "$bin" --batch --why < "$work/batch.in" > "$work/batch.tsv" 2>/dev/null
python3 - "$work/batch.tsv" "$work/single.json" "$work/single.codes" <<'EOF' && ok || fail "plain batch differs from the single answers"
import json, sys
words = ["member", "not a member", "not found", "error"]
for plain, line, code in zip(*(open(f, encoding="utf-8") for f in sys.argv[1:]), strict=True):
    j = json.loads(line)
    assert plain.rstrip("\n").split("\t") == [j["user"], j["group"], words[int(code)]] + j["path"], (plain, j)
EOF

# 4. Lines that are no question get an error answer; the run goes on.
{
  printf 'alice@corp.example.test\tCORP\\Staff\n'
  printf 'no tab here\n'
  printf '\tCORP\\Staff\n'
  printf 'alice@corp.example.test\t\n'
  printf 'a\tb\tc\n'
  printf '\n'
  head -c 20000 /dev/zero | tr '\0' 'x'; printf '\tCORP\\Staff\n'
  printf 'bob@corp.example.test\tCORP\\Developers\r\n'
  printf 'CORP\\erin\tCORP\\LoopA' # no line end at the end of input
} > "$work/bad.in"
timeout 60 "$bin" --batch < "$work/bad.in" > "$work/out" 2>"$work/err"
status=$?
want=$(printf '%s\n' 'alice@corp.example.test	CORP\Staff	member' 'no tab here		error' \
  '	CORP\Staff	error' 'alice@corp.example.test		error' 'a	b c	error' '		error')
want+=$'\n'"$(head -c 8192 /dev/zero | tr '\0' 'x')"$'\t\terror'
want+=$'\n''bob@corp.example.test	CORP\Developers	not a member'$'\n''CORP\erin	CORP\LoopA	member'
if [ "$status" -eq 65 ] && [ "$(cat "$work/out")" = "$want" ] && [ "$(grep -c '^qzIsMember: line' "$work/err")" -eq 6 ]; then
  ok; else fail "malformed lines: exit $status (want 65)"; diff <(echo "$want") "$work/out" | cut -c1-120 | head; fi
timeout 60 "$bin" --batch < /dev/null > "$work/out" 2>&1
[ $? -eq 0 ] && [ ! -s "$work/out" ] && ok || fail "an empty batch answers nothing, exit 0"

# 5. A walk that fails: no path is an error (3), never "not a member"; a
#    path found beside the failure is still a member. The walk down first
#    (its calls are the ones made to fail), then the upward answer, which
#    walks down where it cannot read upward.
if [ -x "$faulty" ]; then
  up_faulty=$faulty
  faulty="$up_faulty --method=down"
  expect "members fail, no path" 3 '' env "CORVEL_DIRECTORY_FAULTS=Members:$(g Developers):0x8007203A" \
    $faulty frank@corp.example.test 'CORP\Staff'
  grep -qF "the members of \"$(g Developers)\" could not be read: error 0x8007203A" "$work/err" && ok ||
    fail "the failure is not named: $(cat "$work/err")"
  expect "is-member fails, path found later" 0 member \
    env "CORVEL_DIRECTORY_FAULTS=IsMember:$(g Staff):0x80070005" $faulty alice@corp.example.test 'CORP\Staff'
  expect "is-member fails, no path" 3 '' \
    env "CORVEL_DIRECTORY_FAULTS=IsMember:$(g Sales/Marketing):0x80070005" $faulty jsmith@corp.example.test 'CORP\Sales-Marketing'
  expect "group cannot be opened" 3 '' \
    env "CORVEL_DIRECTORY_FAULTS=Open:$(g Staff):0x80070005" $faulty alice@corp.example.test 'CORP\Staff'
  expect "lookup denied" 3 '' \
    env 'CORVEL_DIRECTORY_FAULTS=SetName:CORP\Staff:0x80070005' $faulty alice@corp.example.test 'CORP\Staff'
  printf 'bob@corp.example.test\tCORP\\Staff\nalice@corp.example.test\tCORP\\Staff\n' > "$work/f.in"
  CORVEL_DIRECTORY_FAULTS="Members:$(g Developers):0x8007203A" timeout 60 $faulty --batch < "$work/f.in" > "$work/out" 2>/dev/null
  status=$?
  [ "$status" -eq 0 ] && [ "$(cut -f3 "$work/out" | paste -sd,)" = "member,member" ] && ok ||
    fail "batch with a failing group below the path: exit $status, $(cat "$work/out")"
  printf 'frank@corp.example.test\tCORP\\Staff\nalice@corp.example.test\tCORP\\Staff\n' > "$work/f.in"
  CORVEL_DIRECTORY_FAULTS="Members:$(g Developers):0x8007203A" timeout 60 $faulty --batch < "$work/f.in" > "$work/out" 2>/dev/null
  status=$?
  [ "$status" -eq 3 ] && [ "$(cut -f3 "$work/out" | paste -sd,)" = "error,member" ] && ok ||
    fail "batch with a failure and no path: exit $status, $(cat "$work/out")"
  expect "upward read fails: walked down, same path" 0 "member
$(g Staff)
$(g Engineering)
$(g Developers)
$(u 'Alice Anders')" env "CORVEL_DIRECTORY_FAULTS=GetEx:$(g Engineering):0x8007203A" "$up_faulty" --why alice@corp.example.test 'CORP\Staff'
  expect "upward read and the walk down fail: no answer" 3 '' \
    env "CORVEL_DIRECTORY_FAULTS=Open:$(u 'Frank Ford'):0x8007203A;Members:$(g Developers):0x8007203A" \
    "$up_faulty" frank@corp.example.test 'CORP\Staff'
  expect "the user cannot be read upward: walked down" 0 member \
    env "CORVEL_DIRECTORY_FAULTS=Open:$(u 'Alice Anders'):0x80070005" "$up_faulty" alice@corp.example.test 'CORP\Staff'
else
  fail "the fault build $faulty is not built"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
