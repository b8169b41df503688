# Sourced by the dc_*.sh tests. Without a domain controller started by the
# test runner (CORVEL_DC_DIR) the test is skipped; otherwise the DC's
# environment is loaded and $src (the source tree) and $build (the build
# tree) are set.
if [ -z "${CORVEL_DC_DIR:-}" ]; then
  echo "SKIPPED: no domain controller"
  exit 0
fi
src=${CORVEL_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
eval "$("$src/scripts/samba-dc" env "$CORVEL_DC_DIR")" || exit 1
# CORVEL_DC_ZERO_CONFIG=1: as a domain-joined host that configures nothing
# (the directory is found through Kerberos and the DNS).
if [ "${CORVEL_DC_ZERO_CONFIG:-}" = 1 ]; then
  unset CORVEL_DIRECTORY
  export LDAPNOINIT=1
fi
build=${CORVEL_BINARY_DIR:-$src/build}

# require_program PATH NAME: ends the test when the program is not built.
require_program() {
  [ -x "$1" ] || { echo "no $2 at $1"; exit 1; }
}

# dc_export FILE: the DC's domain partition and the forest's crossRefs as an
# LDIF export, made with ldapsearch as a user would.
dc_export() {
  local search=(ldapsearch -LLL -Q -Y GSSAPI -o ldif-wrap=no -H "ldap://$CORVEL_DC_HOST")
  { "${search[@]}" -b "$CORVEL_DC_BASE" -E pr=500/noprompt '(objectClass=*)' &&
    "${search[@]}" -b "CN=Partitions,CN=Configuration,$CORVEL_DC_BASE" '(objectClass=crossRef)'; } > "$1"
}
