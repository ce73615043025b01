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

# Everything runs with TMPDIR in a directory of our own, so that anything
# left behind shows up there and nowhere else.
work=$(mktemp -d /tmp/teardown.XXXXXX)
trap 'rm -rf "$work"' EXIT
tmp=$work/tmp
mkdir "$tmp"
pidfile=$work/pid
# A crashing probe would otherwise spend seconds in gdb printing its stack.
export QTEST_DISABLE_STACK_DUMP=1

# Running, not a zombie waiting to be reaped by whoever inherited it.
alive() {
    local state
    state=$(sed -n 's/^[0-9]* (.*) \(.\) .*/\1/p' "/proc/$1/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

# The children of a process.
children() {
    grep -l "^PPid:[[:space:]]*$1\$" /proc/[0-9]*/status 2>/dev/null | sed 's|/proc/\([0-9]*\)/status|\1|'
}

check_clean() { # what, pid...
    local what=$1
    shift
    local left
    left=$(ls -A "$tmp")
    [ -z "$left" ] || fail "$what: left in TMPDIR: $left"
    for pid in "$@"; do
        [ -n "$pid" ] || continue
        if alive "$pid"; then
            fail "$what: process $pid still running"
            kill -KILL "$pid" 2>/dev/null
        fi
    done
    rm -rf "${tmp:?}"/* "$pidfile"
}

# In-process fixture: the probe's child holds the testbed.
for how in pass fail abort; do
    rm -f "$pidfile"
    TMPDIR=$tmp WHEELTEST_PROBE=$how WHEELTEST_PROBE_PID_FILE=$pidfile "$probe" >"$work/out" 2>&1
    status=$?
    case $how in
    pass) [ $status -eq 0 ] || { fail "probe pass exited $status"; cat "$work/out" >&2; } ;;
    *) [ $status -ne 0 ] || fail "probe $how exited 0" ;;
    esac
    [ -s "$pidfile" ] || fail "probe $how never held the wheel"
    check_clean "probe $how" "$(cat "$pidfile" 2>/dev/null)"
done

# Killed by a time-out: SIGTERM to the process ctest started.
rm -f "$pidfile"
TMPDIR=$tmp WHEELTEST_PROBE=hang WHEELTEST_PROBE_PID_FILE=$pidfile "$probe" >/dev/null 2>&1 &
parent=$!
for _ in $(seq 200); do [ -s "$pidfile" ] && break; sleep 0.05; done
[ -s "$pidfile" ] || fail "hanging probe never held the wheel"
kill -TERM "$parent"
wait "$parent"
check_clean "probe killed" "$(cat "$pidfile" 2>/dev/null)"

# Killed outright: nobody can clean up after the process ctest started, so
# the test child must, once it notices its parent is gone.
rm -f "$pidfile"
TMPDIR=$tmp WHEELTEST_PROBE=hang WHEELTEST_PROBE_PID_FILE=$pidfile "$probe" >/dev/null 2>&1 &
parent=$!
for _ in $(seq 200); do [ -s "$pidfile" ] && break; sleep 0.05; done
[ -s "$pidfile" ] || fail "hanging probe never held the wheel"
child=$(cat "$pidfile" 2>/dev/null)
kill -KILL "$parent"
wait "$parent" 2>/dev/null
for _ in $(seq 100); do alive "$child" || break; sleep 0.05; done
check_clean "probe's parent killed" "$child"

# The standalone emulator under with-wheel: COMMAND fails, is killed, or
# with-wheel itself is told to stop.
run_with_wheel() { # expected-status command...
    local expected=$1
    shift
    TMPDIR=$tmp "$with_wheel" -- sh -c 'echo $WHEEL_EMULATOR_PID > '"$pidfile"'; '"$*" 2>/dev/null
    local status=$?
    [ $status -eq "$expected" ] || fail "with-wheel -- $*: status $status, expected $expected"
    check_clean "with-wheel -- $*" "$(cat "$pidfile" 2>/dev/null)"
}
run_with_wheel 0 'exit 0'
run_with_wheel 3 'exit 3'
run_with_wheel 137 'kill -KILL $$'

TMPDIR=$tmp "$with_wheel" -- sh -c 'echo $WHEEL_EMULATOR_PID > '"$pidfile"'; exec sleep 60' >/dev/null 2>&1 &
runner=$!
for _ in $(seq 200); do [ -s "$pidfile" ] && break; sleep 0.05; done
[ -s "$pidfile" ] || fail "with-wheel never ran its command"
kill -TERM "$runner"
wait "$runner"
check_clean "with-wheel killed" "$(cat "$pidfile" 2>/dev/null)"

# Everything killed at once (what ctest does on a time-out): nothing can
# clean up then, so the next emulator sweeps what the dead ones left.
TMPDIR=$tmp "$with_wheel" -- sh -c 'echo $WHEEL_EMULATOR_PID > '"$pidfile"'; exec sleep 60' >/dev/null 2>&1 &
runner=$!
for _ in $(seq 200); do [ -s "$pidfile" ] && break; sleep 0.05; done
emulator=$(cat "$pidfile" 2>/dev/null)
sleeper=$(children "$runner")
kill -KILL "$runner" "$emulator" $sleeper 2>/dev/null
wait "$runner" 2>/dev/null
[ -n "$(ls -A "$tmp")" ] || fail "killing everything left nothing to sweep (the check checks nothing)"
TMPDIR=$tmp "$with_wheel" -- true 2>/dev/null || fail "with-wheel after the kill"
check_clean "swept after a kill" "$emulator"

[ $failures -eq 0 ] && echo "teardown: all clean"
exit $((failures > 0))
