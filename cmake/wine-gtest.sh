#!/usr/bin/env bash
# Runs one GoogleTest program of the Windows build under Wine, as one CTest
# test. Wine starts slowly, so the whole program runs in one process first.
# On Linux every case runs in a process of its own, and some cases rely on
# the fresh process-wide state (log configuration, thread registry) that
# gives them; a case that fails in the shared process is therefore run again
# alone, and the program passes when each such case passes in a fresh
# process. The cases that needed that are named in the output.
#
# Usage: wine-gtest.sh WINE PROGRAM.exe [EXCLUDED]
# EXCLUDED: cases not run on Windows, "Suite.Case:Suite.Case" (see
# tests/unit/CMakeLists.txt for why each one is left out).
set -uo pipefail
wine=$1
program=$2
filter=()
if [ -n "${3:-}" ]; then
  filter=("--gtest_filter=-$3")
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT

timeout 600 "$wine" "$program" "${filter[@]}" 2>&1 | tee "$out"
status=${PIPESTATUS[0]}
if [ "$status" -eq 0 ]; then
  exit 0
fi

# "[  FAILED  ] Suite.Case (12 ms)" once per case at the end of the run.
mapfile -t cases < <(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/.]*\) (.*/\1/p' "$out" | sort -u)
if [ ${#cases[@]} -eq 0 ]; then
  echo "wine-gtest: $program ended with status $status and no failed case named" >&2
  exit 1
fi
if [ ${#cases[@]} -gt 40 ]; then
  echo "wine-gtest: ${#cases[@]} cases failed; not retrying them one by one" >&2
  exit 1
fi
failed=0
for case in "${cases[@]}"; do
  if timeout 300 "$wine" "$program" --gtest_filter="$case" >"$out" 2>&1; then
    echo "wine-gtest: $case passes in a process of its own"
  else
    echo "wine-gtest: $case FAILS in a process of its own:"
    cat "$out"
    failed=1
  fi
done
exit $failed
