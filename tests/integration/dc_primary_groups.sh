#!/usr/bin/env bash
# Membership as Active Directory defines it, against the throw-away domain
# controller and against its LDIF export (made with ldapsearch, as a user
# would): primary groups (Domain Users for every user, a primary group an
# administrator changed, the groups that nest either) and members that are
# no user and no group (the builtin Users group holds well-known principals).
# Both directories must give the same report and exit status, and the
# verdict AD means. Uses the DC the test runner started (CORVEL_DC_DIR).
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZAUTHTEST:-$build/tools/qzauthtest/qzAuthTest}
logon=$build/tools/qzauthtest/qzLogonTest
require_program "$bin" qzAuthTest
require_program "$logon" qzLogonTest

export_file=$CORVEL_DC_DIR/export.ldif
dc_export "$export_file" || { echo "FAIL: the export"; exit 1; }
live=$CORVEL_DIRECTORY
file=ldif:$export_file
passed=0
failed=0

# ask USER GROUP WANT: the report and the exit status from both directories
# are the same, and the verdict is WANT.
ask() {
  local user=$1 group=$2 want=$3 from_dc from_file rc_dc rc_file
  from_dc=$(CORVEL_DIRECTORY=$live timeout 60 "$bin" "$user" "$group" 2>/dev/null)
  rc_dc=$?
  from_file=$(CORVEL_DIRECTORY=$file timeout 60 "$bin" "$user" "$group" 2>/dev/null)
  rc_file=$?
  if [ "$from_dc" = "$from_file" ] && [ "$rc_dc" -eq "$rc_file" ] &&
     [ "$(printf '%s\n' "$from_dc" | tail -n 1)" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $user in $group: want '$want'"
    printf '%s\n' "DC (exit $rc_dc):" "$from_dc" "LDIF export (exit $rc_file):" "$from_file" |
      sed 's/^/    /'
  fi
}

# groups USER MODE WANT: the listing from both directories.
groups() {
  local user=$1 mode=$2 want=$3 from_dc from_file
  from_dc=$(CORVEL_DIRECTORY=$live timeout 60 "$logon" groups "$user" "$mode" </dev/null 2>/dev/null |
            paste -sd' ')
  from_file=$(CORVEL_DIRECTORY=$file timeout 60 "$logon" groups "$user" "$mode" </dev/null \
              2>/dev/null | paste -sd' ')
  if [ "$from_dc" = "$want" ] && [ "$from_file" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL groups of $user ($mode): DC '$from_dc', LDIF export '$from_file', want '$want'"
  fi
}

yes='A member ...'
no='Not a member...'
d=$CORVEL_DC_DNS_DOMAIN

# Domain Users is every user's primary group; the builtin Users group nests
# it beside well-known principals (foreign security principals).
ask "alice@$d" 'CORP\Domain Users' "$yes"
ask "alice@$d" 'CORP\Users' "$yes"
ask 'CORP\bob' "CN=Domain Users,CN=Users,$CORVEL_DC_BASE" "$yes"
# grace's primary group is PosixStaff: she is in no member value of it.
ask "grace@$d" 'CORP\PosixStaff' "$yes"
ask "grace@$d" 'CORP\PosixParent' "$yes"
ask "grace@$d" 'CORP\PosixGrand' "$yes"
ask "grace@$d" 'CORP\Domain Users' "$yes"
ask "grace@$d" 'CORP\Users' "$yes"
# Non-members stay non-members, and the other fixtures answer as before.
ask "alice@$d" 'CORP\PosixGrand' "$no"
ask "grace@$d" 'CORP\Sales' "$no"
ask "bob@$d" 'CORP\Level0' "$yes"
ask "carol@$d" 'CORP\LoopA' "$yes"
ask "alice@$d" 'CORP\Empty' "$no"

groups 'CORP\grace' recursive "Domain Users PosixGrand PosixParent PosixStaff Users"
groups 'CORP\grace' direct "Domain Users PosixStaff"
groups 'CORP\alice' recursive "Domain Users Sales Users"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
