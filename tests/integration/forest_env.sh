#!/usr/bin/env bash
# The test forest itself (scripts/samba-forest, run by scripts/forest-run),
# before any test leans on it: both DCs of CORP serve the same fixtures over
# GSSAPI, the DNS has each site's records, a DC places the client in the
# site its address says, the far DC is really far, a CORP ticket reaches the
# other forest, CORP's groups hold the other forest's members, and with
# dc1 killed dc2 alone still serves names, tickets and LDAP; then dc1 comes
# back.
set -uo pipefail

. "$(dirname "$0")/lib/forest_env.sh"
passed=0
failed=0

# check WHAT COMMAND...: runs the check, counts it, says what failed.
check() {
  local what=$1; shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}

dc1=$CORVEL_FOREST_DC1_HOST
dc2=$CORVEL_FOREST_DC2_HOST
other=$CORVEL_FOREST_OTHER_HOST
base=$CORVEL_FOREST_BASE
d=$CORVEL_FOREST_DNS_DOMAIN
delay=$CORVEL_FOREST_FAR_DELAY_MS

# --- Both DCs of CORP, over GSSAPI, with the same objects ---------------------
# The groups and their members, and the changed primary group: the fixtures
# of scripts/samba-dc and of tests/fixtures/forest.
fixtures() {
  forest_ldap "$1" -b "$base" '(|(objectClass=group)(sAMAccountName=grace))' \
    sAMAccountName member primaryGroupID | grep -v '^$' | sort
}
same_fixtures() {
  local one two
  one=$(fixtures "$dc1") && two=$(fixtures "$dc2") || return 1
  for want in 'sAMAccountName: Level0' 'sAMAccountName: ForeignAccess' 'sAMAccountName: LoopB' \
              'member: CN=LoopB,OU=Groups,DC=corp,DC=example,DC=test'; do
    grep -qxF "$want" <<< "$one" || { echo "    $dc1 lacks '$want'"; return 1; }
  done
  [ "$one" = "$two" ] || { diff <(echo "$one") <(echo "$two") | head -n 10 | sed 's/^/    /'; return 1; }
}
check "$dc1 and $dc2 (through the relay) hold the same fixtures" same_fixtures

# --- DNS: the domain's and each site's records; dc2 is the relay -------------
srv_is() { # NAME WANT...: the SRV targets, sorted
  local got want
  got=$(forest_dns SRV "$1" | awk '{print $4}' | paste -sd' ')
  shift
  want=$(printf '%s.\n' "$@" | sort | paste -sd' ')
  [ "$got" = "$want" ] || { echo "    got '$got', want '$want'"; return 1; }
}
check "dc1 is SiteA's DC"         srv_is "_ldap._tcp.SiteA._sites.dc._msdcs.$d" "$dc1"
check "dc2 is SiteB's DC"         srv_is "_ldap._tcp.SiteB._sites.dc._msdcs.$d" "$dc2"
check "dc1 is SiteA's GC"         srv_is "_gc._tcp.SiteA._sites.$d" "$dc1"
check "dc2 is SiteB's GC"         srv_is "_gc._tcp.SiteB._sites.$d" "$dc2"
check "SiteB's KDC is dc2"        srv_is "_kerberos._tcp.SiteB._sites.dc._msdcs.$d" "$dc2"
check "the domain's DCs"          srv_is "_ldap._tcp.dc._msdcs.$d" "$dc1" "$dc2"
check "the forest's GCs"          srv_is "_gc._tcp.$d" "$dc1" "$dc2"
check "the other forest's DC, forwarded by CORP's DNS" \
  srv_is "_ldap._tcp.dc._msdcs.$CORVEL_FOREST_OTHER_DNS_DOMAIN" "$other"
a_is() { [ "$(forest_dns A "$1")" = "$2" ]; }
check "$dc2 resolves to the relay ($CORVEL_FOREST_DC2_ADDR)" a_is "$dc2" "$CORVEL_FOREST_DC2_ADDR"
check "$dc1 resolves to $CORVEL_FOREST_DC1_IP" a_is "$dc1" "$CORVEL_FOREST_DC1_IP"

# --- The LDAP ping: the client's site, from its source address ----------------
# site_is MODE SOURCE SITE CLOSEST_DC: both DCs name the client's site (""
# for no subnet), both are GCs, and only the DC of that site is the closest.
site_is() {
  local mode=$1 source=$2 site=$3 closest=$4 name answer
  forest_client "$mode" > /dev/null || return 1
  for name in DC1 DC2; do
    local addr_var=CORVEL_FOREST_${name}_ADDR host_var=CORVEL_FOREST_${name}_HOST want_closest=0
    [ "$closest" = "$name" ] && want_closest=1
    answer=$(forest_ping "${!addr_var}") || return 1
    if [ "$(forest_field source <<< "$answer")" != "$source" ] ||
       [ "$(forest_field client_site <<< "$answer")" != "$site" ] ||
       [ "$(forest_field host <<< "$answer")" != "${!host_var}" ] ||
       [ "$(forest_field gc <<< "$answer")" != 1 ] ||
       [ "$(forest_field closest <<< "$answer")" != "$want_closest" ]; then
      echo "    $name answered: $(paste -sd' ' <<< "$answer")"
      return 1
    fi
  done
}
check "a client in SiteA's subnet is in SiteA, dc1 closest" \
  site_is near "$CORVEL_FOREST_CLIENT_NEAR_IP" SiteA DC1
check "a client in SiteB's subnet is in SiteB, dc2 closest" \
  site_is far "$CORVEL_FOREST_CLIENT_FAR_IP" SiteB DC2
check "a client in no subnet is in no site, no DC closest" \
  site_is none "$CORVEL_FOREST_CLIENT_NONE_IP" "" none
forest_client near > /dev/null

# --- The far DC is far: the relay's delay, both ways, UDP and TCP -------------
far() {
  local near_ms far_ms t0 t1 tcp_ms
  near_ms=$(forest_ping "$CORVEL_FOREST_DC1_ADDR" | forest_field ms)
  far_ms=$(forest_ping "$CORVEL_FOREST_DC2_ADDR" | forest_field ms)
  # An anonymous rootDSE read over TCP: the relay holds the first bytes a
  # round trip for the handshake, then the request and the answer each pay
  # the delay.
  t0=$(date +%s%N)
  ldapsearch -LLL -x -H "ldap://$dc2" -b "" -s base dnsHostName > /dev/null || return 1
  t1=$(date +%s%N)
  tcp_ms=$(( (t1 - t0) / 1000000 ))
  echo "    LDAP ping: dc1 $near_ms ms, dc2 $far_ms ms; rootDSE read on dc2 over TCP: $tcp_ms ms"
  awk -v n="$near_ms" -v f="$far_ms" -v t="$tcp_ms" -v d="$delay" \
    'BEGIN { exit !(n < d && f >= 2 * d && f < 2 * d + 500 && t >= 4 * d) }'
}
check "dc2 is ${delay} ms away each way, dc1 is not" far

# --- The other forest, with a CORP ticket ---------------------------------------
sid_of() { # HOST DN: objectSid as ldapsearch prints it (base64)
  forest_ldap "$1" -b "$2" -s base objectSid | sed -n 's/^objectSid:: //p'
}
ob=$CORVEL_FOREST_OTHER_BASE
olga=$(sid_of "$other" "CN=Olga Test,OU=People,$ob")
staff=$(sid_of "$other" "CN=OtherStaff,OU=Groups,$ob")
otto=$(sid_of "$other" "CN=Otto Test,OU=People,$ob")
cross_realm() {
  [ -n "$olga" ] && [ -n "$staff" ] && [ -n "$otto" ] &&
    grep -q "krbtgt/$CORVEL_FOREST_OTHER_REALM@$CORVEL_FOREST_REALM" <<< "$(klist)"
}
check "CORP's administrator reads $other over GSSAPI (cross-realm ticket)" cross_realm

# --- Foreign members: OTHER's olga and OtherStaff in CORP's groups, on both DCs
fsp_dn() { echo "CN=$1,CN=ForeignSecurityPrincipals,$base"; }
foreign() {
  local host=$1 access mid leaf groups fsps
  # ForeignAccess > ForeignMid > ForeignLeaf > olga's principal.
  access=$(forest_ldap "$host" -b "CN=ForeignAccess,OU=Groups,$base" -s base member)
  mid=$(forest_ldap "$host" -b "CN=ForeignMid,OU=Groups,$base" -s base member)
  grep -qxF "member: CN=ForeignMid,OU=Groups,$base" <<< "$access" &&
    grep -qxF "member: CN=ForeignLeaf,OU=Groups,$base" <<< "$mid" || return 1
  leaf=$(forest_ldap "$host" -b "CN=ForeignLeaf,OU=Groups,$base" -s base member groupType)
  groups=$(forest_ldap "$host" -b "CN=ForeignGroups,OU=Groups,$base" -s base member groupType)
  if ! { grep -qxF "member: $(fsp_dn "$CORVEL_FOREST_OLGA_SID")" <<< "$leaf" &&
         grep -qxF "groupType: -2147483644" <<< "$leaf" &&
         grep -qxF "member: $(fsp_dn "$CORVEL_FOREST_OTHERSTAFF_SID")" <<< "$groups" &&
         grep -qxF "groupType: -2147483644" <<< "$groups"; }; then
    printf '%s\n' "$leaf" "$groups" | sed 's/^/    /'
    return 1
  fi
  # The principals carry the other forest's SIDs; otto has none here.
  fsps=$(forest_ldap "$host" -b "CN=ForeignSecurityPrincipals,$base" '(objectClass=foreignSecurityPrincipal)' objectSid \
    | sed -n 's/^objectSid:: //p')
  grep -qxF "$olga" <<< "$fsps" && grep -qxF "$staff" <<< "$fsps" && ! grep -qxF "$otto" <<< "$fsps"
}
check "$dc1: ForeignAccess > ForeignMid > ForeignLeaf > OTHER\\olga, ForeignGroups > OTHER\\OtherStaff" foreign "$dc1"
check "$dc2: the same foreign members" foreign "$dc2"

# --- dc1 down: dc2 alone serves DNS, Kerberos and LDAP -----------------------------
dc1_down() {
  kill "$CORVEL_FOREST_DC1_PID" 2>/dev/null || return 1
  for _ in $(seq 1 100); do
    kill -0 "$CORVEL_FOREST_DC1_PID" 2>/dev/null || break
    sleep 0.1
  done
  ! kill -0 "$CORVEL_FOREST_DC1_PID" 2>/dev/null &&
    ! timeout 2 bash -c "exec 3<>/dev/tcp/$CORVEL_FOREST_DC1_IP/389" 2>/dev/null
}
check "dc1 stops" dc1_down
fresh=FILE:$CORVEL_FOREST_DIR/after-dc1.ccache
new_ticket() {
  KRB5CCNAME=$fresh kinit "Administrator@$CORVEL_FOREST_REALM" <<< "$CORVEL_FOREST_ADMIN_PASSWORD" > /dev/null
}
check "a new ticket from dc2's KDC" new_ticket
check "the domain's DCs still resolve (dc2's DNS)" srv_is "_ldap._tcp.dc._msdcs.$d" "$dc1" "$dc2"
dc2_alone() {
  local level0
  level0=$(KRB5CCNAME=$fresh forest_ldap "$dc2" -b "CN=Level0,OU=Groups,$base" -s base member)
  grep -qxF "member: CN=Level1,OU=Groups,$base" <<< "$level0"
}
check "$dc2 answers GSSAPI LDAP with the new ticket" dc2_alone
# The client can still move: dc2 alone places it.
dc2_pings() {
  local answer
  forest_client far > /dev/null && answer=$(forest_ping "$CORVEL_FOREST_DC2_ADDR") &&
    forest_client near > /dev/null || return 1
  [ "$(forest_field host <<< "$answer")" = "$dc2" ] && [ "$(forest_field client_site <<< "$answer")" = SiteB ]
}
check "$dc2 answers the LDAP ping of a client moved to SiteB" dc2_pings

# --- dc1 back, for the tests after this one ----------------------------------
dc1_back() {
  local level0
  forest_start dc1 && kill -0 "$CORVEL_FOREST_DC1_PID" || return 1
  level0=$(forest_ldap "$dc1" -b "CN=Level0,OU=Groups,$base" -s base member)
  grep -qxF "member: CN=Level1,OU=Groups,$base" <<< "$level0"
}
check "dc1 starts again and answers" dc1_back

echo "forest environment: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
