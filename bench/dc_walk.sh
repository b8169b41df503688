#!/usr/bin/env bash
# Whole-program timing of the live membership walk on the throw-away DC.
#
#   CORVEL_DC_DIR=<dir of scripts/samba-dc start> bench/dc_walk.sh [qzAuthTest]
#
# Loads (once) a chain of 200 nested groups and a wide tree of 2,000 groups
# under one top group, with a user of their own (benchwalker, so that the
# fixture users' memberships stay as the integration tests expect) only at the
# far end of each, then reports for each: LDAP operations of the walk per group
# visited, and the wall time of qzAuthTest against ldapsearch asking the same
# with the in-chain rule.
set -euo pipefail
[ -n "${CORVEL_DC_DIR:-}" ] || { echo "CORVEL_DC_DIR is not set"; exit 1; }
src=$(cd "$(dirname "$0")/.." && pwd)
eval "$("$src/scripts/samba-dc" env "$CORVEL_DC_DIR")"
bin=${1:-${CORVEL_BINARY_DIR:-$src/build}/tools/qzauthtest/qzAuthTest}
runs=${BENCH_RUNS:-10}
base=$CORVEL_DC_BASE
ou="OU=Bench,$base"
bob="CN=Bench Walker,$ou"
ldap() { "$@" -Q -Y GSSAPI -H "$CORVEL_DIRECTORY"; }

if ! ldap ldapsearch -b "$ou" -s base dn >/dev/null 2>&1; then
  ldif=$CORVEL_DC_DIR/bench.ldif
  {
    printf 'dn: %s\nobjectClass: organizationalUnit\n\n' "$ou"
    printf 'dn: %s\nobjectClass: user\nsAMAccountName: benchwalker\n\n' "$bob"
    # The chain, bottom up: Chain199 holds the walker, Chain(i) holds Chain(i+1).
    for i in $(seq 199 -1 0); do
      printf 'dn: CN=Chain%03d,%s\nobjectClass: group\nsAMAccountName: Chain%03d\n' "$i" "$ou" "$i"
      if [ "$i" -eq 199 ]; then printf 'member: %s\n' "$bob"
      else printf 'member: CN=Chain%03d,%s\n' $((i + 1)) "$ou"; fi
      echo
    done
    # The wide tree: Wide holds W0000..W1999, only the last holds the walker.
    for i in $(seq 0 1999); do
      printf 'dn: CN=W%04d,%s\nobjectClass: group\nsAMAccountName: W%04d\n' "$i" "$ou" "$i"
      [ "$i" -eq 1999 ] && printf 'member: %s\n' "$bob"
      echo
    done
    printf 'dn: CN=Wide,%s\nobjectClass: group\nsAMAccountName: Wide\n' "$ou"
    for i in $(seq 0 1999); do printf 'member: CN=W%04d,%s\n' "$i" "$ou"; done
    echo
  } > "$ldif"
  t0=$(date +%s)
  ldap ldapadd -f "$ldif" > "$CORVEL_DC_DIR/bench-load.log"
  echo "loaded 2,201 groups in $(( $(date +%s) - t0 )) s"
fi

# Milliseconds of N runs of a command, per run.
per_run_ms() {
  local t0 t1
  t0=$(date +%s%N)
  for _ in $(seq 1 "$runs"); do "$@" > /dev/null 2>&1; done
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / runs / 1000000 ))
}

for top in Chain000 Wide; do
  group="CN=$top,$ou"
  out=$(CORVEL_LDAP_STATS=1 "$bin" 'CORP\benchwalker' "$group" 2>&1)
  verdict=$(printf '%s\n' "$out" | grep -E '^(A member|Not a member)')
  # The last session is the walk; the walk's visits are its IsMember traces.
  ops=$(printf '%s\n' "$out" | grep -o 'ldap: [0-9]* operations' | tail -n 1 | grep -o '[0-9]*')
  visits=$(printf '%s\n' "$out" | grep -c 'checking IsMember of group .* for user: "[^"]*"$' || true)
  prog=$(per_run_ms "$bin" 'CORP\benchwalker' "$group")
  search=$(per_run_ms ldap ldapsearch -b "$base" \
    "(&(distinguishedName=$bob)(memberOf:1.2.840.113556.1.4.1941:=$group))" dn)
  ratio=$(awk -v p="$prog" -v s="$search" 'BEGIN{ if (s > 0) printf "%.1f", p / s; else print "-" }')
  printf '%-9s %-15s walk: %s LDAP operations for %s groups visited (%s per group); qzAuthTest %s ms, ldapsearch in-chain %s ms (ratio %s)\n' \
    "$top" "$verdict" "$ops" "$visits" \
    "$(awk -v o="$ops" -v v="$visits" 'BEGIN{ if (v > 0) printf "%.3f", o / v; else print "-" }')" \
    "$prog" "$search" "$ratio"
done
