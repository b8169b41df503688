#!/usr/bin/env bash
# Whole-program timing of qzAuthTest on a generated directory of 100,000
# groups (bench/gen_ldif.py: a tree of fan-out 10 under CORP\Top) in the
# worst case: the user is in no group, so the walk visits every group.
#
#   bench/walk_timing.sh [qzAuthTest]   (default: build/release/...)
#   BENCH_GROUPS=100000 BENCH_RUNS=3 BENCH_DIR=<keep the LDIF here>
#
# Reports, best of the runs: the load time (a run that loads the directory
# and stops at an unknown user), the whole run, the walk (the difference)
# and the peak resident memory of the whole run. Diagnostics go to
# /dev/null, as a timing of the program and not of its log. Goal: load plus
# walk under 3 s, memory under 1 GB.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$src/build/release/tools/qzauthtest/qzAuthTest}
[ -x "$bin" ] || { echo "no program at $bin (build the release preset)" >&2; exit 1; }
groups=${BENCH_GROUPS:-100000}
runs=${BENCH_RUNS:-3}
work=${BENCH_DIR:-$(mktemp -d)}
[ -n "${BENCH_DIR:-}" ] || trap 'rm -rf "$work"' EXIT
ldif=$work/groups$groups.ldif
[ -s "$ldif" ] || python3 "$src/bench/gen_ldif.py" --groups "$groups" --fanout 10 --users 1000 \
  --probe none --output "$ldif"
export CORVEL_DIRECTORY="ldif:$ldif"

# best SECONDS-VARIABLE RSS-VARIABLE ARGS...: the fastest of the runs.
best() {
  local secs_var=$1 rss_var=$2; shift 2
  local best_secs="" best_rss=0 i
  for i in $(seq "$runs"); do
    /usr/bin/time -f '%e %M' -o "$work/time" "$bin" "$@" </dev/null >"$work/out" 2>/dev/null || true
    read -r secs rss < <(tail -n 1 "$work/time")
    if [ -z "$best_secs" ] || awk "BEGIN{exit !($secs < $best_secs)}"; then best_secs=$secs; fi
    [ "$rss" -gt "$best_rss" ] && best_rss=$rss
  done
  printf -v "$secs_var" '%s' "$best_secs"
  printf -v "$rss_var" '%s' "$best_rss"
}

best load_s load_kb 'CORP\no-such-user' 'CORP\Top'
grep -qF 'error: unable to find the user' "$work/out" || { echo "load run did not stop at the user" >&2; exit 1; }
best total_s total_kb 'probe@corp.example.test' 'CORP\Top'
grep -qxF 'Not a member...' "$work/out" || { echo "walk run gave no verdict:" >&2; cat "$work/out" >&2; exit 1; }

size_mb=$(( $(stat -c %s "$ldif") / 1048576 ))
walk_s=$(awk "BEGIN{printf \"%.2f\", $total_s - $load_s}")
echo "directory: $groups groups, ${size_mb} MB of LDIF; program: $bin; best of $runs runs"
echo "load:        ${load_s} s (peak $((load_kb / 1024)) MB)"
echo "walk:        ${walk_s} s (every group visited, not a member)"
echo "load + walk: ${total_s} s, peak resident memory $((total_kb / 1024)) MB"
awk "BEGIN{exit !($total_s < 3.0)}" && echo "goal load + walk < 3 s: met" || echo "goal load + walk < 3 s: NOT met"
[ "$total_kb" -lt 1048576 ] && echo "goal memory < 1 GB: met" || echo "goal memory < 1 GB: NOT met"
