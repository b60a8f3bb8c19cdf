#!/usr/bin/env bash
# End to end: starts the real program in its run directory, finds its main
# window, checks title, size, centred place and icon, drives it with the mouse and
# keys, checks from screenshots that the sky is drawn and that look-around and
# Home change and restore the view, then closes the window the way a window
# manager's close button does and expects exit status 0.
set -euo pipefail

run_dir="$(cd "${1:?usage: window.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash"

# A run directory of its own, in English.
link_run_dir "$work/run" 0
cd "$work/run"
./velmorin >"$work/out.txt" 2>&1 &
pid=$!
main_window

[ "$(xdotool getwindowname "$window")" = "Velmorin" ] || fail "wrong window title"
# The program grows its window, then centres it and gives it its icon: on a
# busy machine the window may show its new size a while before the rest.
centred() {
  seen="$(xdotool getwindowgeometry "$window")"
  grep -q "Position: ${left},${top} " <<<"$seen"
}
wait_until "window not centred (expected ${left},${top})" centred
upright_icon() {
  seen="$($xwin icon "$window" icons/icon.bmp 2>&1)"
}
wait_until "the window icon is not the upright picture" upright_icon

xdotool windowfocus --sync "$window" 2>/dev/null || true

# Succeeds when shot NAME differs from the start by more (or, with "<",
# less) than LIMIT on average.
differs() {  # differs NAME '>'|'<' LIMIT
  shot "$1"
  seen="mean difference $($xwin diff "$work/start.ppm" "$work/$1.ppm")"
  is_true "${seen##* } $2 $3"
}
wait_for_sky

# Right-drag looks around: the view changes. The program takes the place of
# a press from where the pointer is when it handles the press, so on a slow
# frame a quick drag reads as none: the held pointer moves on a step at a
# time (back and forth) until the view turns.
drag_step=0
drag_turns() {
  drag_step=$((drag_step % 10 + 1))
  xdotool mousemove --window "$window" $((512 + drag_step * 20)) $((384 - drag_step * 8))
  differs turned ">" 2.0
}
xdotool mousemove --window "$window" 512 384 mousedown 3
wait_until "right-drag did not turn the view" drag_turns
xdotool mouseup 3

# Middle-drag pans, the keys move; none of it may end the program.
xdotool mousemove --window "$window" 512 384 mousedown 2 mousemove --window "$window" 540 360 mouseup 2
xdotool keydown w sleep 0.2 keyup w
xdotool key a Left Right Down Up

# The wheel steps between the screens: down from 0 to 1 (checked in the
# output once the program has ended and flushed it).
xdotool mousemove --window "$window" 512 384 click 5

# Home restores the starting view.
xdotool key Home
wait_until "Home did not restore the starting view" differs home "<" 1.0
# After Home the index is 0 again, so the next notch gives 1 once more.
xdotool mousemove --window "$window" 512 384 click 5

# Close as a window manager does: WM_DELETE_WINDOW.
$xwin close "$window"
exit_status
[ "$status" -eq 0 ] || fail "exit status $status after closing the window"
wheel="$(grep -c "^yoffset  -1, currentCanvas 1$" "$work/out.txt" || true)"
[ "$wheel" -eq 2 ] && ! grep -q "currentCanvas 2" "$work/out.txt" \
  || fail "the wheel and Home did not step the screen index 0 -> 1, Home, 0 -> 1"
echo "PASS: window, sky, look-around, wheel, keys, Home and close"
