#!/usr/bin/env bash
# The two backends answer alike: a generated directory (random nesting with
# loops, names with every RFC 4514 special character, '/' and UTF-8, display
# names holding '@') is loaded into the throw-away DC and exported with
# ldapsearch as a user would; 150 questions, each name in one of its forms
# (DOMAIN\name, principal name, DN, canonical name, display name), are asked
# of the DC and of the export. Report lines and exit status must be the same.
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZAUTHTEST:-$build/tools/qzauthtest/qzAuthTest}
require_program "$bin" qzAuthTest
gen="$src/tests/integration/lib/differential.py"
seed=${CORVEL_DIFFERENTIAL_SEED:-7}
work=$CORVEL_DC_DIR/differential
mkdir -p "$work"

# Loaded once per DC (a second run finds it there).
if ! ldapsearch -LLL -Q -Y GSSAPI -H "ldap://$CORVEL_DC_HOST" -b "OU=Differential,$CORVEL_DC_BASE" \
     -s base dn >/dev/null 2>&1; then
  python3 "$gen" ldif "$CORVEL_DC_BASE" "$CORVEL_DC_DNS_DOMAIN" "$seed" > "$work/load.ldif" &&
    ldapmodify -a -Q -Y GSSAPI -H "ldap://$CORVEL_DC_HOST" -f "$work/load.ldif" > "$work/load.log" 2>&1 ||
    { echo "FAIL: loading the generated directory"; tail -5 "$work/load.log"; exit 1; }
fi
dc_export "$work/export.ldif" || { echo "FAIL: the export"; exit 1; }
python3 "$gen" questions "$CORVEL_DC_BASE" "$CORVEL_DC_DNS_DOMAIN" "$seed" "$CORVEL_DC_DOMAIN" \
  > "$work/questions"

live=$CORVEL_DIRECTORY
passed=0
failed=0
members=0
while IFS=$'\t' read -r user group; do
  from_dc=$(CORVEL_DIRECTORY=$live timeout 60 "$bin" "$user" "$group" 2>/dev/null)
  rc_dc=$?
  from_file=$(CORVEL_DIRECTORY=ldif:$work/export.ldif timeout 60 "$bin" "$user" "$group" 2>/dev/null)
  rc_file=$?
  if [ "$from_dc" = "$from_file" ] && [ "$rc_dc" -eq "$rc_file" ] && [ "$rc_dc" -ne 124 ]; then
    passed=$((passed + 1))
    [ "$(printf '%s\n' "$from_dc" | tail -n 1)" = 'A member ...' ] && members=$((members + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: '$user' in '$group'"
    diff <(printf '%s\n' "$from_dc" "exit $rc_dc") <(printf '%s\n' "$from_file" "exit $rc_file") |
      sed 's/^/    /'
  fi
done < "$work/questions"

# The questions must reach both verdicts, or the comparison proves little.
echo "$passed passed, $failed failed ($members members among them)"
[ "$failed" -eq 0 ] && [ "$members" -gt 0 ] && [ "$members" -lt "$passed" ]
