#!/usr/bin/env bash
# End to end: starts the real program in its run directory, finds its main
# window, checks title, size, centred place and icon, drives it with the mouse and
# keys, checks from screenshots that the sky is drawn and that look-around and
# Home change and restore the view, then closes the window the way a window
# manager's close button does and expects exit status 0.
set -euo pipefail

run_dir="$(cd "${1:?usage: window.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash" "$0" "$run_dir"

cd "$run_dir"
./velmorin >"$work/out.txt" 2>&1 &
pid=$!
main_window

[ "$(xdotool getwindowname "$window")" = "Velmorin" ] || fail "wrong window title"
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
geometry="$(xdotool getwindowgeometry "$window")"
expected_x=$((screen_w / 2 - 512))
expected_y=$((screen_h / 2 - 384))
echo "$geometry" | grep -q "Position: ${expected_x},${expected_y} " \
  || fail "window not centred: $geometry (expected ${expected_x},${expected_y})"

$xwin icon "$window" icons/icon.bmp || fail "the window icon is not the upright picture"

grab() {  # grab FILE: the window's area of the screen
  sleep 0.4  # a few frames at 60 Hz
  $xwin grab "$expected_x" "$expected_y" 1024 768 "$1"
}
xdotool windowfocus --sync "$window" 2>/dev/null || true

grab "$work/start.ppm"
sky="$($xwin sky "$work/start.ppm")"
# The information monitor fills most of the start view; the sky shows
# around it, between the head-up panels.
is_true "$sky > 0.1" || fail "the window does not show the sky (sky-like share $sky)"

# Right-drag looks around: the view changes.
xdotool mousemove --window "$window" 512 384 mousedown 3
for step in $(seq 1 10); do
  xdotool mousemove --window "$window" $((512 + step * 20)) $((384 - step * 8))
  sleep 0.02
done
xdotool mouseup 3
grab "$work/turned.ppm"
turned="$($xwin diff "$work/start.ppm" "$work/turned.ppm")"
is_true "$turned > 2.0" || fail "right-drag did not turn the view (mean difference $turned)"

# Middle-drag pans, the keys move; none of it may end the program.
xdotool mousemove --window "$window" 512 384 mousedown 2 mousemove --window "$window" 540 360 mouseup 2
xdotool keydown w; sleep 0.2; xdotool keyup w
xdotool key a Left Right Down Up

# The wheel steps between the screens: down from 0 to 1 (checked in the
# output once the program has ended and flushed it).
xdotool mousemove --window "$window" 512 384 click 5

# Home restores the starting view.
xdotool key Home
grab "$work/home.ppm"
home="$($xwin diff "$work/start.ppm" "$work/home.ppm")"
is_true "$home < 1.0" || fail "Home did not restore the starting view (mean difference $home)"
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
