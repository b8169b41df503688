#!/usr/bin/env bash
# Runs dc_api_test (the authenticator API against the throw-away DC) with the
# DC's environment.
set -uo pipefail
if [ -z "${CORVEL_DC_DIR:-}" ]; then
  echo "SKIPPED: no domain controller"
  exit 0
fi
src=${CORVEL_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
eval "$("$src/scripts/samba-dc" env "$CORVEL_DC_DIR")" || exit 1
bin=${DC_API_TEST:-${CORVEL_BINARY_DIR:-$src/build}/tests/integration/dc_api_test}
[ -x "$bin" ] || { echo "no dc_api_test at $bin"; exit 1; }
timeout 300 "$bin"
