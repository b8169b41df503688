#!/usr/bin/env bash
# qzIsMember's three ways of deciding (--method=down, up, token) give the
# same verdict to every question, against the throw-away DC and against its
# export made with ldapsearch: a generated directory of security and
# distribution groups of every scope nested at random (loops too), primary
# groups set by hand, a group of 2,000 members, names holding '/', quotes
# and UTF-8. Every member's path is a chain of member links.
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZISMEMBER:-$build/tools/qzismember/qzIsMember}
require_program "$bin" qzIsMember
gen="$src/tests/integration/lib/methods.py"
seed=${CORVEL_METHODS_SEED:-11}
work=$CORVEL_DC_DIR/methods
mkdir -p "$work"
ldap() { "$@" -Q -Y GSSAPI -H "ldap://$CORVEL_DC_HOST"; }

if ! ldap ldapsearch -LLL -b "OU=Methods,$CORVEL_DC_BASE" -s base dn >/dev/null 2>&1; then
  python3 "$gen" ldif "$CORVEL_DC_BASE" "$CORVEL_DC_DNS_DOMAIN" "$seed" > "$work/load.ldif" &&
    ldap ldapmodify -a -f "$work/load.ldif" > "$work/load.log" 2>&1 ||
    { echo "FAIL: loading the generated directory"; tail -5 "$work/load.log"; exit 1; }
  # Another primary group, as an administrator sets it: the user is made a
  # member, then its primaryGroupID the group's token (the directory then
  # drops it from the member values).
  python3 "$gen" primaries "$CORVEL_DC_BASE" "$seed" | while IFS=$'\t' read -r user group; do
    token=$(ldap ldapsearch -LLL -o ldif-wrap=no -b "$group" -s base primaryGroupToken |
      sed -n 's/^primaryGroupToken: //p')
    printf 'dn: %s\nchangetype: modify\nadd: member\nmember: %s\n\n' "$group" "$user" |
      ldap ldapmodify -c > /dev/null 2>&1
    printf 'dn: %s\nchangetype: modify\nreplace: primaryGroupID\nprimaryGroupID: %s\n' "$user" "$token" |
      ldap ldapmodify > /dev/null || { echo "FAIL: primary group of $user"; exit 1; }
  done
fi
dc_export "$work/export.ldif" || { echo "FAIL: the export"; exit 1; }
python3 "$gen" questions "$CORVEL_DC_BASE" "$seed" > "$work/questions"

answers=()
for where in live export; do
  directory=$CORVEL_DIRECTORY
  [ "$where" = export ] && directory=ldif:$work/export.ldif
  for method in down up token; do
    CORVEL_DIRECTORY=$directory timeout 300 "$bin" --json --batch --method=$method \
      < "$work/questions" > "$work/$where-$method.json" 2> "$work/$where-$method.err"
    rc=$?
    [ "$rc" -le 1 ] || { echo "FAIL: $where, $method: exit $rc"; tail -3 "$work/$where-$method.err"; exit 1; }
    answers+=("$work/$where-$method.json")
  done
done
python3 "$gen" check "$work/export.ldif" "${answers[@]}"
