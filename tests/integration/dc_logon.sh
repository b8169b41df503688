#!/usr/bin/env bash
# Password logon through the logon plug-in against the throw-away domain
# controller: good and wrong passwords, a disabled account and an expired
# password, an unknown user (plug-in not loaded), DOMAIN\user taken as it is,
# a user principal name looked up and split, the LDAP package chosen and the
# Kerberos default. Uses the DC the test runner started (CORVEL_DC_DIR).
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZLOGONTEST:-$build/tools/qzauthtest/qzLogonTest}
require_program "$bin" qzLogonTest

pw=$CORVEL_DC_USER_PASSWORD
dom=$CORVEL_DC_DOMAIN
err=$CORVEL_DC_DIR/logon.err
passed=0
failed=0

# Accounts only this test needs; creating them twice is harmless.
tool() {
  samba-tool "$@" -H "ldap://$CORVEL_DC_HOST" --use-kerberos=required \
    -s "$CORVEL_DC_DIR/samba/etc/smb.conf" >> "$CORVEL_DC_DIR/logon-fixtures.log" 2>&1
}
tool user create logondis "$pw" --userou="OU=People" || true
tool user disable logondis || true
tool user create logonexp "$pw" --userou="OU=People" --must-change-at-next-login || true

# check NAME WANT_RESULT PASSWORD USER [PACKAGE]: runs one logon (password on
# standard input) and compares its result; the password must not reach the log.
check() {
  local name=$1 want=$2 pass=$3 out rc
  shift 3
  out=$(printf '%s\n' "$pass" | timeout 60 "$bin" logon "$@" 2>"$err")
  rc=$?
  if [ "$rc" -eq "$want" ] && { [ -z "$pass" ] || ! grep -qF -- "$pass" "$err"; }; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: exit $rc (want $want): $out"
    sed 's/^/    err: /' "$err" | tail -n 8
  fi
}

# has NAME TEXT / lacks NAME TEXT: about the log of the last check.
has() {
  if grep -qF -- "$2" "$err"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL $1: no '$2' in the log"; sed 's/^/    err: /' "$err"; fi
}
lacks() {
  if ! grep -qF -- "$2" "$err"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL $1: '$2' in the log"; sed 's/^/    err: /' "$err"; fi
}

# Kerberos, the default package.
check "good password" 0 "$pw" "$dom\\alice"
lacks "DOMAIN\\user is not looked up" "findUser"
has "DOMAIN\\user split" "authenticateUser domain: $dom, user: alice"
check "wrong password" 1 "not-$pw" "$dom\\alice"
check "disabled account" 2 "$pw" "$dom\\logondis"
check "expired password" 2 "$pw" "$dom\\logonexp"
check "unknown principal name" 1 "$pw" "nobody@$CORVEL_DC_DNS_DOMAIN"
has "unknown user logged" "user \"nobody@$CORVEL_DC_DNS_DOMAIN\" could not be found"
lacks "plug-in not loaded for an unknown user" "authenticateUser domain:"
check "principal name looked up" 0 "$pw" "bob@$CORVEL_DC_DNS_DOMAIN"
has "principal name split" "authenticateUser domain: $dom, user: bob"
check "domain never looked up" 0 "$pw" "NOSUCH\\bob"
has "unknown domain passed on" "authenticateUser domain: NOSUCH, user: bob"
lacks "unknown domain not looked up" "findUser"

# The LDAP package: a simple bind over StartTLS with the DC's certificate.
check "LDAP package good" 0 "$pw" "$dom\\carol" LDAP
check "LDAP package wrong" 1 "x$pw" "$dom\\carol" LDAP
check "LDAP package disabled" 2 "$pw" "$dom\\logondis" LDAP
check "LDAP package empty password" 1 "" "$dom\\carol" LDAP
# Not chosen: Kerberos, which knows no such user.
check "no package, unknown user" 1 "$pw" "$dom\\nobody"
check "unknown package" 3 "$pw" "$dom\\carol" NoSuchPackage

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
