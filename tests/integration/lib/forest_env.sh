# shellcheck shell=bash
# Sourced by the forest_*.sh tests. Without a test forest started by the
# test runner (scripts/forest-run sets CORVEL_FOREST_DIR) the test is
# skipped; otherwise the forest's environment is loaded and $src (the
# source tree) and $build (the build tree) are set.
if [ -z "${CORVEL_FOREST_DIR:-}" ]; then
  echo "SKIPPED: no forest"
  exit 0
fi
src=${CORVEL_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
eval "$("$src/scripts/samba-forest" env "$CORVEL_FOREST_DIR")" || exit 1
# shellcheck disable=SC2034  # for the tests that run the programs
build=${CORVEL_BINARY_DIR:-$src/build}
# Samba's own python has dnspython; another python3 on the PATH may not.
forest_python=/usr/bin/python3
[ -x "$forest_python" ] || forest_python=python3

# require_program PATH NAME: ends the test when the program is not built.
require_program() {
  [ -x "$1" ] || { echo "no $2 at $1"; exit 1; }
}

# forest_client near|far|none: where the clients' connections leave from
# (an address in SiteA's subnet, SiteB's, or in none).
forest_client() {
  "$src/scripts/samba-forest" client "$CORVEL_FOREST_DIR" "$1"
}

# forest_stop dc1|dc2|other|relay: stops it (kill on its pid does the same
# for a DC). forest_start dc1|dc2|other|relay: starts it again, and loads
# the environment again (the pid changed).
forest_stop() {
  "$src/scripts/samba-forest" stop "$CORVEL_FOREST_DIR" "$1"
}
forest_start() {
  "$src/scripts/samba-forest" start "$CORVEL_FOREST_DIR" "$1" > /dev/null &&
    eval "$("$src/scripts/samba-forest" env "$CORVEL_FOREST_DIR")"
}

# forest_ping ADDRESS [DOMAIN]: the LDAP ping's answer, key=value lines
# (client_site, server_site, host, closest, gc, source, ms, ...).
forest_ping() {
  "$src/scripts/samba-forest" ping "$CORVEL_FOREST_DIR" "$@"
}

# forest_field KEY: the value of KEY in forest_ping's answer on stdin.
forest_field() {
  sed -n "s/^$1=//p"
}

# forest_ldap HOST ARGS...: ldapsearch with the ticket, one line a value.
forest_ldap() {
  local host=$1; shift
  ldapsearch -LLL -Q -Y GSSAPI -o ldif-wrap=no -H "ldap://$host" "$@"
}

# forest_dns TYPE NAME: the records the namespace's resolver (its private
# /etc/resolv.conf) finds, sorted, one a line; nothing when there are none.
forest_dns() {
  "$forest_python" - "$1" "$2" <<'PY'
import sys
import dns.resolver
kind, name = sys.argv[1:]
try:
    print("\n".join(sorted(r.to_text() for r in dns.resolver.resolve(name, kind, lifetime=10))))
except (dns.resolver.NXDOMAIN, dns.resolver.NoAnswer):
    pass
PY
}
