#!/usr/bin/env bash
# End to end: start-up with resources missing. Without the window icon, or
# with no font in the font's file, the program says so in one line and runs
# normally; without a sky face it ends with a message naming the file and a
# failure status, as without a shader.
# Without the font's file it says so at once and closes with status 0, also
# in the sanitizer build started as a user starts it. Without an X display it
# says which display it could not open.
set -euo pipefail

run_dir="$(cd "${1:?usage: startup.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash"

# Each case runs in a run directory of its own, in English, less the entries
# named.
# 1. No sky face: a message naming the file and a failure status.
link_run_dir "$work/nosky" 0 skybox/art/right.jpg
status=0
(cd "$work/nosky" && timeout 60 ./velmorin >"$work/nosky.txt" 2>&1) || status=$?
[ "$status" -ne 0 ] || fail "a missing sky face ended the program with status 0"
[ "$status" -ne 124 ] || fail "a missing sky face did not end the program"
grep -q "right.jpg" "$work/nosky.txt" || fail "the message does not name the missing sky face"

# 2. No skybox program (in either shader set): the same.
link_run_dir "$work/noshader" 0 shaders/3.3/skybox.frag shaders/3.1/skybox.frag
status=0
(cd "$work/noshader" && timeout 60 ./velmorin >"$work/noshader.txt" 2>&1) || status=$?
[ "$status" -ne 0 ] || fail "a missing shader ended the program with status 0"
[ "$status" -ne 124 ] || fail "a missing shader did not end the program"
grep -q "skybox.frag" "$work/noshader.txt" || fail "the message does not name the missing shader"

# 3. No icon, text in the font's place, and a valid TIFF that crashes the
# picture decoder in the logo's: one line each, then the program runs and
# closes normally.
font=fonts/djsans/DejaVuSans.ttf
link_run_dir "$work/noicon" 0 icons/icon.bmp "$font" textures/logo.png
mkdir -p "$work/noicon/$(dirname "$font")"
echo "plain text, not a TrueType file" >"$work/noicon/$font"
# 9x5 pixels of 1 bit stored in planes, one uncompressed strip: its tags and values.
python3 -c 'import struct, sys; f = [(256, 9), (257, 5), (258, 1), (259, 1), (262, 1), (273, 134), (277, 1),
  (278, 5), (279, 10), (284, 2)]; sys.stdout.buffer.write(b"II*\0" + struct.pack("<IH", 8, len(f)) + b"".join(
  struct.pack("<HHII", t, 4 if t in (273, 279) else 3, 1, v) for t, v in f) + bytes(4) + b"\x5a" * 10)' \
  >"$work/noicon/textures/logo.png"
(cd "$work/noicon" && exec ./velmorin >"$work/noicon.txt" 2>&1) &
pid=$!
main_window
wait_for_sky
$xwin close "$window"
exit_status
[ "$status" -eq 0 ] || fail "exit status $status after closing the window without its icon and font"
[ "$(grep -c "icon" "$work/noicon.txt")" -eq 1 ] || fail "expected one line about the missing icon"
[ "$(grep -c "font" "$work/noicon.txt")" -eq 1 ] &&
  grep -qFx "ERROR::FREETYPE: Failed to load font $font: invalid stream operation" "$work/noicon.txt" ||
  fail "expected one line about the font, with FreeType's reason"
grep -qFx "Picture textures/logo.png not loaded: the TIFF decoder crashed (signal 6)" "$work/noicon.txt" ||
  fail "expected the logo's line naming the decoder's crash"
# 4. No font file, the program started as a user starts it: without the
# options the test command gives the sanitizers, so that in the sanitizer
# build its leak check at exit runs too. The font's line is in the output
# while the program runs (no other line makes it flush its output), and
# after the close it ends with status 0, the line there once.
font_line="ERROR::FREETYPE: Failed to load font $font: No such file or directory"
link_run_dir "$work/nofont" 0 "$font"
(cd "$work/nofont" && exec env -u ASAN_OPTIONS -u LSAN_OPTIONS ./velmorin >"$work/nofont.txt" 2>&1) &
pid=$!
main_window
wait_for_sky
grep -qFx "$font_line" "$work/nofont.txt" || fail "the sky shows, and the font's line is not in the output yet"
$xwin close "$window"
exit_status
[ "$status" -eq 0 ] || fail "exit status $status after closing the window without its font file"
[ "$(grep -cFx "$font_line" "$work/nofont.txt")" -eq 1 ] || fail "expected the font's line once"

# 5. No X display: the GLFW failure, GLFW's reason and the display tried,
# then status 1.
link_run_dir "$work/nodisplay" 0
status=0
(cd "$work/nodisplay" && timeout 60 env DISPLAY=:4097 ./velmorin >"$work/nodisplay.txt" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "without a display the program ended with status $status"
printf '%s\n' "Error! Library GLFW didn't initialized!" "X11: Failed to open display :4097" \
  'The X display ":4097" could not be opened' |
  cmp -s - "$work/nodisplay.txt" || fail "without a display the program said something else"
echo "PASS: missing sky face or shader ends with a failure; missing icon, broken font and a logo that crashes" \
  "its decoder are reported once; a missing font is reported at once and the program closes with status 0;" \
  "a missing display is named"
