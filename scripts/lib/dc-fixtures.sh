# shellcheck shell=bash
# The directory fixtures of tests/fixtures/dc, loaded onto a running DC with
# the caller's Kerberos ticket. Sourced by scripts/samba-dc and
# scripts/samba-forest, so that a single DC and the forest's first DC hold
# the same objects; the forest's own fixtures load with the same helpers.
# The caller defines die().

dc_fixtures=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tests/fixtures/dc" && pwd)

# dc_load_fixtures LOG HOST SMB_CONF BASE_DN USER_PASSWORD
dc_load_fixtures() {
  local log=$1 host=$2 conf=$3 base=$4 password=$5
  : > "$log"
  dc_ldif "$log" "$host" ldapadd "$dc_fixtures/base.ldif"
  dc_create_users "$log" "$host" "$conf" "$password" "$dc_fixtures/users.txt"
  dc_ldif "$log" "$host" ldapadd "$dc_fixtures/groups.ldif"
  dc_ldif "$log" "$host" ldapmodify "$dc_fixtures/loops.ldif"
  dc_set_primary_group "$log" "$host" "CN=Grace Test,OU=People,$base" "CN=PosixStaff,OU=Groups,$base"
}

# dc_ldif LOG HOST ldapadd|ldapmodify FILE: organisational units and groups
# go in through LDAP with the ticket.
dc_ldif() {
  local log=$1 host=$2 tool=$3 file=$4
  "$tool" -Q -Y GSSAPI -H "ldap://$host" -f "$file" >> "$log" 2>&1 \
    || { cat "$log" >&2; false; }
}

# dc_create_users LOG HOST SMB_CONF PASSWORD FILE: one user a line of FILE
# ("name GivenName"), in OU=People, with the password. Users go in through
# samba-tool, which hashes passwords the way the DC does.
dc_create_users() {
  local log=$1 host=$2 conf=$3 password=$4 file=$5 user given
  while read -r user given; do
    [ -n "$user" ] || continue
    samba-tool user create "$user" "$password" \
      --userou="OU=People" --given-name="$given" --surname=Test \
      -H "ldap://$host" --use-kerberos=required -s "$conf" \
      >> "$log" 2>&1 || { cat "$log" >&2; false; }
  done < "$file"
}

# dc_set_primary_group LOG HOST USER_DN GROUP_DN: what an administrator does
# to give a user another primary group: primaryGroupID becomes the group's
# token.
dc_set_primary_group() {
  local log=$1 host=$2 user=$3 group=$4 token
  token=$(ldapsearch -LLL -Q -Y GSSAPI -H "ldap://$host" -b "$group" -s base primaryGroupToken \
    | sed -n 's/^primaryGroupToken: //p')
  [ -n "$token" ] || die "no primaryGroupToken for $group"
  printf 'dn: %s\nchangetype: modify\nreplace: primaryGroupID\nprimaryGroupID: %s\n' "$user" "$token" \
    | ldapmodify -Q -Y GSSAPI -H "ldap://$host" >> "$log" 2>&1 \
    || { cat "$log" >&2; false; }
}
