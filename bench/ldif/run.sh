#!/usr/bin/env bash
# Whole-program timing of qzAuthTest over large LDIF exports, in one run:
# for each size, a tree of groups 50 levels deep under CORP\Top with the
# attributes an Active Directory export carries (bench/gen_ldif.py --shape
# levels --ad), and the worst case: a user in no group, so the walk visits
# every group.
#
#   bench/ldif/run.sh [qzAuthTest]          (default: build/release/...)
#   BENCH_SIZES="100000 1000000"  BENCH_RUNS=3  BENCH_DIR=<keep the files here>
#
# For each size, best of the runs: the load (a run that loads the directory
# and stops at an unknown user), load and walk (the probe user against
# Top), and the peak resident memory of each (/usr/bin/time), with its
# ratio to the file size. Seconds are wall-clock; "cpu" is user + system
# time of all threads, steadier on a machine shared with other work.
# Diagnostics and traces go to /dev/null: they are all written, but this
# times the program, not a terminal.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
bin=${1:-$src/build/release/tools/qzauthtest/qzAuthTest}
[ -x "$bin" ] || { echo "no program at $bin" >&2; exit 1; }
sizes=${BENCH_SIZES:-100000 1000000}
runs=${BENCH_RUNS:-3}
work=${BENCH_DIR:-$(mktemp -d)}
[ -n "${BENCH_DIR:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"

# best SECONDS-VARIABLE CPU-VARIABLE RSS-VARIABLE ARGS...: the fastest of
# the runs (wall and cpu apart) and the largest peak.
best() {
  local secs_var=$1 cpu_var=$2 rss_var=$3; shift 3
  local best_secs="" best_cpu="" best_rss=0 secs rss user sys cpu i
  for i in $(seq "$runs"); do
    /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$bin" "$@" </dev/null >"$work/out" 2>/dev/null || true
    read -r secs rss user sys < <(tail -n 1 "$work/time")
    cpu=$(awk "BEGIN{printf \"%.2f\", $user + $sys}")
    if [ -z "$best_secs" ] || awk "BEGIN{exit !($secs < $best_secs)}"; then best_secs=$secs; fi
    if [ -z "$best_cpu" ] || awk "BEGIN{exit !($cpu < $best_cpu)}"; then best_cpu=$cpu; fi
    [ "$rss" -gt "$best_rss" ] && best_rss=$rss
  done
  printf -v "$secs_var" '%s' "$best_secs"
  printf -v "$cpu_var" '%s' "$best_cpu"
  printf -v "$rss_var" '%s' "$best_rss"
}

echo "program: $bin; best of $runs runs"
printf '%-9s %8s %8s %8s %8s %9s %9s %9s %6s\n' groups "file MB" "load s" "load cpu" "load MB" \
  "total s" "total cpu" "total MB" ratio
for groups in $sizes; do
  ldif=$work/levels$groups.ldif
  [ -s "$ldif" ] || python3 "$src/bench/gen_ldif.py" --groups "$groups" --shape levels --depth 50 \
    --users 1000 --ad --probe none --output "$ldif"
  export CORVEL_DIRECTORY="ldif:$ldif"
  best load_s load_cpu load_kb 'CORP\no-such-user' 'CORP\Top'
  grep -qF 'error: unable to find the user' "$work/out" || { echo "load run did not stop at the user" >&2; exit 1; }
  best total_s total_cpu total_kb 'probe@corp.example.test' 'CORP\Top'
  grep -qxF 'Not a member...' "$work/out" || { echo "walk run gave no verdict:" >&2; cat "$work/out" >&2; exit 1; }
  file_kb=$(( $(stat -c %s "$ldif") / 1024 ))
  peak_kb=$(( load_kb > total_kb ? load_kb : total_kb ))
  printf '%-9s %8d %8s %8s %8d %9s %9s %9d %6s\n' "$groups" $((file_kb / 1024)) "$load_s" "$load_cpu" \
    $((load_kb / 1024)) "$total_s" "$total_cpu" $((total_kb / 1024)) \
    "$(awk "BEGIN{printf \"%.2f\", $peak_kb / $file_kb}")"
done
