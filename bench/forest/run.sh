#!/usr/bin/env bash
# Whole-program timing of the DC locator: the first question of a fresh
# qzIsMember process on a host that configures nothing but the realm and
# DNS, with the far site's DC 150 ms away (round trip) and the near one on
# loopback.
#
#   scripts/forest-run bench/forest/run.sh [--runs N] [qzIsMember]
#
# Times, with hyperfine, all in one run (the machine may be busy: compare
# the ratios):
#   near DC         CORVEL_DIRECTORY names dc1 (what the best choice costs)
#   far DC          CORVEL_DIRECTORY names dc2 (what a wrong choice costs:
#                   a random choice among the SRV records, as the locator
#                   made it before it pinged, took it half of the time)
#   located, SiteA  nothing configured, the client in SiteA's subnet
#   located, SiteB  nothing configured, the client in SiteB's subnet
# The locator pings every DC at once; in SiteA the near DC's answer comes
# first, so the located run should cost about the near DC's time (the far
# ping is not waited for). Each process starts afresh: nothing is kept
# between runs.
#   --runs N     timed runs of each command (default 10), after one warm-up
#   qzIsMember   the program (default build/release/tools/qzismember/qzIsMember),
#                copied first so that a rebuild cannot change it mid-run
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)
die() { echo "forest bench: $*" >&2; exit 2; }

runs=10
bin=$src/build/release/tools/qzismember/qzIsMember
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    -*) die "unknown option $1" ;;
    *) bin=$1; shift ;;
  esac
done
[ -n "${CORVEL_FOREST_DIR:-}" ] || die "run it inside scripts/forest-run (no forest environment)"
command -v hyperfine >/dev/null || die "hyperfine is not installed (apt-get install hyperfine)"
work=$(mktemp -d /tmp/forest-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$bin" "$work/qzIsMember"
qz=$work/qzIsMember
forest=$src/scripts/samba-forest
d=$CORVEL_FOREST_DNS_DOMAIN
question="alice@$d 'CORP\\Sales'"

# Each command answers "member" first, or the timing means nothing.
for cmd in "$qz $question" "CORVEL_DIRECTORY=ldap://$CORVEL_FOREST_DC2_HOST $qz $question"; do
  [ "$(bash -c "$cmd")" = member ] || die "'$cmd' does not answer member"
done

"$forest" client "$CORVEL_FOREST_DIR" near >/dev/null
hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/near.md" \
  -n "near DC (dc1 named)" "CORVEL_DIRECTORY=ldap://$CORVEL_FOREST_DC1_HOST $qz $question" \
  -n "far DC (dc2 named)" "CORVEL_DIRECTORY=ldap://$CORVEL_FOREST_DC2_HOST $qz $question" \
  -n "located, client in SiteA" "$qz $question" > "$work/near.log"
"$forest" client "$CORVEL_FOREST_DIR" far >/dev/null
hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/far.md" \
  -n "located, client in SiteB" "$qz $question" > "$work/far.log"
"$forest" client "$CORVEL_FOREST_DIR" near >/dev/null

echo "far link: ${CORVEL_FOREST_FAR_DELAY_MS} ms one way; $runs runs each"
cat "$work/near.md"
tail -n 1 "$work/far.md"
grep -A3 'Summary' "$work/near.log" || true
