#!/usr/bin/env bash
# qzAuthTest against the throw-away domain controller (scripts/samba-dc):
# name forms, direct and nested membership, loops, '/' in a DN, unknown and
# hostile names. Uses the DC the test runner started (CORVEL_DC_DIR).
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZAUTHTEST:-$build/tools/qzauthtest/qzAuthTest}
require_program "$bin" qzAuthTest

base=$CORVEL_DC_BASE
groups="OU=Groups,$base"
people="OU=People,$base"
passed=0
failed=0

# check NAME USER GROUP EXIT VERDICT: runs the program with a time bound and
# compares its exit status and its last report line.
check() {
  local name=$1 user=$2 group=$3 want_rc=$4 want=$5 out rc
  out=$(timeout 60 "$bin" "$user" "$group" 2>"$CORVEL_DC_DIR/last.err")
  rc=$?
  local last
  last=$(printf '%s\n' "$out" | tail -n 1)
  if [ "$rc" -eq "$want_rc" ] && [ "$last" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: exit $rc (want $want_rc), last line '$last' (want '$want')"
    printf '%s\n' "$out" | sed 's/^/    /'
    tail -n 5 "$CORVEL_DC_DIR/last.err" | sed 's/^/    err: /'
  fi
}

# contains NAME USER GROUP TEXT: the report holds the line TEXT.
contains() {
  local name=$1 user=$2 group=$3 want=$4 out
  out=$(timeout 60 "$bin" "$user" "$group" 2>/dev/null)
  if printf '%s\n' "$out" | grep -qxF -- "$want"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: no line '$want' in:"
    printf '%s\n' "$out" | sed 's/^/    /'
  fi
}

yes='A member ...'
no='Not a member...'

# Name forms of the user and the group.
contains "UPN resolves to the DN" 'alice@corp.example.test' 'CORP\Sales' \
  "Found user as\"CN=Alice Test,$people\""
contains "DOMAIN\\name user" 'CORP\alice' 'CORP\Sales' "Found user as\"CN=Alice Test,$people\""
contains "DOMAIN\\name group" 'CORP\alice' 'CORP\Sales' "Found group as\"CN=Sales,$groups\""
contains "implicit UPN (sAMAccountName@dnsRoot)" 'alice@CORP.EXAMPLE.TEST' 'CORP\Sales' \
  "Found user as\"CN=Alice Test,$people\""
contains "group by DN" 'CORP\alice' "cn=sales,ou=groups,$base" "Found group as\"CN=Sales,$groups\""
contains "DNS domain as DOMAIN part" 'corp.example.test\bob' 'CORP\Sales' \
  "Found user as\"CN=Bob Test,$people\""

# Membership.
check "direct member" 'alice@corp.example.test' 'CORP\Sales' 0 "$yes"
check "direct member, group by DN" 'CORP\alice' "CN=Sales,$groups" 0 "$yes"
check "three levels down" 'bob@corp.example.test' 'CORP\Level0' 0 "$yes"
check "three levels down, group by DN" 'CORP\bob' "CN=Level0,$groups" 0 "$yes"
check "user beside nested groups" 'erin@corp.example.test' 'CORP\Level0' 0 "$yes"
check "non-member of a nested tree" 'alice@corp.example.test' 'CORP\Level0' 0 "$no"
check "member of a deeper level only" 'frank@corp.example.test' 'CORP\Level1' 0 "$yes"
check "not a member of a level below" 'bob@corp.example.test' 'CORP\Sales' 0 "$no"
check "through a loop" 'carol@corp.example.test' 'CORP\LoopA' 0 "$yes"
check "loop without the user ends" 'alice@corp.example.test' 'CORP\LoopA' 0 "$no"
check "slash in the group DN" 'erin@corp.example.test' "CN=R/D Team,$groups" 0 "$yes"
check "slash group by DOMAIN\\name" 'CORP\erin' 'CORP\RnD Team' 0 "$yes"
check "slash group, non-member" 'bob@corp.example.test' "CN=R/D Team,$groups" 0 "$no"
check "empty group" 'alice@corp.example.test' 'CORP\Empty' 0 "$no"

# Unknown and hostile names.
check "unknown user" 'nobody@corp.example.test' 'CORP\Sales' 255 \
  'error: unable to find the user "nobody@corp.example.test"'
check "unknown group" 'alice@corp.example.test' 'CORP\NoSuchGroup' 255 \
  'error: unable to find the group "CORP\NoSuchGroup"'
check "unknown domain" 'NODOMAIN\alice' 'CORP\Sales' 255 \
  'error: unable to find the user "NODOMAIN\alice"'
check "unknown DN" 'alice@corp.example.test' "CN=Nothing,$groups" 255 \
  "error: unable to find the group \"CN=Nothing,$groups\""
check "filter metacharacters as user" '*)(objectClass=*' 'CORP\Sales' 255 \
  'error: unable to find the user "*)(objectClass=*"'
check "wildcard UPN" '*@corp.example.test' 'CORP\Sales' 255 \
  'error: unable to find the user "*@corp.example.test"'
check "wildcard sAMAccountName" 'CORP\*' 'CORP\Sales' 255 'error: unable to find the user "CORP\*"'
check "filter metacharacters as group" 'alice@corp.example.test' 'CORP\Sales)(cn=*' 255 \
  'error: unable to find the group "CORP\Sales)(cn=*"'
check "wildcard domain" '*\alice' 'CORP\Sales' 255 'error: unable to find the user "*\alice"'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
