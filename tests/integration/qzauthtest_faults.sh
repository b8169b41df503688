#!/usr/bin/env bash
# qzAuthTest against a directory that fails: every operation of the name
# lookup and of the membership walk failing in turn (through the LDIF
# test build's CORVEL_DIRECTORY_FAULTS table), a member that names no entry, and names
# with every LDAP metacharacter and with non-ASCII bytes. Each run must give
# the documented report and exit status: 255 (-1) with the "error: unable to
# find" line when a name cannot be resolved, "Not a member..." with 0 when
# the walk fails. Every run is bounded by `timeout 60`; a crash or a hang
# fails the test. Some runs repeat under the ASan build when it is there.
set -uo pipefail

program="${CORVEL_BINARY_DIR:?}/tests/faults/qzAuthTest"
[ -x "$program" ] || { echo "FAIL: $program is not built" >&2; exit 1; }
asan_program="${CORVEL_ASAN_PROGRAM:-${CORVEL_SOURCE_DIR:?}/build/asan/tests/faults/qzAuthTest}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  echo "--- stdout:" >&2; cat "$work/out" >&2
  echo "--- stderr (last lines):" >&2; tail -n 8 "$work/err" >&2
  failures=$((failures + 1))
}

base='DC=corp,DC=example,DC=test'
fixture="${CORVEL_SOURCE_DIR:?}/tests/integration/qzauthtest_directory.ldif"
staff="CN=Staff,OU=Groups,$base"
engineering="CN=Engineering,OU=Groups,$base"
alice="CN=Alice Test,OU=People,$base"

# run [program] ARGS...: with the directory and faults of the moment.
run_with() {
  local binary=$1; shift
  timeout 60 "$binary" "$@" </dev/null >"$work/out" 2>"$work/err"
  status=$?
}
run() { run_with "$program" "$@"; }
has_out() { grep -qxF -- "$1" "$work/out"; }
verdict() {
  # verdict NAME STATUS LINE: exit status and the report's last line.
  local name=$1 want_status=$2 want_line=$3
  [ "$status" -eq 124 ] && { fail "$name: hung (timeout)"; return; }
  [ "$status" -ge 128 ] && [ "$status" -ne 255 ] && { fail "$name: died with status $status"; return; }
  [ "$status" -eq "$want_status" ] || { fail "$name: exit status $status, expected $want_status"; return; }
  [ "$(tail -n 1 "$work/out")" = "$want_line" ] || fail "$name: last report line is not '$want_line'"
  grep -q 'AddressSanitizer\|runtime error:\|LeakSanitizer' "$work/err" && fail "$name: sanitizer report"
  return 0
}
user_error='error: unable to find the user "alice@corp.example.test"'
group_error='error: unable to find the group "CORP\Staff"'

export CORVEL_DIRECTORY="ldif:$fixture"

# 0. Without faults the question is answered: alice is in Staff through
#    Engineering. The cases below are only meaningful against this.
unset CORVEL_DIRECTORY_FAULTS
run 'alice@corp.example.test' 'CORP\Staff'
verdict "no faults" 0 'A member ...'

# 1. The name lookup failing at each step. Faults aimed at one name show
#    which lookup failed; the group's failure comes after the user's success.
lookup_case() {
  local name=$1 faults=$2 want=$3
  CORVEL_DIRECTORY_FAULTS="$faults" run 'alice@corp.example.test' 'CORP\Staff'
  if [ "$want" = user ]; then
    verdict "$name" 255 "$user_error"
    grep -qF 'Found group as' "$work/out" && fail "$name: the group was looked up after the user failed"
  else
    verdict "$name" 255 "$group_error"
    has_out "Found user as\"$alice\"" || fail "$name: the user was not found first"
  fi
}
lookup_case "translator creation fails" 'CreateTranslator::0x80040154' user
lookup_case "translator init fails" 'InitTranslator::0x8007054B' user
lookup_case "set fails for the user" 'SetName:alice@corp.example.test:0x80070005' user
lookup_case "set fails for the group" 'SetName:CORP\Staff:0x80070005' group
lookup_case "get fails for the user" "GetName:$alice:0x80004005" user
lookup_case "get fails for the group" "GetName:$staff:0x80004005" group
# Not found for a bare group name is retried with the account's domain; a
# retry that fails too still ends with the group error.
CORVEL_DIRECTORY_FAULTS='SetName::0x80072116' run 'alice@corp.example.test' 'Staff'
verdict "set not found for every name" 255 'error: unable to find the user "alice@corp.example.test"'
CORVEL_DIRECTORY_FAULTS='SetName:Staff:0x80072116' run 'alice@corp.example.test' 'Staff'
verdict "bare group not found" 255 'error: unable to find the group "Staff"'
grep -qF 'qzAuthenticator::getObjectDN reiniting name translator on global catalog, adding domain prefix' \
  "$work/err" || fail "bare group not found: no retry with the domain"

# 2. The walk failing at each step: the test ran, so exit 0; the verdict is
#    "Not a member..." wherever the failure hides the path to alice, and
#    unchanged where it does not.
walk_case() {
  local name=$1 faults=$2 want=$3
  CORVEL_DIRECTORY_FAULTS="$faults" run 'alice@corp.example.test' 'CORP\Staff'
  verdict "$name" 0 "$want"
  has_out "Found group as\"$staff\"" || fail "$name: the group was not resolved"
}
walk_case "open of the group fails" "Open:$staff:0x80070005" 'Not a member...'
walk_case "open of every object fails" 'Open::0x8007203A' 'Not a member...'
walk_case "is-member of the nested group fails" "IsMember:$engineering:0x80072030" 'Not a member...'
walk_case "is-member of the top group fails, the descent still finds her" \
  "IsMember:$staff:0x80072030" 'A member ...'
walk_case "members of the top group fail" "Members:$staff:0x80070005" 'Not a member...'
walk_case "members of the nested group fail" "Members:$engineering:0x80070005" 'A member ...'
walk_case "enumeration of the top group fails" "Next:$staff:0x80004005" 'Not a member...'
walk_case "enumeration fails everywhere" 'Next::0x80004005' 'Not a member...'
walk_case "relative name of the group fails" "RelativeName:$staff:0x80004005" 'A member ...'
walk_case "relative name fails everywhere" 'RelativeName::0x80004005' 'A member ...'
walk_case "several faults at once" \
  "IsMember:$staff:0x80072030;Next:$engineering:0x80004005;Open:CN=Nobody,$base:5" 'A member ...'
# A fault text that does not parse is reported and leaves the rest in force.
CORVEL_DIRECTORY_FAULTS="nonsense;Members:$staff:0x80070005;Open:x:notanumber" \
  run 'alice@corp.example.test' 'CORP\Staff'
verdict "bad fault entries" 0 'Not a member...'
[ "$(grep -c 'CORVEL_DIRECTORY_FAULTS: entry' "$work/err")" -eq 2 ] || fail "bad fault entries: not both reported"
unset CORVEL_DIRECTORY_FAULTS

# 3. Names with every LDAP metacharacter, NUL in a DN, blanks at both ends,
#    non-ASCII (UTF-8 and invalid UTF-8) and a member that names no entry.
python3 - "$work/odd.ldif" <<'PY'
import base64, sys
base = "DC=corp,DC=example,DC=test"

def esc(value):
    # RFC 4514 escaping of one attribute value.
    out = []
    for i, ch in enumerate(value):
        b = ch.encode("utf-8", "surrogateescape")
        if ch in '"+,;<>\\=':
            out.append("\\" + ch)
        elif ch == "\0":
            out.append("\\00")
        elif ch == " " and (i == 0 or i == len(value) - 1):
            out.append("\\ ")
        elif ch == "#" and i == 0:
            out.append("\\#")
        elif len(b) == 1 and b[0] >= 0x80:
            out.append("\\%02x" % b[0])
        else:
            out.append(ch)
    return "".join(out)

def attr(name, value):
    raw = value.encode("utf-8", "surrogateescape")
    safe = raw and all(32 <= c < 127 for c in raw) and raw[:1] not in (b" ", b":", b"<") and raw[-1:] != b" "
    return "%s: %s" % (name, value) if safe else "%s:: %s" % (name, base64.b64encode(raw).decode())

meta = ' m*(e)\\t/a,=+<>#;"x '
entries = [
    (base, ["objectClass: domainDNS"]),
    ("CN=Partitions,CN=Configuration," + base, ["objectClass: crossRefContainer"]),
    ("CN=CORP,CN=Partitions,CN=Configuration," + base,
     ["objectClass: crossRef", "nCName: " + base, "dnsRoot: corp.example.test", "nETBIOSName: CORP"]),
    ("OU=People," + base, ["objectClass: organizationalUnit"]),
    ("OU=Groups," + base, ["objectClass: organizationalUnit"]),
    ("CN=%s,OU=People,%s" % (esc(meta), base),
     ["objectClass: user", attr("sAMAccountName", meta), attr("userPrincipalName", "m*(e)/a,=+<>#;\"x@corp.example.test")]),
    ("CN=%s,OU=Groups,%s" % (esc(meta), base),
     ["objectClass: group", attr("sAMAccountName", "g" + meta),
      "member: CN=%s,OU=People,%s" % (esc(meta), base)]),
    ("CN=nul%sbyte,OU=Groups,%s" % (esc("\0"), base),
     ["objectClass: group", "sAMAccountName: nulgroup", "member: CN=Nobody Here,OU=People," + base,
      "member: CN=%s,OU=Groups,%s" % (esc(meta), base)]),
    ("CN=Gr\u00fcppe \u65e5\u672c,OU=Groups," + base,
     ["objectClass: group", attr("sAMAccountName", "Gr\u00fcppe-\u65e5\u672c"),
      "member: CN=J\u00fcrgen,OU=People," + base]),
    ("CN=J\u00fcrgen,OU=People," + base,
     ["objectClass: user", attr("sAMAccountName", "j\u00fcrgen"), attr("userPrincipalName", "j\u00fcrgen@corp.example.test")]),
    ("CN=Bad\udcff\udcfe,OU=People," + base,
     ["objectClass: user", attr("sAMAccountName", "bad\udcff\udcfe"), attr("userPrincipalName", "bad\udcff\udcfe@corp.example.test")]),
    ("CN=BadGroup,OU=Groups," + base,
     ["objectClass: group", attr("sAMAccountName", "badgroup\udcc3"),
      "member: CN=Nowhere,OU=Missing," + base,
      "member: CN=Bad%s,OU=People,%s" % (esc("\udcff\udcfe"), base)]),
]
with open(sys.argv[1], "w", encoding="utf-8", errors="surrogateescape") as out:
    for dn, lines in entries:
        out.write(attr("dn", dn) + "\n" + "\n".join(lines) + "\n\n")
PY
export CORVEL_DIRECTORY="ldif:$work/odd.ldif"
meta=' m*(e)\t/a,=+<>#;"x '
meta_dn_user='CN=\ m*(e)\\t/a\,\=\+\<\>#\;\"x\ ,OU=People,'"$base"
meta_dn_group='CN=\ m*(e)\\t/a\,\=\+\<\>#\;\"x\ ,OU=Groups,'"$base"

run 'm*(e)/a,=+<>#;"x@corp.example.test' "CORP\\g$meta"
verdict "metacharacters by UPN and NT4 name" 0 'A member ...'
has_out "Found user as\"$meta_dn_user\"" || fail "metacharacters: user DN"
has_out "Found group as\"$meta_dn_group\"" || fail "metacharacters: group DN"

run "CORP\\$meta" "$meta_dn_group"
verdict "metacharacters by NT4 name and DN" 0 'A member ...'

# The same name with the blanks trimmed is another name: not found.
run 'CORP\m*(e)\t/a,=+<>#;"x' "$meta_dn_group"
verdict "metacharacters without the blanks" 255 'error: unable to find the user "CORP\m*(e)\t/a,=+<>#;"x"'

# A NUL in a DN (written \00) and a member that names no entry before the
# one that leads to the user.
run "CORP\\$meta" 'CORP\nulgroup'
verdict "NUL in the group DN, dangling member first" 0 'A member ...'
has_out "Found group as\"CN=nul\\00byte,OU=Groups,$base\"" || fail "NUL: group DN"
run "CORP\\$meta" "CN=nul\\00byte,OU=Groups,$base"
verdict "NUL group by its DN" 0 'A member ...'
run "CORP\\$meta" "CN=nul\\00bytes,OU=Groups,$base"
verdict "a DN one byte longer than the NUL group" 255 "error: unable to find the group \"CN=nul\\00bytes,OU=Groups,$base\""
# Filter metacharacters in a name that exists nowhere must not match anything.
run '*' 'CORP\*'
verdict "a lone asterisk" 255 'error: unable to find the user "*"'
run 'CORP\*' 'CORP\*'
verdict "an asterisk account name" 255 'error: unable to find the user "CORP\*"'

# UTF-8 names and the invalid bytes 0xff 0xfe, byte for byte.
run $'j\xc3\xbcrgen@corp.example.test' $'CORP\\Gr\xc3\xbcppe-\xe6\x97\xa5\xe6\x9c\xac'
verdict "UTF-8 names" 0 'A member ...'
has_out $'Found group as"CN=Gr\xc3\xbcppe \xe6\x97\xa5\xe6\x9c\xac,OU=Groups,'"$base\"" || fail "UTF-8: group DN"
run $'bad\xff\xfe@corp.example.test' $'CORP\\badgroup\xc3'
verdict "invalid UTF-8 names, dangling member first" 0 'A member ...'
run $'bad\xff\xfd@corp.example.test' $'CORP\\badgroup\xc3'
verdict "invalid UTF-8, one byte different" 255 $'error: unable to find the user "bad\xff\xfd@corp.example.test"'
run $'CORP\\j\xc3\xbcrgen' 'CORP\badgroup'
verdict "a name cut before its invalid byte" 255 'error: unable to find the group "CORP\badgroup"'
run $'CORP\\j\xc3\xbcrgen' $'CORP\\badgroup\xc3'
verdict "UTF-8 user, not a member" 0 'Not a member...'

# A DN of 4,000 characters as a name that exists nowhere, and a user name
# at the 511-character line limit of the prompt.
long_dn="CN=$(printf 'x%.0s' $(seq 1 3960)),OU=Groups,$base"
run "$long_dn" 'CORP\badgroup'
verdict "4,000-character DN that names nothing" 255 "error: unable to find the user \"$long_dn\""

# A DN whose entry writes its '/' escaped ("\/"): the path made from it must
# still name that group, so bob, a direct member, is a member.
{ cat "$fixture"
  printf '\ndn: CN=Ops\\/Dev,OU=Groups,%s\nobjectClass: group\nsAMAccountName: OpsDev\n' "$base"
  printf 'member: CN=Bob Test,OU=People,%s\n\n' "$base"; } >"$work/escaped_slash.ldif"
CORVEL_DIRECTORY="ldif:$work/escaped_slash.ldif" run 'CORP\bob' 'CORP\OpsDev'
verdict "escaped '/' in the group's own DN" 0 'A member ...'

# A directory file the LDIF reader cannot make sense of ("-" straight after
# a dn line) is a directory without those entries, not a crash.
printf 'dn: CN=x,DC=y\n-\n' >"$work/dash.ldif"
CORVEL_DIRECTORY="ldif:$work/dash.ldif" run 'alice@corp.example.test' 'CORP\Staff'
verdict "malformed record in the directory file" 255 "$user_error"
printf 'dn: CN=g,DC=y\n: x\n' >"$work/emptytype.ldif"
CORVEL_DIRECTORY="ldif:$work/emptytype.ldif" run 'alice@corp.example.test' 'CORP\Staff'
verdict "attribute line without a type in the directory file" 255 "$user_error"
# A lone line starting with a digit: the reader reports a record but gives
# no text for it.
printf '6\n' >"$work/digit.ldif"
CORVEL_DIRECTORY="ldif:$work/digit.ldif" run 'alice@corp.example.test' 'CORP\Staff'
verdict "lone digit line as the directory file" 255 "$user_error"

# 4. The sanitizer build, where there is one: a lookup failure, a walk
#    failure, the metacharacters and invalid UTF-8 leak nothing and read
#    nothing out of bounds.
if [ -x "$asan_program" ]; then
  export CORVEL_DIRECTORY="ldif:$fixture"
  CORVEL_DIRECTORY_FAULTS="GetName:$staff:0x80004005" run_with "$asan_program" 'alice@corp.example.test' 'CORP\Staff'
  verdict "asan: get fails for the group" 255 "$group_error"
  CORVEL_DIRECTORY_FAULTS="IsMember:$engineering:0x80072030;Next:$engineering:0x80004005" \
    run_with "$asan_program" 'alice@corp.example.test' 'CORP\Staff'
  verdict "asan: walk faults" 0 'Not a member...'
  export CORVEL_DIRECTORY="ldif:$work/odd.ldif"
  run_with "$asan_program" "CORP\\$meta" 'CORP\nulgroup'
  verdict "asan: metacharacters and NUL" 0 'A member ...'
  run_with "$asan_program" $'bad\xff\xfe@corp.example.test' $'CORP\\badgroup\xc3'
  verdict "asan: invalid UTF-8" 0 'A member ...'
  run_with "$asan_program" "$long_dn" 'CORP\badgroup'
  verdict "asan: long DN" 255 "error: unable to find the user \"$long_dn\""
else
  echo "note: no sanitizer build at $asan_program; its runs skipped"
fi

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed" >&2; exit 1; }
echo "qzauthtest_faults: all cases passed"
