#!/usr/bin/env bash
# A domain-joined host that configures nothing but a realm and DNS: no
# CORVEL_DIRECTORY, no ldap.conf (LDAPNOINIT), a Kerberos ticket, krb5.conf
# naming the realm and a resolver that asks the DC's own DNS (scripts/dc-run
# gives the test a private /etc/resolv.conf and /etc/hosts). qzAuthTest finds
# the DC through the DNS SRV records of the ticket's realm, and the whole
# membership suite passes that way. A realm without records fails clearly
# and at once.
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZAUTHTEST:-$build/tools/qzauthtest/qzAuthTest}
require_program "$bin" qzAuthTest
failed=0

# The membership checks themselves, found without configuration.
CORVEL_DC_ZERO_CONFIG=1 bash "$(dirname "$0")/dc_membership.sh" || failed=$((failed + 1))

unset CORVEL_DIRECTORY
export LDAPNOINIT=1
err=$CORVEL_DC_DIR/zero.err
out=$(timeout 60 "$bin" "alice@$CORVEL_DC_DNS_DOMAIN" 'CORP\Sales' 2>"$err")
for want in "ldap: no directory configured; the domain is $CORVEL_DC_DNS_DOMAIN (Kerberos)" \
            "ldap: DNS SRV _ldap._tcp.dc._msdcs.$CORVEL_DC_DNS_DOMAIN: $CORVEL_DC_HOST:389" \
            "ldap: DNS SRV _gc._tcp.$CORVEL_DC_DNS_DOMAIN: $CORVEL_DC_HOST:3268" \
            "ldap: connected to $CORVEL_DC_HOST:3268" "ldap: connected to $CORVEL_DC_HOST:389"; do
  grep -qF -- "$want" "$err" || { echo "FAIL: no log line '$want'"; failed=$((failed + 1)); }
done
[ "$(printf '%s\n' "$out" | tail -n 1)" = 'A member ...' ] || { echo "FAIL: verdict: $out"; failed=$((failed + 1)); }

# A realm whose domain has no SRV records, and no ticket: the failure of a
# machine in no domain, in bounded time.
sed "s/default_realm = .*/default_realm = NORECORDS.TEST/" "$KRB5_CONFIG" > "$CORVEL_DC_DIR/norecords.conf"
start=$SECONDS
out=$(KRB5_CONFIG=$CORVEL_DC_DIR/norecords.conf KRB5CCNAME=FILE:$CORVEL_DC_DIR/no-ticket \
      timeout 60 "$bin" "alice@$CORVEL_DC_DNS_DOMAIN" 'CORP\Sales' 2>"$err")
rc=$?
[ "$rc" -eq 255 ] && [ "$(printf '%s\n' "$out" | tail -n 1)" = "error: unable to find the user \"alice@$CORVEL_DC_DNS_DOMAIN\"" ] &&
  grep -qF "error initing the name translator, error 0x8007054B" "$err" &&
  grep -qF "ldap: DNS SRV _ldap._tcp.dc._msdcs.norecords.test: no records" "$err" ||
  { echo "FAIL: no records: exit $rc"; printf '%s\n' "$out"; tail -5 "$err"; failed=$((failed + 1)); }
[ $((SECONDS - start)) -lt 20 ] || { echo "FAIL: no records took $((SECONDS - start)) s"; failed=$((failed + 1)); }

echo "zero configuration: $failed failed"
[ "$failed" -eq 0 ]
