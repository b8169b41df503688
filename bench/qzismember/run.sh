#!/usr/bin/env bash
# Whole-program timing of qzIsMember --batch against the throw-away DC on
# loopback, against the same questions asked one process each.
#
#   scripts/dc-run bench/qzismember/run.sh [--users N] [--sample N] [qzIsMember]
#
# Loads bench/wan/shapes.py's bushy tree (WanB: depth 4, six member groups
# a group, 1,555 groups) with N users (default 10,000, no passwords) spread
# over its leaves, with one ldapadd; then asks, for every one of those
# users, whether it is a member of CORP\WanB:
#   batch    one qzIsMember --batch run over all N questions
#   single   one qzIsMember process a question, timed over every k-th
#            question (--sample, default 50 of them: each process walks the
#            whole tree anew, seconds a question) and scaled to N
# Both must answer "member" to every question they are asked. Prints a
# Markdown table. The machine may be busy: run it twice, compare the ratio.
#   qzIsMember  the program (default build/release/tools/qzismember/qzIsMember),
#               copied first so that a rebuild cannot change it mid-run
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)
die() { echo "qzismember bench: $*" >&2; exit 2; }

users=10000
sample=50
bin=$src/build/release/tools/qzismember/qzIsMember
while [ $# -gt 0 ]; do
  case $1 in
    --users) users=$2; shift 2 ;;
    --sample) sample=$2; shift 2 ;;
    -*) die "unknown option $1" ;;
    *) bin=$1; shift ;;
  esac
done
[ -n "${CORVEL_DC_DIR:-}" ] || die "run it inside scripts/dc-run (no DC environment)"
[ -x "$bin" ] || die "no qzIsMember at $bin"
for need in ldapadd:ldap-utils ldapsearch:ldap-utils python3:python3; do
  command -v "${need%%:*}" >/dev/null || die "${need%%:*} is not installed (apt-get install ${need#*:})"
done
[ "$sample" -ge 1 ] && [ "$sample" -le "$users" ] || die "--sample must be between 1 and --users"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$bin" "$work/qzIsMember"
bin=$work/qzIsMember
base=$CORVEL_DC_BASE
ou="OU=WanBench,$base"
ldap() { "$@" -Q -Y GSSAPI -H "$CORVEL_DIRECTORY"; }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", b-a}'; }

# --- The tree and its users, straight to the DC --------------------------------
if ldap ldapsearch -b "CN=wan-u$(printf %05d "$users"),$ou" -s base dn >/dev/null 2>&1; then
  echo "qzismember bench: $ou is already loaded with $users users"
else
  ldap ldapsearch -b "$ou" -s base dn >/dev/null 2>&1 && die "$ou holds fewer than $users users: use a fresh DC"
  python3 "$src/bench/wan/shapes.py" --base "$base" --dns-domain "$CORVEL_DC_DNS_DOMAIN" \
    --users "$users" > "$work/shapes.ldif"
  t0=$(now)
  ldap ldapadd -f "$work/shapes.ldif" > "$work/load.log" 2>&1 || { tail "$work/load.log" >&2; die "loading failed"; }
  echo "qzismember bench: loaded $(grep -c '^dn:' "$work/shapes.ldif") entries in $(seconds "$t0" "$(now)") s"
fi

# --- The questions ---------------------------------------------------------------
for i in $(seq 1 "$users"); do
  printf 'wan-u%05d@%s\tCORP\\WanB\n' "$i" "$CORVEL_DC_DNS_DOMAIN"
done > "$work/questions"
step=$((users / sample))
awk -v s="$step" 'NR % s == 0' "$work/questions" | head -n "$sample" > "$work/sample"
asked=$(wc -l < "$work/sample")

# --- Batch: the whole run ---------------------------------------------------------
t0=$(now)
"$bin" --batch < "$work/questions" > "$work/batch.out" 2> "$work/batch.err" || true
batch_s=$(seconds "$t0" "$(now)")
members=$(cut -f3 "$work/batch.out" | grep -cx member || true)
[ "$members" -eq "$users" ] || { head -5 "$work/batch.err" >&2; die "batch: $members of $users answered member"; }
echo "qzismember bench: batch of $users questions in $batch_s s"

# --- Single: one process a question, on the sample --------------------------------
t0=$(now)
while IFS=$'\t' read -r curUser curGroup; do
  "$bin" "$curUser" "$curGroup" </dev/null >> "$work/single.out" 2>> "$work/single.err" || true
done < "$work/sample"
single_s=$(seconds "$t0" "$(now)")
singles=$(grep -cx member "$work/single.out" || true)
[ "$singles" -eq "$asked" ] || die "single: $singles of $asked answered member"

awk -v n="$users" -v b="$batch_s" -v k="$asked" -v s="$single_s" 'BEGIN {
  scaled = s * n / k
  printf "\n| %s questions, CORP\\WanB (1,555 groups) | wall time | per question |\n", n
  printf "| --- | ---: | ---: |\n"
  printf "| qzIsMember --batch, one run | %.2f s | %.2f ms |\n", b, 1000 * b / n
  printf "| qzIsMember once a question (%d timed, scaled) | %.1f s | %.1f ms |\n", k, scaled, 1000 * s / k
  printf "\nbatch is %.0f times faster\n", scaled / b
}'
