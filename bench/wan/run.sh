#!/usr/bin/env bash
# Whole-program timing of the live membership walk across a simulated WAN.
#
#   scripts/dc-run bench/wan/run.sh [--delay MS] [--runs N] [--users N] [qzAuthTest]
#
# Beside the throw-away DC of scripts/dc-run, loads the group shapes of
# shapes.py (chains of 10 and 200 nested groups, a bushy tree of 1,555),
# starts the relay (tests/support/relay.c) on 127.0.0.2 in front of every DC
# port, delaying each chunk by MS milliseconds one way (default 10, so 20 ms
# a round trip), and times with hyperfine, both commands in one run, the real
# qzAuthTest process against one ldapsearch asking the global catalog the same
# question with the in-chain matching rule (LDAP_MATCHING_RULE_IN_CHAIN):
#   chain 10 member, bushy member, bushy non-member   through the relay
#   chain 200 member                                  on plain loopback
# Through the relay every client exchange pays the delay: the clients see
# dc1.corp.example.test as 127.0.0.2 (a hosts file of their own, mounted in a
# private mount namespace), Kerberos goes over TCP to the relay with a ticket
# fetched through it, and DNS goes through it too. The shapes are loaded
# before, directly on 127.0.0.1.
#
# Prints each question's verdicts (both programs must answer right; the
# search's answer is checked by its result code and the entries it returns,
# and for a member against the same search without the rule, which must find
# nothing), the addresses both programs connect to (strace), the LDAP
# requests qzAuthTest made (its cost line at the end of each directory
# session) and the round trips of the walk's own session,
# and a Markdown table of mean wall times and their ratio; then, on loopback,
# what the in-chain rule costs the DC over a plain base read. The machine may
# be busy: compare the ratios, not the absolute times.
#   --delay MS  one-way delay of the relay (default 10)
#   --runs N    timed runs of each command (default 20 for the chains, 10 for
#               the bushy tree); hyperfine warms up once first
#   --users N   N more users over the leaves of the bushy tree (default 0)
#   qzAuthTest  the program (default build/release/tools/qzauthtest/qzAuthTest),
#               copied first so that a rebuild cannot change it mid-run
# WAN_BENCH_KEEP=1 keeps the work directory (hyperfine JSON, logs).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)
die() { echo "wan: $*" >&2; exit 2; }

delay=10
runs=""
users=0
bin=$src/build/release/tools/qzauthtest/qzAuthTest
while [ $# -gt 0 ]; do
  case $1 in
    --delay) delay=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --users) users=$2; shift 2 ;;
    -*) die "unknown option $1" ;;
    *) bin=$1; shift ;;
  esac
done
case $bin in /*) ;; *) bin=$PWD/$bin ;; esac
[ -n "${CORVEL_DC_DIR:-}" ] || die "run it inside scripts/dc-run (no DC environment)"
# The benchmarks are no test stage, so scripts/bootstrap does not install
# what only they need: name the Debian package.
for need in hyperfine:hyperfine ldapsearch:ldap-utils ldapadd:ldap-utils ldapmodify:ldap-utils \
  kinit:krb5-user cc:gcc python3:python3 unshare:util-linux; do
  command -v "${need%%:*}" >/dev/null || die "${need%%:*} is not installed (apt-get install ${need#*:})"
done

relay_ip=127.0.0.2
host=$CORVEL_DC_HOST
dom=$CORVEL_DC_DOMAIN
base=$CORVEL_DC_BASE
ou="OU=WanBench,$base"
work=$(mktemp -d /tmp/wan-bench.XXXXXX)
relay_pid=""
cleanup() {
  if [ -n "$relay_pid" ]; then kill "$relay_pid" 2>/dev/null || true; wait "$relay_pid" 2>/dev/null || true; fi
  if [ "${WAN_BENCH_KEEP:-0}" = 1 ]; then echo "wan: work directory kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# Clients write nothing into the source tree (the information log's file).
cd "$work"

# The release build may be mid-rebuild: wait for it, then keep a copy.
for _ in $(seq 1 120); do [ -x "$bin" ] && break; sleep 1; done
[ -x "$bin" ] || die "no program at $bin"
cp "$bin" "$work/qzAuthTest"
qz=$work/qzAuthTest
# qzIsMember of the same build, beside it.
cp "$(dirname "$bin")/../qzismember/qzIsMember" "$work/qzIsMember" 2>/dev/null ||
  cp "$src/build/release/tools/qzismember/qzIsMember" "$work/qzIsMember"
qzm=$work/qzIsMember

cc -O2 -Wall -o "$work/relay" "$src/tests/support/relay.c" || die "the relay does not build"

ldap() { "$@" -Q -Y GSSAPI -H "$CORVEL_DIRECTORY"; }

# --- The shapes, straight to the DC -------------------------------------------
if ldap ldapsearch -b "$ou" -s base dn >/dev/null 2>&1; then
  echo "wan: $ou is already loaded"
else
  python3 "$here/shapes.py" --base "$base" --dns-domain "$CORVEL_DC_DNS_DOMAIN" --users "$users" \
    > "$work/shapes.ldif"
  entries=$(grep -c '^dn:' "$work/shapes.ldif")
  t0=$(date +%s.%N)
  ldap ldapadd -f "$work/shapes.ldif" > "$work/load.log" 2>&1 || { tail "$work/load.log" >&2; die "loading failed"; }
  t1=$(date +%s.%N)
  echo "wan: loaded $entries entries in $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", b-a}') s"
fi

# The directory returns member values in an order of its own (Samba: by
# the members' GUIDs), so the leaf a depth-first walk reaches last is found
# by following the last value at each level; wan-bushy goes there.
leaf="CN=WanB,$ou"
for _ in 1 2 3 4; do
  leaf=$(ldap ldapsearch -LLL -o ldif-wrap=no -b "$leaf" -s base member \
    | sed -n 's/^member: //p' | grep -v '^CN=wan-' | tail -n 1)
  [ -n "$leaf" ] || die "the bushy tree has fewer than four levels"
done
bushy_user="CN=wan-bushy,$ou"
if ! ldap ldapsearch -LLL -b "$leaf" -s base "(member=$bushy_user)" dn | grep -q '^dn:'; then
  printf 'dn: %s\nchangetype: modify\nadd: member\nmember: %s\n' "$leaf" "$bushy_user" \
    | ldap ldapmodify > /dev/null
fi
echo "wan: wan-bushy is a member of the last leaf in directory order, ${leaf%%,*}"

# --- The WAN: the relay, and a client view that reaches the DC only through it
"$work/relay" --listen "$relay_ip" --target 127.0.0.1 --delay-ms "$delay" \
  --tcp 88,389,636,3268,3269,464,53 --udp 53 --ready "$work/relay.ready" 2> "$work/relay.log" &
relay_pid=$!
for _ in $(seq 1 50); do [ -f "$work/relay.ready" ] && break; sleep 0.1; done
[ -f "$work/relay.ready" ] || { cat "$work/relay.log" >&2; die "the relay did not start"; }

grep -v "[[:space:]]$host\([[:space:]]\|$\)" /etc/hosts > "$work/hosts" || true
echo "$relay_ip $host ${host%%.*}" >> "$work/hosts"
printf 'nameserver %s\nsearch %s\n' "$relay_ip" "$CORVEL_DC_DNS_DOMAIN" > "$work/resolv.conf"
resolv=$(readlink -f /etc/resolv.conf)
# The DC's [libdefaults] and [domain_realm]; the realm's KDC is the relay,
# and Kerberos goes over TCP so that the relay carries it.
awk -v kdc="$relay_ip" '
  /^\[libdefaults\]/ { print; print "  udp_preference_limit = 1"; next }
  /^[[:space:]]*kdc[[:space:]]*=/ { sub(/=.*/, "= " kdc) }
  { print }' "$KRB5_CONFIG" > "$work/krb5.conf"

# Runs a command in the WAN view: a private mount namespace of its own.
wan() {
  KRB5_CONFIG=$work/krb5.conf KRB5CCNAME=FILE:$work/ccache \
    unshare --mount --propagation private -- bash -c '
      mount --bind "$1" /etc/hosts && mount --bind "$2" "$3" || exit 2
      shift 3; exec "$@"' wan "$work/hosts" "$work/resolv.conf" "$resolv" "$@"
}
# The same command on plain loopback, with the DC's own ticket.
direct() { "$@"; }

# The trace names the KDC address and transport (and never the password).
KRB5_TRACE=$work/kinit.trace wan kinit "Administrator@$CORVEL_DC_REALM" <<< "$CORVEL_DC_ADMIN_PASSWORD" \
  > "$work/kinit.log" 2>&1 || { cat "$work/kinit.log" >&2; die "kinit through the relay failed"; }
kdc_sends=$(grep -c "Sending TCP request to stream $relay_ip:88" "$work/kinit.trace" || true)
other_kdcs=$(grep "Sending .* request to" "$work/kinit.trace" | grep -vc "TCP request to stream $relay_ip:88" || true)
rm -f "$work/kinit.trace"
[ "$kdc_sends" -gt 0 ] && [ "$other_kdcs" = 0 ] || die "kinit did not ask the KDC through the relay over TCP only"
echo "wan: relay on $relay_ip, $delay ms each way; ticket fetched through it ($kdc_sends KDC exchanges, all over TCP)"

# --- The questions ------------------------------------------------------------
# label | view | user | group | member or not | default runs
questions=(
  "chain 10, member|wan|wan-c10|WanC10-00|member|20"
  "bushy, member|wan|wan-bushy|WanB|member|10"
  "bushy, non-member|wan|wan-outsider|WanB|not|10"
  "chain 200, member (loopback)|direct|wan-c200|WanC200-000|member|20"
)

in_chain_cmd() { # user group: the in-chain question on the global catalog
  echo "ldapsearch -Q -Y GSSAPI -H ldap://$host:3268 -b CN=$1,$ou -s base" \
    "(memberOf:1.2.840.113556.1.4.1941:=CN=$2,$ou) dn"
}

# Shows which addresses a command connected to (AF_INET only).
connects() {
  local view=$1; shift
  command -v strace >/dev/null || { echo "strace not installed"; return; }
  "$view" strace -f -qq -e trace=connect -o "$work/strace.log" "$@" > /dev/null 2>&1 || true
  grep -o 'sin_port=htons([0-9]*), sin_addr=inet_addr("[0-9.]*")' "$work/strace.log" \
    | sed 's/sin_port=htons(\([0-9]*\)), sin_addr=inet_addr("\([0-9.]*\)")/\2:\1/' \
    | sort | uniq -c | awk '{ printf "%s%s x%s", sep, $2, $1; sep=", " } END { print "" }'
}

status=0
rows=()
for question in "${questions[@]}"; do
  IFS='|' read -r label view user group expect qruns <<< "$question"
  [ -n "$runs" ] && qruns=$runs
  echo
  if [ "$view" = wan ]; then where="through the relay, $delay ms each way"; else where="plain loopback"; fi
  echo "== $label: is $dom\\$user a member of $dom\\$group? ($where) =="

  # qzAuthTest's verdict and operations.
  "$view" env CORVEL_LDAP_STATS=1 "$qz" "$dom\\$user" "$dom\\$group" > "$work/qz.out" 2> "$work/qz.err" || true
  verdict=$(tail -n 1 "$work/qz.out")
  # Each directory session ends with "ldap: R requests in T round trips":
  # the requests of all three, and the round trips of the walk (the last).
  ops=$(sed -n 's/.*ldap: \([0-9]*\) requests in [0-9]* round trips.*/\1/p' "$work/qz.err" | paste -sd+)
  ops_total=$(( ${ops:-0} ))
  walk_trips=$(sed -n 's/.*ldap: [0-9]* requests in \([0-9]*\) round trips.*/\1/p' "$work/qz.err" | tail -n 1)
  case $expect/$verdict in
    member/"A member"*|not/"Not a member"*) qz_ok=right ;;
    *) qz_ok=WRONG; status=1 ;;
  esac
  echo "qzAuthTest: \"$verdict\" ($qz_ok); LDAP requests per session: ${ops:-none} = $ops_total; round trips of the walk: ${walk_trips:-?}"

  # The in-chain search: a member comes back as the user's own entry, a
  # non-member as an empty, successful answer (an error or a partial
  # answer would say so in the result line).
  search=$(in_chain_cmd "$user" "$group")
  # shellcheck disable=SC2086
  "$view" $search > "$work/ls.out" 2>&1 || true
  result=$(sed -n 's/^result: //p' "$work/ls.out")
  found=$(grep -c "^dn: CN=$user,$ou\$" "$work/ls.out" || true)
  entries=$(grep -c '^dn:' "$work/ls.out" || true)
  if [ "$result" = "0 Success" ] && { { [ "$expect" = member ] && [ "$found" = 1 ] && [ "$entries" = 1 ]; } \
       || { [ "$expect" = not ] && [ "$entries" = 0 ]; }; }; then ls_ok=right; else ls_ok=WRONG; status=1; fi
  echo "ldapsearch in-chain: result \"$result\", $entries entr$( [ "$entries" = 1 ] && echo y || echo ies) ($ls_ok)"
  if [ "$expect" = member ]; then
    # The control: the user is no direct member of the top group, so the
    # entry above came from following the nesting.
    direct_hits=$(ldapsearch -LLL -Q -Y GSSAPI -H "ldap://$host:3268" -b "CN=$user,$ou" -s base \
      "(memberOf=CN=$group,$ou)" dn | grep -c '^dn:' || true)
    [ "$direct_hits" = 0 ] || { ls_ok=WRONG; status=1; }
    echo "control, the same search without the in-chain rule: $direct_hits entries (expected 0)"
  fi

  if [ "$view" = wan ]; then
    echo "connections of qzAuthTest: $(connects wan "$qz" "$dom\\$user" "$dom\\$group")"
    # shellcheck disable=SC2086
    echo "connections of ldapsearch: $(connects wan $search)"
  fi

  json=$work/$(echo "$label" | tr -c 'a-z0-9\n' '-').json
  # qzIsMember's verdict and cost line.
  "$view" "$qzm" -v "$dom\\$user" "$dom\\$group" > "$work/qzm.out" 2> "$work/qzm.err" || true
  case $expect/$(cat "$work/qzm.out") in
    member/member|"not/not a member") qzm_ok=right ;;
    *) qzm_ok=WRONG; status=1 ;;
  esac
  qzm_cost=$(sed -n 's/.*ldap: \([0-9]*\) requests in \([0-9]*\) round trips, [0-9]* connections (\([0-9]*\) binds in \([0-9]*\) round trips).*/\1 requests in \2 round trips, binds \4/p' "$work/qzm.err" | tail -n 1)
  echo "qzIsMember: \"$(cat "$work/qzm.out")\" ($qzm_ok); $qzm_cost"

  # -i: "not a member" is exit status 1, an answer like any other.
  "$view" hyperfine -N -i --warmup 1 --runs "$qruns" --export-json "$json" \
    -n "ldapsearch in-chain" "$search" \
    -n qzAuthTest "$qz '$dom\\$user' '$dom\\$group'" \
    -n qzIsMember "$qzm '$dom\\$user' '$dom\\$group'"
  rows+=("$(python3 - "$json" "$label" "$ops_total / ${walk_trips:-?}" "$qz_ok/$qzm_ok" "$ls_ok" "$qzm_cost" <<'EOF'
import json, sys
path, label, ops, qz_ok, ls_ok, qzm_cost = sys.argv[1:]
ls, qz, qzm = json.load(open(path))["results"]
def ms(r):
    if r["stddev"] is None:  # a single run
        return "%.1f ms" % (r["mean"] * 1000)
    return "%.1f ± %.1f ms" % (r["mean"] * 1000, r["stddev"] * 1000)
print("| %s | %s | %s | %.2f | %s | %.2f | %s | %s | %s / %s |" % (
    label, ms(ls), ms(qz), qz["mean"] / ls["mean"], ms(qzm), qzm["mean"] / ls["mean"],
    ops, qzm_cost, qz_ok, ls_ok))
EOF
)")
done

kill "$relay_pid" 2>/dev/null || true
wait "$relay_pid" 2>/dev/null || true
relay_pid=""

# What the in-chain rule costs the DC: the same search against a plain base
# read of the user's entry, both on loopback, where the difference is
# mostly the server's evaluation.
cost_rows=()
for question in "${questions[@]}"; do
  IFS='|' read -r label view user group expect qruns <<< "$question"
  json=$work/cost-$(echo "$label" | tr -c 'a-z0-9\n' '-').json
  echo
  echo "== in-chain cost on loopback: $label =="
  hyperfine -N --warmup 1 --runs 20 --export-json "$json" \
    -n "base read" "ldapsearch -Q -Y GSSAPI -H ldap://$host:3268 -b CN=$user,$ou -s base (objectClass=*) dn" \
    -n "in-chain" "$(in_chain_cmd "$user" "$group")"
  cost_rows+=("$(python3 - "$json" "$label" <<'EOF'
import json, sys
path, label = sys.argv[1:]
plain, chain = json.load(open(path))["results"]
def ms(r):
    if r["stddev"] is None:  # a single run
        return "%.1f ms" % (r["mean"] * 1000)
    return "%.1f ± %.1f ms" % (r["mean"] * 1000, r["stddev"] * 1000)
print("| %s | %s | %s | %.1f ms |" % (label, ms(plain), ms(chain), (chain["mean"] - plain["mean"]) * 1000))
EOF
)")
done
echo
echo "$(cat "$work/relay.log")  (connections and datagrams the relay carried)"
echo
echo "Round trip through the relay: $((2 * delay)) ms; hyperfine: mean ± standard deviation of whole processes."
echo
echo "| question | ldapsearch in-chain | qzAuthTest | ratio | qzIsMember | ratio | qzAuthTest LDAP requests / round trips of the walk | qzIsMember cost | verdicts (qzAuthTest/qzIsMember / ldapsearch) |"
echo "|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "The in-chain rule on loopback (global catalog, whole ldapsearch processes):"
echo
echo "| question | ldapsearch base read | ldapsearch in-chain | difference |"
echo "|---|---|---|---|"
printf '%s\n' "${cost_rows[@]}"
exit $status
