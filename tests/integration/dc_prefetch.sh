#!/usr/bin/env bash
# The walk over what it fetched ahead (a level of nesting per round trip)
# against the walk that reads group by group (CORVEL_LDAP_PREFETCH_CAP=0) and
# one whose cap is reached in the middle (3 groups): the same verdict, the
# same report and the same trace lines in the same order, on the DC fixtures
# (nesting, a loop, '/' in a DN, an empty group, primary groups), and the
# prefetching walk costs round trips by the depth, not by the groups.
set -uo pipefail

. "$(dirname "$0")/lib/dc_env.sh"
bin=${QZAUTHTEST:-$build/tools/qzauthtest/qzAuthTest}
require_program "$bin" qzAuthTest
d=$CORVEL_DC_DNS_DOMAIN
passed=0
failed=0

# The report and the walk's trace lines, without the time and thread fields.
walk() { # CAP USER GROUP
  CORVEL_LDAP_PREFETCH_CAP=$1 timeout 60 "$bin" "$2" "$3" 2>&1 |
    sed -n 's/^[0-9:]* \[[0-9 ]*[^]]*\]  \(\* _\?isUserInGroup.*\)$/\1/p; /^[AN][a-z]* a member/p; /^A member/p'
}

for question in "bob@$d|CORP\\Level0" "frank@$d|CORP\\Level1" "alice@$d|CORP\\Level0" \
                "carol@$d|CORP\\LoopA" "alice@$d|CORP\\LoopA" "erin@$d|CORP\\RnD Team" \
                "bob@$d|CORP\\RnD Team" "alice@$d|CORP\\Empty" "grace@$d|CORP\\PosixGrand" \
                "alice@$d|CORP\\Users" "alice@$d|CORP\\PosixGrand"; do
  user=${question%%|*}
  group=${question#*|}
  lazy=$(walk 0 "$user" "$group")
  ahead=$(walk 20000 "$user" "$group")
  capped=$(walk 3 "$user" "$group")
  if [ -n "$lazy" ] && [ "$lazy" = "$ahead" ] && [ "$lazy" = "$capped" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $user in $group: the walks differ"
    diff <(printf '%s\n' "$lazy") <(printf '%s\n' "$ahead") | sed 's/^/    ahead: /' | head -10
    diff <(printf '%s\n' "$lazy") <(printf '%s\n' "$capped") | sed 's/^/    capped: /' | head -10
  fi
done

# Round trips of the walk's own session (the last cost line): the depth of
# Level0 > Level1 > Level2 > Level3 > bob is 4.
trips=$(timeout 60 "$bin" "bob@$d" 'CORP\Level0' 2>&1 | sed -n 's/.*ldap: [0-9]* requests in \([0-9]*\) round trips.*/\1/p' | tail -n 1)
if [ -n "$trips" ] && [ "$trips" -le 7 ]; then passed=$((passed + 1)); else
  failed=$((failed + 1)); echo "FAIL: the walk of depth 4 took ${trips:-?} round trips (at most 7)"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
