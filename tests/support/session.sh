# Sourced by the scripts that drive the real program: a work folder that goes
# on exit together with every process put into pids, also on failure, and
# the helpers they share. $1 names the work folder.
work=$(mktemp -d "${TMPDIR:-/tmp}/quorset-$1.XXXXXX")
pids=()
cleanup() {
    local status=$? pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# These machines have no session bus. Left unset, Qt's accessibility bridge
# has libdbus fork a dbus-launch to find one; a sanitizer build's allocator is
# not fork-safe, so the child could hang before its exec while the font
# thread allocated, and the program's start with it. A bus that is not there
# fails at once. Scripts that want a bus start one of their own.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-session-bus

fail() { echo "FAIL: $*" >&2; exit 1; }

# wait_until SECONDS COMMAND...: polls COMMAND until it succeeds.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.1; done
}

# start_x NAME: starts an X server on a free display and sets x_display.
# Without -noreset the server resets whenever its last client leaves, and
# drops a client that connects during the reset: "unable to open display"
# for about 3 in 100 connections made while another client closes (the
# accessibility bus launcher beside the program, a watch beside xprop).
start_x() {
    Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$work/$1.display" >"$work/$1.log" 2>&1 &
    pids+=($!)
    wait_until 20 test -s "$work/$1.display" || fail "Xvfb did not start"
    x_display=":$(cat "$work/$1.display")"
    wait_until 20 xprop -display "$x_display" -root _XKB_RULES_NAMES >/dev/null 2>&1 ||
        fail "Xvfb on $x_display takes no clients: $(tail -n 3 "$work/$1.log")"
}
