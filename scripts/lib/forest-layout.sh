# shellcheck shell=bash
# shellcheck disable=SC2034  # the scripts that source it use the names
# The names and loopback addresses of the test forest (scripts/samba-forest),
# in one place for the script that builds it and scripts/forest-run, which
# puts the addresses on the namespace's loopback and writes its hosts and
# resolver files.
#
# Forest 1 has two sites, one DC each; the far DC (dc2) sits behind a
# delaying relay, and clients know it only by the relay's address. Forest 2
# is another forest, trusted both ways; no subnet of forest 1 covers it.
# The client addresses are the source addresses a client's connections
# leave from (samba-forest client near|far|none).

CORP_REALM=CORP.EXAMPLE.TEST
CORP_DNS=corp.example.test
CORP_NETBIOS=CORP
CORP_BASE=DC=corp,DC=example,DC=test
OTHER_REALM=OTHER.EXAMPLE.TEST
OTHER_DNS=other.example.test
OTHER_NETBIOS=OTHER
OTHER_BASE=DC=other,DC=example,DC=test

SITE_A=SiteA
SUBNET_A=127.0.2.0/24
SITE_B=SiteB
SUBNET_B=127.0.3.0/24

DC1_HOST=dc1.$CORP_DNS
DC1_IP=127.0.2.1
DC2_HOST=dc2.$CORP_DNS
DC2_IP=127.0.3.1
RELAY_IP=127.0.3.2
OTHER_HOST=dc1.$OTHER_DNS
OTHER_IP=127.0.4.1

CLIENT_NEAR_IP=127.0.2.100
CLIENT_FAR_IP=127.0.3.100
CLIENT_NONE_IP=127.0.9.100

# Every address the namespace's loopback must carry.
FOREST_ADDRESSES="$DC1_IP $DC2_IP $RELAY_IP $OTHER_IP $CLIENT_NEAR_IP $CLIENT_FAR_IP $CLIENT_NONE_IP"

# forest_hosts: the /etc/hosts lines of the namespace. dc2 is the relay's
# address, as in the DNS. Names first, so that libldap's reverse lookup (it
# canonicalises the host before a GSSAPI bind unless told not to) finds the
# DC's own name.
forest_hosts() {
  echo "$DC1_IP $DC1_HOST ${DC1_HOST%%.*}"
  echo "$RELAY_IP $DC2_HOST ${DC2_HOST%%.*}"
  echo "$OTHER_IP $OTHER_HOST"
}

# forest_resolv_conf: both DCs of forest 1 (dc2 through the relay), so that
# names still resolve with dc1 down; forest 1 forwards forest 2's names.
forest_resolv_conf() {
  printf 'nameserver %s\nnameserver %s\nsearch %s\n' "$DC1_IP" "$RELAY_IP" "$CORP_DNS"
}
