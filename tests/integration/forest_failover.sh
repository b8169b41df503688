#!/usr/bin/env bash
# Failover without loss: a batch of 3,000 questions of 1,000 different users
# runs against dc1 (the client is in its site); dc1 is killed a third of the
# way through (between two answers, then again in full flow), and the run
# goes on with dc2 (behind a 150 ms link): every answer is the one a run
# without the failure gives, exit 0. Then with every DC of the domain down,
# nothing is reported as "not a member": exit 3.
set -uo pipefail

. "$(dirname "$0")/lib/forest_env.sh"
ismember=$build/tools/qzismember/qzIsMember
authtest=$build/tools/qzauthtest/qzAuthTest
require_program "$ismember" qzIsMember
passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
work=$CORVEL_FOREST_DIR/failover
mkdir -p "$work"
base=$CORVEL_FOREST_BASE
d=$CORVEL_FOREST_DNS_DOMAIN
ou="OU=Batch,$base"
users=1000
forest_client near

# 1,000 users; BatchAll holds them all, BatchHalf the even ones, BatchTop
# holds BatchHalf. Loaded on dc1, then waited for on dc2.
{
  printf 'dn: %s\nobjectClass: organizationalUnit\n\n' "$ou"
  for i in $(seq 0 $((users - 1))); do
    printf 'dn: CN=b%d,%s\nobjectClass: user\nsAMAccountName: b%d\nuserPrincipalName: b%d@%s\n\n' \
      "$i" "$ou" "$i" "$i" "$d"
  done
  printf 'dn: CN=BatchAll,%s\nobjectClass: group\nsAMAccountName: BatchAll\n' "$ou"
  for i in $(seq 0 $((users - 1))); do printf 'member: CN=b%d,%s\n' "$i" "$ou"; done
  printf '\ndn: CN=BatchHalf,%s\nobjectClass: group\nsAMAccountName: BatchHalf\n' "$ou"
  for i in $(seq 0 2 $((users - 1))); do printf 'member: CN=b%d,%s\n' "$i" "$ou"; done
  printf '\ndn: CN=BatchTop,%s\nobjectClass: group\nsAMAccountName: BatchTop\nmember: CN=BatchHalf,%s\n\n' \
    "$ou" "$ou"
} > "$work/batch.ldif"
ldapadd -c -Q -Y GSSAPI -H "ldap://$CORVEL_FOREST_DC1_HOST" -f "$work/batch.ldif" > "$work/load.log" 2>&1
for _ in $(seq 1 120); do
  forest_ldap "$CORVEL_FOREST_DC2_HOST" -b "CN=BatchTop,$ou" -s base member 2>/dev/null | grep -q '^member:' && break
  sleep 1
done
forest_ldap "$CORVEL_FOREST_DC2_HOST" -b "CN=BatchTop,$ou" -s base dn >/dev/null 2>&1 ||
  { fail "the batch users did not reach dc2"; echo "failover: $passed passed, $failed failed"; exit 1; }

for i in $(seq 0 $((users - 1))); do
  printf 'b%d@%s\tCORP\\BatchTop\nCORP\\b%d\tCORP\\BatchAll\nb%d@%s\tCORP\\Sales\n' "$i" "$d" "$i" "$i" "$d"
done > "$work/questions"

# The answers without a failure.
timeout 600 "$ismember" --batch < "$work/questions" > "$work/want" 2>"$work/want.err"
status=$?
[ "$status" -eq 0 ] && [ "$(wc -l < "$work/want")" -eq 3000 ] && ok ||
  fail "the run without a failure: exit $status, $(wc -l < "$work/want") answers"
[ "$(grep -c $'\tmember$' "$work/want")" -eq 1500 ] && ok ||
  fail "the reference run has $(grep -c $'\tmember$' "$work/want") members (want 1500)"

# The same run, dc1 killed after the first thousand answers: the batch reads
# the rest only once dc1 is gone.
fifo=$work/fifo
rm -f "$fifo"
mkfifo "$fifo"
timeout 900 "$ismember" -v --batch < "$fifo" > "$work/got" 2>"$work/got.err" &
run=$!
exec 3>"$fifo"
head -n 1000 "$work/questions" >&3
for _ in $(seq 1 600); do [ "$(wc -l < "$work/got")" -ge 1000 ] && break; sleep 0.1; done
kill -9 -- "-$CORVEL_FOREST_DC1_PID" 2>/dev/null || kill -9 "$CORVEL_FOREST_DC1_PID"
tail -n +1001 "$work/questions" >&3
exec 3>&-
wait "$run"
status=$?
if [ "$status" -eq 0 ] && cmp -s "$work/want" "$work/got"; then ok; else
  fail "with dc1 killed: exit $status, $(wc -l < "$work/got") answers, differences:"
  diff "$work/want" "$work/got" | head -5
fi
grep -q 'broke off.*repeating the reads on' "$work/got.err" && ok ||
  fail "no failover in the log: $(grep -F 'ldap:' "$work/got.err" | tail -3)"

# Again, dc1 killed while the batch is in full flow: requests in flight on
# it are asked again of dc2.
forest_start dc1 || fail "dc1 did not come back"
timeout 900 "$ismember" -v --batch < "$work/questions" > "$work/flow" 2>"$work/flow.err" &
run=$!
for _ in $(seq 1 600); do [ "$(wc -l < "$work/flow")" -ge 300 ] && break; sleep 0.02; done
kill -9 -- "-$CORVEL_FOREST_DC1_PID" 2>/dev/null || kill -9 "$CORVEL_FOREST_DC1_PID"
wait "$run"
status=$?
if [ "$status" -eq 0 ] && cmp -s "$work/want" "$work/flow"; then ok; else
  fail "dc1 killed in full flow: exit $status, $(wc -l < "$work/flow") answers, differences:"
  diff "$work/want" "$work/flow" | head -5
fi

# Every DC of the domain down: no answer, and never "not a member".
forest_stop dc2
out=$(timeout 120 "$ismember" b1@$d 'CORP\BatchAll' 2>"$work/down.err")
status=$?
[ "$status" -eq 3 ] && [ -z "$out" ] && ok || fail "all DCs down: exit $status, '$out'"
printf 'b1@%s\tCORP\\BatchAll\nb2@%s\tCORP\\Sales\n' "$d" "$d" |
  timeout 120 "$ismember" --batch > "$work/down.out" 2>/dev/null
status=$?
[ "$status" -eq 3 ] && [ "$(cut -f3 "$work/down.out" | paste -sd,)" = "error,error" ] && ok ||
  fail "all DCs down, batch: exit $status, $(cat "$work/down.out")"
out=$(timeout 120 "$authtest" b1@$d 'CORP\BatchAll' 2>/dev/null | tail -n 1)
[ "$out" = "error: unable to find the user \"b1@$d\"" ] && ok || fail "qzAuthTest, all DCs down: $out"

# The forest whole again for whatever runs next.
forest_start dc1 || fail "dc1 did not come back"
forest_start dc2 || fail "dc2 did not come back"
echo "failover: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
