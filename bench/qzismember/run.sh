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
# Both must answer "member" to every question they are asked. Then, beside
# it, a group of 20,000 direct members (WanCrowd, 20,000 users of its own)
# under WanCrowdTop, which also holds WanSmall, a small group holding one of
# the tree's users: one question each (member, not a member, under the tree)
# timed with hyperfine against the walk down (--method=down), and a batch of
# the N users asked about WanCrowdTop. Prints Markdown tables. The machine
# may be busy: run it twice, compare the ratios. Needs hyperfine.
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
for need in ldapadd:ldap-utils ldapsearch:ldap-utils python3:python3 hyperfine:hyperfine; do
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

# --- A group of 20,000 members -------------------------------------------------------
crowd=20000
if ! ldap ldapsearch -b "CN=WanCrowdTop,$ou" -s base dn >/dev/null 2>&1; then
  {
    for i in $(seq 1 "$crowd"); do
      printf 'dn: CN=wan-c%05d,%s\nobjectClass: user\nsAMAccountName: wan-c%05d\n\n' "$i" "$ou" "$i"
    done
    printf 'dn: CN=WanCrowd,%s\nobjectClass: group\nsAMAccountName: WanCrowd\n' "$ou"
    for i in $(seq 1 "$crowd"); do printf 'member: CN=wan-c%05d,%s\n' "$i" "$ou"; done
    printf '\ndn: CN=WanSmall,%s\nobjectClass: group\nsAMAccountName: WanSmall\nmember: CN=wan-u00001,%s\n\n' "$ou" "$ou"
    printf 'dn: CN=WanCrowdTop,%s\nobjectClass: group\nsAMAccountName: WanCrowdTop\n' "$ou"
    printf 'member: CN=WanCrowd,%s\nmember: CN=WanSmall,%s\n\n' "$ou" "$ou"
  } > "$work/crowd.ldif"
  t0=$(now)
  ldap ldapadd -f "$work/crowd.ldif" > "$work/crowd.log" 2>&1 || { tail "$work/crowd.log" >&2; die "loading the crowd failed"; }
  echo "qzismember bench: loaded the group of $crowd members in $(seconds "$t0" "$(now)") s"
fi
d=$CORVEL_DC_DNS_DOMAIN
for check in "wan-u00001@$d|CORP\\WanCrowdTop|member" "wan-u00002@$d|CORP\\WanCrowdTop|not a member" \
             "wan-u00001@$d|CORP\\WanB|member"; do
  IFS='|' read -r u g want <<< "$check"
  [ "$("$bin" "$u" "$g")" = "$want" ] || die "$u in $g is not '$want'"
  [ "$("$bin" --method=down "$u" "$g")" = "$want" ] || die "$u in $g is not '$want' walking down"
done
hyperfine -N -i --warmup 1 --runs 10 --export-markdown "$work/crowd.md" \
  -n "member of the crowd's top group" "$bin wan-u00001@$d CORP\\WanCrowdTop" \
  -n "not a member of it" "$bin wan-u00002@$d CORP\\WanCrowdTop" \
  -n "member of WanB (1,555 groups)" "$bin wan-u00001@$d CORP\\WanB" \
  -n "member of the crowd's top, walking down" "$bin --method=down wan-u00001@$d CORP\\WanCrowdTop" \
  -n "not a member, walking down" "$bin --method=down wan-u00002@$d CORP\\WanCrowdTop" \
  > "$work/crowd.log"
sed 's/^\(questions\)/CORP\\WanCrowdTop/' "$work/questions" | sed 's/CORP\\WanB$/CORP\\WanCrowdTop/' > "$work/crowd.questions"
t0=$(now)
"$bin" --batch < "$work/crowd.questions" > "$work/crowd.out" 2>/dev/null || true
crowd_s=$(seconds "$t0" "$(now)")
[ "$(cut -f3 "$work/crowd.out" | grep -cx member || true)" -eq 1 ] &&
  [ "$(cut -f3 "$work/crowd.out" | grep -cx 'not a member' || true)" -eq $((users - 1)) ] ||
  die "the crowd batch's answers are wrong"
echo
echo "One question a process (hyperfine, 10 runs):"
echo
cat "$work/crowd.md"
echo
echo "qzIsMember --batch, $users different users asked about CORP\\WanCrowdTop: $crowd_s s"
