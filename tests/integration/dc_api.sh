#!/usr/bin/env bash
# Runs dc_api_test (the authenticator API against the throw-away DC) with the
# DC's environment.
set -uo pipefail
. "$(dirname "$0")/lib/dc_env.sh"
bin=${DC_API_TEST:-$build/tests/integration/dc_api_test}
require_program "$bin" dc_api_test
# The live backend reads its time-out once per process: short, so that the
# cases freezing the DC end quickly.
CORVEL_LDAP_TIMEOUT=3 timeout 300 "$bin"
