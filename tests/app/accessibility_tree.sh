#!/usr/bin/env bash
# The program's accessibility tree, as a screen reader sees it, for every
# wheel model: on an X server, a session bus and an accessibility bus of its
# own, against the emulated wheel, switched from model to model without a
# restart. Fails on any interactive control without a name.
#
#   accessibility_tree.sh PROGRAM EMULATOR
set -euo pipefail

program=$1
export WHEEL_EMULATOR=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
walk=$here/accessibility_walk.py
# The first is the wheel the emulator starts with.
models=(SRD7 H-ZET VLN6 H-MIRA OV410 KLINO4 ULMAR PELIX)

source "$here/../support/session.sh" a11y
start_x main
export DISPLAY=$x_display XDG_RUNTIME_DIR=$work HOME=$work

# Inside the session bus: the accessibility bus, the program, the walk. The
# walk's python is Debian's and must not load the umockdev preload.
session() {
    local status=0
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    local bus=$!
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
    local app=$!
    env -u LD_PRELOAD /usr/bin/python3 "$walk" "$(basename "$program")" "$@" || status=$?
    kill "$app" "$bus" 2>/dev/null || true
    wait "$app" "$bus" 2>/dev/null || true
    [ "$status" -eq 0 ] || { echo "--- program log" >&2; tail -20 "$work/program.log" >&2; }
    return "$status"
}
export -f session
export program walk work
"$here/../../tools/with-wheel" --model "${models[0]}" -- dbus-run-session -- bash -c 'session "$@"' session "${models[@]}"
