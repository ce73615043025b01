#!/usr/bin/env bash
# Drives the real program on X servers of its own, the way a person would:
# dragging the frameless window by its header, the tray, second starts,
# quorctl beside the window and closing; or on a Wayland compositor of its
# own. Every process it starts is stopped on exit, also on failure.
#
#   desktop_session.sh PROGRAM tray QUORCTL LAUNCHER     with a tray host (Debian's trayer)
#   desktop_session.sh PROGRAM no-tray QUORCTL LAUNCHER  without one
#   desktop_session.sh PROGRAM wayland CHECK... under weston's headless back
#       end, where CHECK (a window test with the emulated wheel) runs too
set -euo pipefail

program=$1
mode=$2
quorctl=${3:-}
launcher=${4:-}
title="Quor Controls Setting"

source "$(dirname "${BASH_SOURCE[0]}")/../support/session.sh" desktop
step() { echo "== $*"; }
# What the program said is the first thing to read when a step fails.
fail() {
    echo "FAIL: $*" >&2
    if [ -s "$work/program.log" ]; then
        echo "-- the end of the program's log:" >&2
        tail -n 15 "$work/program.log" >&2
    fi
    if [ -n "${qpid:-}" ] && ! kill -0 "$qpid" 2>/dev/null; then
        local status=0
        wait "$qpid" || status=$?
        echo "-- the program had ended, with status $status" >&2
    fi
    # Where a copy that still runs stands, for a start that hangs.
    local pid
    for pid in ${qpid:-} ${other:-}; do
        kill -0 "$pid" 2>/dev/null && command -v gdb >/dev/null || continue
        echo "-- the threads of $pid:" >&2
        gdb -batch -p "$pid" -ex 'thread apply all bt 25' 2>&1 | grep -E '^(Thread|#)' >&2 || true
    done
    exit 1
}

# The window's position and size: sets win_x, win_y, win_w, win_h.
read_geometry() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
}

is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
is_hidden() { ! is_viewable "$1"; }
is_at() { read_geometry "$1" && [ "$win_x" = "$2" ] && [ "$win_y" = "$3" ]; }

# The visible windows of a process other than its main window, as
# "id width height" lines: the tray icon and an open menu. Only run in
# subshells, so the geometry it reads does not clobber the caller's.
small_windows() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        [ "$id" = "$window" ] && continue
        read_geometry "$id"
        echo "$id $win_w $win_h"
    done
}
tray_icon() { small_windows "$1" | awk '$2 <= 48 && $3 <= 48 { print $1; exit }'; }
popup_menu() { small_windows "$1" | awk '$2 > 48 { print $1; exit }'; }
has_tray_icon() { [ -n "$(tray_icon "$1")" ]; }
has_no_tray_icon() { [ -z "$(tray_icon "$1")" ]; }
has_menu() { [ -n "$(popup_menu "$1")" ]; }

# click_window_at WINDOW X Y CLICK-ARGUMENTS...: xdotool click at X,Y in WINDOW.
click_window_at() {
    read_geometry "$1"
    xdotool mousemove $((win_x + $2)) $((win_y + $3)) click "${@:4}"
}
# Qt marks a window it asks to iconify in its WM_HINTS; without a window
# manager nobody iconifies it, and it must stay mapped rather than vanish.
asked_iconic() { xprop -id "$window" WM_HINTS | grep -q 'Initial state is Iconic'; }
minimise() {
    click_window_at "$window" 842 22 1
    if [ "$mode" = tray ]; then
        wait_until 10 is_hidden "$window" || fail "minimise left the window on screen"
        wait_until 10 has_tray_icon "$qpid" || fail "no tray icon after minimising"
    else
        wait_until 10 asked_iconic || fail "minimise did not ask to iconify the window"
        is_viewable "$window" || fail "minimise without a tray host withdrew the window"
        has_no_tray_icon "$qpid" || fail "a tray icon without a tray host"
    fi
}

# above WINDOW OTHER: WINDOW is stacked above OTHER (xwininfo lists the top first).
above() {
    local first
    first=$(xwininfo -root -children | grep -oE "^ +($(printf 0x%x "$1")|$(printf 0x%x "$2")) " | head -1)
    [ "$((first))" = "$1" ]
}
logged() { grep -q "$1" "$work/program.log"; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# The X server's time now, as a launcher puts it into a startup id: the time
# stamp of a property change on the covering window, which its watch reads.
# Not on the root window: the program watches that, and every event it gets
# moves its own idea of the time forward, which would hide a stale request.
server_time() {
    mark_seen "$work/cover.events" "$DISPLAY" "$cover" || fail "the watch on the covering window stopped"
    grep '(QUORSET_TEST_MARK)' "$work/cover.events" | tail -n 1 | sed 's/.*time \([0-9]*\).*/\1/'
}

# Watches are xev processes logging a window's events to a file. X delivers
# events in order: once a property change made now shows up in a watch's
# log, everything that happened before it is there too.
# mark_seen LOG DISPLAY WINDOW: makes such a change on WINDOW ("root" or an
# id) and waits for it; a watch that does not listen yet misses a change, so
# it is made again.
mark_count() { grep -c '(QUORSET_TEST_MARK)' "$1" || true; }
more_marks_than() { [ "$(mark_count "$1")" -gt "$2" ]; }
window_args() { if [ "$1" = root ]; then echo -root; else echo -id "$1"; fi; }
mark_seen() {
    local before try
    before=$(mark_count "$1")
    for try in 1 2 3 4 5; do
        xprop -display "$2" $(window_args "$3") -f QUORSET_TEST_MARK 8s -set QUORSET_TEST_MARK "$try"
        wait_until 1 more_marks_than "$1" "$before" && return
    done
    return 1
}
# start_watch LOG DISPLAY WINDOW EVENT...: a watch on WINDOW of DISPLAY for
# the EVENT masks (property among them), listening when this returns.
start_watch() {
    local log=$1 display=$2 target=$3 event events=()
    shift 3
    for event in "$@"; do events+=(-event "$event"); done
    : >"$log" # there before the first count of its marks
    xev -display "$display" $(window_args "$target") "${events[@]}" >>"$log" 2>&1 &
    pids+=("$!")
    mark_seen "$log" "$display" "$target" || fail "no watch on $target of $display: $(tail -n 3 "$log")"
}

map_count() { grep -c '^MapNotify' "$work/second.events" || true; }
maps_seen() { [ "$(map_count)" -gt 0 ]; }
# --- Wayland ---------------------------------------------------------------
# The headless back end has no input seat, so the drag and the clicks are
# left to X11; here the program must come up as a native Wayland client,
# announce the launcher's app id, draw its window and guard its start.
if [ "$mode" = wayland ]; then
    shift 2
    export XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=wayland
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    unset DISPLAY
    weston --backend=headless-backend.so --socket=quorset-test --idle-time=0 >"$work/weston.log" 2>&1 &
    pids+=($!)
    # An absolute path, so tests that move XDG_RUNTIME_DIR still find it.
    export WAYLAND_DISPLAY=$XDG_RUNTIME_DIR/quorset-test
    wait_until 20 test -S "$WAYLAND_DISPLAY" || fail "weston did not start: $(tail -n 5 "$work/weston.log")"

    step "window, pages and the wheel"
    "$@" || fail "the window test failed on Wayland"

    step "start"
    WAYLAND_DEBUG=client "$program" 2>"$work/program.log" &
    qpid=$!
    pids+=("$qpid")
    drawn() { grep -q 'wl_surface@[0-9]*\.attach(wl_buffer@' "$work/program.log"; }
    wait_until 30 drawn || fail "no window drawn: $(grep -v '^\[' "$work/program.log" | tail -n 5)"
    grep -q 'xdg_toplevel@[0-9]*\.set_app_id("example\.quorcontrols\.QuorSet")' "$work/program.log" ||
        fail "the window does not announce the launcher's app id"
    grep -q 'xdg_toplevel@[0-9]*\.set_title("'"$title"'")' "$work/program.log" || fail "window has no title"

    step "second start"
    status=0
    timeout 60 "$program" 2>/dev/null || status=$?
    [ "$status" = 239 ] || fail "second start exited with $status, not 239 (-17)"
    kill -0 "$qpid" || fail "the first copy ended"
    echo "PASS"
    exit 0
fi

# --- the desktop ---------------------------------------------------------
start_x main
export DISPLAY=$x_display
start_watch "$work/main.events" "$DISPLAY" root property
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"

# The tray host once failed to show up within 20 s on a loaded CI machine,
# before the program had even started; a second try and its log tell a
# flaky host from a real failure.
start_trayer() {
    trayer --edge top --align right --widthtype pixel --width 100 --height 32 >>"$work/trayer.log" 2>&1 &
    trayer_pid=$!
    pids+=($!)
    wait_until 20 xdotool search --onlyvisible --class trayer >/dev/null
}
if [ "$mode" = tray ]; then
    start_trayer || start_trayer || fail "trayer did not start: $(tail -n 5 "$work/trayer.log")"
fi

step "start"
QT_LOGGING_RULES=default.debug=true "$program" 2>"$work/program.log" &
qpid=$!
pids+=("$qpid")
wait_until 30 xdotool search --all --onlyvisible --pid "$qpid" --name "^$title\$" >/dev/null || fail "no window"
window=$(xdotool search --all --onlyvisible --pid "$qpid" --name "^$title\$" | head -1)
read_geometry "$window"
[ "$win_w" = 900 ] && [ "$win_h" = 500 ] || fail "window is ${win_w}x$win_h, not 900x500"
# No native frame: the Motif hints (flags, functions, decorations, ...) mark
# the decorations field as set and ask for none.
hints=$(xprop -id "$window" _MOTIF_WM_HINTS | sed -n 's/.*= //p' | tr -d ' ')
IFS=, read -r hint_flags _ hint_decorations _ <<<"$hints"
((hint_flags & 2)) && ((hint_decorations == 0)) || fail "window asks for a frame (Motif hints $hints)"
# Window managers pair the window with its launcher by the instance part of
# WM_CLASS ("instance", "class"), which must be the launcher's StartupWMClass.
wm_class=$(xprop -id "$window" WM_CLASS)
expected=$(sed -n 's/^StartupWMClass=//p' "$launcher")
[ -n "$expected" ] && [[ $wm_class == *"= \"$expected\","* ]] ||
    fail "window has $wm_class, the launcher expects StartupWMClass=$expected"

step "drag by the header band"
read_geometry "$window"
x0=$win_x y0=$win_y
xdotool mousemove $((x0 + 450)) $((y0 + 25)) mousedown 1
xdotool mousemove $((x0 + 480)) $((y0 + 45))
xdotool mousemove $((x0 + 510)) $((y0 + 65))
xdotool mouseup 1
wait_until 10 is_at "$window" $((x0 + 60)) $((y0 + 40)) || fail "drag moved the window to $win_x,$win_y"

step "minimise"
minimise

if [ "$mode" = tray ]; then
    step "single click on the tray icon does nothing"
    icon=$(tray_icon "$qpid")
    click_window_at "$icon" 11 11 1
    sleep 1.5
    is_hidden "$window" || fail "a single click restored the window"

    step "double click on the tray icon restores"
    click_window_at "$icon" 11 11 --repeat 2 --delay 80 1
    wait_until 10 is_viewable "$window" || fail "double click did not restore the window"
    wait_until 10 has_no_tray_icon "$qpid" || fail "tray icon still shown after restoring"

    step "Restore from the tray menu"
    minimise
    click_window_at "$(tray_icon "$qpid")" 11 11 3
    wait_until 10 has_menu "$qpid" || fail "no menu on right click"
    menu=$(popup_menu "$qpid")
    read_geometry "$menu"
    click_window_at "$menu" $((win_w / 2)) $((win_h / 2)) 1
    wait_until 10 is_viewable "$window" || fail "Restore did not show the window"

    minimise
fi

step "second start"
# The second copy gets a display of its own, watched for windows being
# mapped, so any window it shows is seen even if it is gone a moment later.
start_x second
second_display=$x_display
start_watch "$work/second.events" "$second_display" root substructure property
# A copy in another session is not refused, and its window proves the watch.
mkdir -m 700 "$work/run-other"
XDG_RUNTIME_DIR=$work/run-other DISPLAY=$second_display QT_LOGGING_RULES=default.debug=true \
    "$program" 2>"$work/other.log" &
other=$!
pids+=("$other")
if ! wait_until 30 maps_seen; then
    kill -0 "$other" 2>/dev/null && state="still runs" || state="has ended"
    fail "a copy in another session showed no window; it $state, its log ends: $(tail -n 15 "$work/other.log")
-- the watch on $second_display saw: $(tail -n 5 "$work/second.events")"
fi
kill -0 "$other" || fail "a copy in another session was refused"
kill "$other"
wait "$other" || true
maps_before=$(map_count)

status=0
DISPLAY=$second_display timeout 60 "$program" || status=$?
[ "$status" = 239 ] || fail "second start exited with $status, not 239 (-17)"
mark_seen "$work/second.events" "$second_display" root || fail "the window watch on $second_display stopped"
[ "$(map_count)" = "$maps_before" ] || fail "the refused copy showed a window"
wait_until 10 is_viewable "$window" || fail "second start did not bring the window back"
if [ "$mode" = tray ]; then
    wait_until 10 has_no_tray_icon "$qpid" || fail "tray icon still shown after the second start"
fi

step "a second start raises a covered window"
read_geometry "$window"
xmessage -geometry "900x500+$win_x+$win_y" "covering the window" 2>/dev/null &
pids+=($!)
cover_pid=$!
wait_until 20 xdotool search --onlyvisible --class Xmessage >/dev/null || fail "no covering window"
cover=$(xdotool search --onlyvisible --class Xmessage | head -1)
start_watch "$work/cover.events" "$DISPLAY" "$cover" property
above "$cover" "$window" || fail "the covering window is not on top"
# The focus goes to the cover now; a start the user makes afterwards comes
# with a startup id stamped later, as a launcher's click would.
xdotool windowfocus "$cover"
wait_until 10 has_focus "$cover" || fail "the covering window did not take the focus"
startup_id="quorset-test-$$_TIME$(server_time)"
echo "startup id $startup_id"
status=0
DESKTOP_STARTUP_ID=$startup_id DISPLAY=$second_display timeout 60 "$program" || status=$?
[ "$status" = 239 ] || fail "second start exited with $status, not 239 (-17)"
wait_until 10 above "$window" "$cover" || fail "second start left the window covered"
wait_until 10 has_focus "$window" || fail "second start did not give the window the focus"
# The launcher's busy feedback ends: the window reports the start as done.
wait_until 10 grep -q '_NET_STARTUP_INFO_BEGIN' "$work/main.events" ||
    fail "the start was not reported done; the root window saw: $(tail -n 12 "$work/main.events")"
kill "$cover_pid"

step "quorctl beside a minimised window"
minimise
status=0
"$quorctl" status >"$work/quorctl.log" 2>&1 || status=$?
[ "$status" = 3 ] || fail "quorctl status beside the window exited with $status: $(cat "$work/quorctl.log")"
grep -q "the QuorSet window is running" "$work/quorctl.log" || fail "quorctl said: $(cat "$work/quorctl.log")"
wait_until 10 logged "found by a probe" || fail "the window did not see quorctl's probe"
if [ "$mode" = tray ]; then
    is_hidden "$window" || fail "quorctl brought the window out of the tray"
    has_tray_icon "$qpid" || fail "quorctl took the tray icon away"

    step "the tray host goes"
    kill "$trayer_pid"
    wait_until 10 is_viewable "$window" || fail "the window stayed hidden with no tray host left"
    wait_until 10 has_no_tray_icon "$qpid" || fail "tray icon still shown with no tray host"
else
    asked_iconic || fail "quorctl brought the window back"
fi
logged "asks for the window" && [ "$(grep -c "asks for the window" "$work/program.log")" = 2 ] ||
    fail "the window took more than the two second starts as requests"

if [ "$mode" = no-tray ]; then
    step "a tray host appears"
    start_trayer || start_trayer || fail "trayer did not start: $(tail -n 5 "$work/trayer.log")"
    wait_until 10 is_hidden "$window" || fail "the minimised window did not go to the new tray"
    wait_until 10 has_tray_icon "$qpid" || fail "no tray icon in the new tray"
    click_window_at "$(tray_icon "$qpid")" 11 11 --repeat 2 --delay 80 1
    wait_until 10 is_viewable "$window" || fail "double click did not restore the window"
fi

step "close"
click_window_at "$window" 872 22 1
wait_until 20 eval '! kill -0 "$qpid" 2>/dev/null' || fail "close did not end the program"
status=0
wait "$qpid" || status=$?
[ "$status" = 0 ] || fail "program ended with $status after close"
echo "PASS"
