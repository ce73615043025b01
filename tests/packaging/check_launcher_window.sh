#!/usr/bin/env bash
# Starts the program on an X server of its own and checks that the desktop
# can pair its window with the launcher: window managers match the instance
# part of WM_CLASS against the launcher's StartupWMClass.
#
#   check_launcher_window.sh PROGRAM DESKTOP_FILE
set -euo pipefail
work=$(mktemp -d "${TMPDIR:-/tmp}/quorset-launcher.XXXXXX")
cleanup() {
    local status=$?
    kill $(jobs -p) 2>/dev/null || true
    wait || true
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAIL: $*" >&2; exit 1; }
wait_until() { # SECONDS COMMAND...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.1; done
}
find_window() { window=$(xdotool search --all --onlyvisible --pid "$program_pid" | head -1) && [ -n "$window" ]; }

expected=$(sed -n 's/^StartupWMClass=//p' "$2")
[ -n "$expected" ] || fail "$2 has no StartupWMClass"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
wait_until 20 test -s "$work/display" || fail "Xvfb did not start"
# A private runtime directory keeps the single-instance guard away from any
# other copy of the program.
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$1" >"$work/program.log" 2>&1 &
program_pid=$!
wait_until 30 find_window || fail "no window (program log: $(cat "$work/program.log"))"
# WM_CLASS(STRING) = "instance", "class"
wm_class=$(xprop -id "$window" WM_CLASS)
instance=$(sed -n 's/^WM_CLASS([A-Z_]*) = "\([^"]*\)".*/\1/p' <<<"$wm_class")
[ "$instance" = "$expected" ] || fail "window has $wm_class, launcher expects StartupWMClass=$expected"
echo "PASS: $wm_class"
