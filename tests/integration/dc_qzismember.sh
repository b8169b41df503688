#!/usr/bin/env bash
# qzIsMember against the throw-away domain controller (scripts/samba-dc):
# every exit status (a DC that cannot be reached is 3, never 1), the path on
# a three-deep chain, through a loop, through a primary group and through a
# DN holding '/', JSON read back by a parser with names holding quotes,
# backslashes and UTF-8, and a batch of a few hundred mixed questions that
# answers exactly as the same questions asked one at a time. Uses the DC the
# test runner started (CORVEL_DC_DIR).
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZISMEMBER:-$build/tools/qzismember/qzIsMember}
require_program "$bin" qzIsMember

base=$CORVEL_DC_BASE
d=$CORVEL_DC_DNS_DOMAIN
g() { echo "CN=$1,OU=Groups,$base"; }
p() { echo "CN=$1,OU=People,$base"; }
work=$CORVEL_DC_DIR/qzismember
mkdir -p "$work"
passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# expect NAME STATUS STDOUT ARGS...: exit status and the whole standard output.
expect() {
  local name=$1 want_status=$2 want_out=$3 out status
  shift 3
  out=$(timeout 60 "$bin" "$@" </dev/null 2>"$work/err")
  status=$?
  if [ "$status" -eq "$want_status" ] && [ "$out" = "$want_out" ]; then ok; else
    fail "$name: exit $status (want $want_status), output:"
    printf '%s\n' "$out" | sed 's/^/    /'
    tail -n 5 "$work/err" | sed 's/^/    err: /'
  fi
}

# A user and a group whose names JSON must escape; loaded once per DC.
zoe='Zoë "Q" Back\slash'
zoe_dn="CN=Zoë \\\"Q\\\" Back\\\\slash,OU=People,$base"
zoe_group="CN=Zoë's Group,OU=Groups,$base"
{
  printf 'dn:: %s\nobjectClass: user\nsAMAccountName: zoe\nuserPrincipalName: zoe@%s\n\n' \
    "$(printf '%s' "$zoe_dn" | base64 -w0)" "$d"
  printf 'dn:: %s\nobjectClass: group\nsAMAccountName: Zoes Group\nmember:: %s\n\n' \
    "$(printf '%s' "$zoe_group" | base64 -w0)" "$(printf '%s' "$zoe_dn" | base64 -w0)"
} > "$work/zoe.ldif"
ldapadd -c -Q -Y GSSAPI -H "ldap://$CORVEL_DC_HOST" -f "$work/zoe.ldif" >"$work/zoe.log" 2>&1
grep -q 'Already exists\|^adding' "$work/zoe.log" || { cat "$work/zoe.log"; fail "loading $zoe"; }

# 1. Exit statuses.
expect "member" 0 member "alice@$d" 'CORP\Sales'
expect "not a member" 1 'not a member' "alice@$d" 'CORP\Level0'
expect "loop without the user" 1 'not a member' "alice@$d" 'CORP\LoopA'
expect "unknown user" 2 '' "nobody@$d" 'CORP\Sales'
expect "unknown domain" 2 '' 'NODOMAIN\alice' 'CORP\Sales'
expect "unknown group" 2 '' "alice@$d" 'CORP\NoSuchGroup'
expect "group that is a user" 2 '' "alice@$d" 'CORP\bob'
expect "filter metacharacters" 2 '' '*)(objectClass=*' 'CORP\Sales'
CORVEL_DIRECTORY=ldap://127.0.0.1:1 expect "DC cannot be reached" 3 '' "alice@$d" 'CORP\Sales'
grep -q 'could not look up the user' "$work/err" && ok || fail "an unreachable DC is not named as such"

# 2. The path, from the group down to the user.
expect "three levels down" 0 "member
$(g Level0)
$(g Level1)
$(g Level2)
$(g Level3)
$(p 'Bob Test')" --why "bob@$d" 'CORP\Level0'
expect "through a loop" 0 "member
$(g LoopA)
$(g LoopB)
$(p 'Carol Test')" --why 'CORP\carol' 'CORP\LoopA'
expect "through a primary group" 0 "member
$(g PosixGrand)
$(g PosixParent)
$(g PosixStaff)
$(p 'Grace Test')" --why "grace@$d" 'CORP\PosixGrand'
expect "primary group Domain Users" 0 "member
CN=Domain Users,CN=Users,$base
$(p 'Alice Test')" --why "alice@$d" 'CORP\Domain Users'
expect "slash in the group DN" 0 "member
$(g 'R/D Team')
$(p 'Erin Test')" --why 'CORP\erin' 'CORP\RnD Team'

# 3. JSON read back by a parser.
json() { # NAME STATUS CHECK ARGS...: CHECK is Python over the answer j and E
  local name=$1 want_status=$2 check=$3 status
  shift 3
  timeout 60 "$bin" --json "$@" </dev/null >"$work/json" 2>/dev/null
  status=$?
  if [ "$status" -eq "$want_status" ] && python3 -c "
import json, os, sys
E = os.environ
lines = open(sys.argv[1], encoding='utf-8').read().splitlines()
assert len(lines) == 1, lines
j = json.loads(lines[0])
assert $check, j" "$work/json"; then ok; else
    fail "$name: exit $status (want $want_status)"; sed 's/^/    /' "$work/json"
  fi
}
export ZOE_DN=$zoe_dn ZOE_GROUP=$zoe_group ODD='nö"b\ody@x'
json "UTF-8, quotes and backslashes in DNs" 0 \
  "j['member'] is True and j['userDN'] == E['ZOE_DN'] and j['path'] == [E['ZOE_GROUP'], E['ZOE_DN']]" \
  "zoe@$d" 'CORP\Zoes Group'
json "the same user by DN" 0 "j['user'] == E['ZOE_DN'] and j['groupDN'] == E['ZOE_GROUP']" \
  "$zoe_dn" "$zoe_group"
json "odd name not found" 2 "j['user'] == E['ODD'] and j['member'] is None and j['userDN'] is None" \
  "$ODD" 'CORP\Sales'
CORVEL_DIRECTORY=ldap://127.0.0.1:1 json "unreachable DC" 3 \
  "j['member'] is None and j['error'] and '0x' in j['error']" "alice@$d" 'CORP\Sales'

# 4. A batch of mixed questions answers as the same questions one at a time.
users=("alice@$d" "bob@$d" 'CORP\carol' "erin@$d" 'CORP\frank' "grace@$d" "zoe@$d" "nobody@$d")
groups=('CORP\Sales' 'CORP\Level0' 'CORP\Level1' 'CORP\Level3' 'CORP\LoopA' 'CORP\LoopB'
        'CORP\RnD Team' 'CORP\Empty' 'CORP\PosixGrand' 'CORP\PosixStaff' 'CORP\Domain Users'
        'CORP\Users' 'Level2' "$(g Level1)" 'CORP\NoSuchGroup' 'CORP\alice')
: > "$work/questions"
for curUser in "${users[@]}"; do for curGroup in "${groups[@]}"; do
  printf '%s\t%s\n' "$curUser" "$curGroup" >> "$work/questions"
done; done
# 256 questions, in an order that mixes users and groups.
for round in 1 2; do shuf --random-source=<(yes) "$work/questions"; done > "$work/batch.in"
printf 'a malformed line\n' >> "$work/batch.in"
: > "$work/single.json"
while IFS= read -r curLine; do
  if [[ $curLine == *$'\t'* ]]; then
    timeout 60 "$bin" --json "${curLine%%$'\t'*}" "${curLine#*$'\t'}" </dev/null >> "$work/single.json" 2>/dev/null
  fi
done < "$work/batch.in"
timeout 300 "$bin" --batch --json < "$work/batch.in" > "$work/batch.json" 2>"$work/batch.err"
status=$?
last=$(tail -n 1 "$work/batch.json")
if [ "$status" -eq 65 ] && cmp -s <(head -n -1 "$work/batch.json") "$work/single.json" &&
   python3 -c 'import json,sys; j = json.loads(sys.argv[1]); assert j["member"] is None and "no tab" in j["error"]' "$last"; then
  ok
else
  fail "batch (exit $status, want 65) differs from the single questions:"
  diff <(head -n -1 "$work/batch.json") "$work/single.json" | head -10
fi
python3 - "$work/single.json" <<'EOF' && ok || fail "the batch does not mix members, non-members and unknown names"
import json, sys
seen = {json.loads(line)["member"] for line in open(sys.argv[1], encoding="utf-8")}
assert seen == {True, False, None}, seen
EOF

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
