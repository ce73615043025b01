#!/usr/bin/env bash
# Nothing of the emulator may outlive a test: no testbed directory, no
# process, no socket, whether the test passed, failed, crashed or was killed,
# and whether it ran the emulator in-process or through tools/with-wheel.
#
# usage: check_teardown.sh TEARDOWN_PROBE WITH_WHEEL
set -u
probe=$1
with_wheel=$2
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# TMPDIR is a directory of our own, so anything left behind shows up there.
work=$(mktemp -d /tmp/teardown.XXXXXX)
trap 'rm -rf "$work"' EXIT
tmp=$work/tmp
mkdir "$tmp"
pidfile=$work/pid
export TMPDIR=$tmp QTEST_DISABLE_STACK_DUMP=1 WHEELTEST_PROBE_PID_FILE=$pidfile
remember='echo $WHEEL_EMULATOR_PID > '"$pidfile"'; '

# Running, not a zombie waiting to be reaped by whoever inherited it.
alive() {
    local state
    state=$(sed -n 's/^[0-9]* (.*) \(.\) .*/\1/p' "/proc/$1/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}
held() { cat "$pidfile" 2>/dev/null; }
check_clean() { # what, pid of the process that held the wheel
    local left
    left=$(ls -A "$tmp")
    [ -z "$left" ] || fail "$1: left in TMPDIR: $left"
    [ -n "$2" ] && alive "$2" && { fail "$1: process $2 still running"; kill -KILL "$2"; }
    rm -rf "${tmp:?}"/* "$pidfile"
}
# Runs COMMAND in the background as $runner until it holds the wheel.
start() {
    "$@" >/dev/null 2>&1 &
    runner=$!
    for _ in $(seq 200); do [ -s "$pidfile" ] && return; sleep 0.05; done
    fail "$* never held the wheel"
}

# In-process fixture: the probe's child holds the testbed.
for how in pass fail abort; do
    WHEELTEST_PROBE=$how "$probe" >"$work/out" 2>&1
    status=$?
    { [ $how = pass ] && [ $status -eq 0 ]; } || { [ $how != pass ] && [ $status -ne 0 ]; } ||
        { fail "probe $how exited $status"; cat "$work/out" >&2; }
    [ -s "$pidfile" ] || fail "probe $how never held the wheel"
    check_clean "probe $how" "$(held)"
done

# Killed by a time-out (SIGTERM), or outright: then nobody can clean up after
# the process ctest started, so the test child must, once its parent is gone.
for signal in TERM KILL; do
    start env WHEELTEST_PROBE=hang "$probe"
    child=$(held)
    kill -$signal "$runner"
    wait "$runner" 2>/dev/null
    for _ in $(seq 100); do alive "$child" || break; sleep 0.05; done
    check_clean "probe killed by SIG$signal" "$child"
done

# The standalone emulator under with-wheel: COMMAND fails, is killed, or
# with-wheel itself is told to stop.
for case in '0 exit 0' '3 exit 3' '137 kill -KILL $$'; do
    "$with_wheel" -- sh -c "$remember${case#* }" 2>/dev/null
    status=$?
    [ $status -eq "${case%% *}" ] || fail "with-wheel -- ${case#* }: status $status"
    check_clean "with-wheel -- ${case#* }" "$(held)"
done
start "$with_wheel" -- sh -c "${remember}exec sleep 60"
kill -TERM "$runner"
wait "$runner"
check_clean "with-wheel killed" "$(held)"

# The wheel's flash in a state file: replaced whole at exit (nothing but the
# file beside it), read back at the next start, and a file the wheel cannot
# take refused with the reason.
state=$work/state/wheel.json
mkdir "$work/state"
"$with_wheel" --model ULMAR --state "$state" -- true 2>/dev/null || fail "with-wheel --state: first run"
sed -i 's/"biteWord" : [0-9]*/"biteWord" : 1234/' "$state"
"$with_wheel" --model ULMAR --state "$state" -- true 2>/dev/null || fail "with-wheel --state: second run"
grep -q '"biteWord" : 1234' "$state" || fail "state file: the edited bite point did not last a run"
[ "$(grep -c '"[0-9a-f]\{36\}"' "$state")" -eq 8 ] || fail "state file: not the 8 LED pages of a ULMAR"
[ "$(ls -A "$work/state")" = wheel.json ] || fail "state file: left beside it: $(ls -A "$work/state")"
echo '{"biteWord": 1.5}' >"$state"
out=$("$with_wheel" --model ULMAR --state "$state" -- true 2>&1) && fail "state file: a fraction was taken"
case $out in *'"biteWord" must be an integer from 0 to 65535'*) ;; *) fail "state file refused without why: $out" ;; esac
check_clean "with-wheel --state" ""

# Everything killed at once (what ctest does on a time-out): nothing can
# clean up then, so the next emulator sweeps what the dead ones left.
start "$with_wheel" -- sh -c "${remember}exec sleep 60"
emulator=$(held)
sleeper=$(grep -l "^PPid:[[:space:]]*$runner\$" /proc/[0-9]*/status 2>/dev/null | sed 's|/proc/\([0-9]*\)/.*|\1|')
kill -KILL "$runner" "$emulator" $sleeper 2>/dev/null
wait "$runner" 2>/dev/null
[ -n "$(ls -A "$tmp")" ] || fail "killing everything left nothing to sweep (the check checks nothing)"
"$with_wheel" -- true 2>/dev/null || fail "with-wheel after the kill"
check_clean "swept after a kill" "$emulator"

[ $failures -eq 0 ] && echo "teardown: all clean"
exit $((failures > 0))
