#!/usr/bin/env bash
# End to end: the tracker. Faces the route monitor, clicks Start, moves the
# pointer along a known path with pauses (part of it far outside the window),
# clicks Stop, and checks what a user sees: "photo.jpeg" of the window's size
# showing the route on the route monitor; the odometer equal to the path's
# length within 2 px, X and Y at the pointer's last position (upper panel);
# one stop per rest of half a second or more at a distinct place, a rest
# before the Stop click included (information monitor); a Stop right before
# the window closes still leaves its photo.
set -euo pipefail

run_dir="$(cd "${1:?usage: tracking.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash" "$0" "$run_dir"

# A copy of the run directory: the photo is written where the program runs.
cp -r "$run_dir" "$work/run"
cd "$work/run"
rm -f photo.jpeg
./velmorin >"$work/out.txt" 2>&1 &
pid=$!
main_window

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
win_x=$((screen_w / 2 - 512))
win_y=$((screen_h / 2 - 384))
# The Start/Stop switch, leftmost on the lower panel.
button_x=$((win_x + 70))
button_y=$((win_y + 746))

grab() {  # grab FILE: the window's area of the screen
  sleep 0.4
  $xwin grab "$win_x" "$win_y" 1024 768 "$1"
}

# Prints the numbers after the captions read from rows TOP..BOTTOM of a
# window grab: "odometer x y stops", "?" where a caption was not found. The
# text's pixels (INK "dark" for the panels' black text, "blue" for the
# monitor's) become black on white, scaled up twice, for the OCR.
read_numbers() {  # read_numbers FILE.ppm TOP BOTTOM INK
  python3 - "$1" "$2" "$3" "$4" "$work/band.pgm" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
parts = data.split(maxsplit=4)
width, pixels = int(parts[1]), parts[4]
top, bottom, ink, scale = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], 2
def is_ink(r, g, b):
    if ink == "dark":
        return r + g + b < 200
    return b > 150 and b > g + 15 and b > r + 90
rows = []
for y in range(top, bottom):
    row = bytearray()
    for x in range(width):
        i = 3 * (y * width + x)
        row += (b"\x00" if is_ink(pixels[i], pixels[i + 1], pixels[i + 2]) else b"\xff") * scale
    rows += [bytes(row)] * scale
with open(sys.argv[5], "wb") as out:
    out.write(b"P5\n%d %d\n255\n" % (width * scale, (bottom - top) * scale) + b"".join(rows))
PY
  tesseract "$work/band.pgm" - --psm 6 2>/dev/null >"$work/ocr.txt" || true
  python3 - "$work/ocr.txt" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
def number(caption):
    found = re.search(caption + r"\s*:?\s*(\d+)", text)
    return found.group(1) if found else "?"
print(number("Odometer"), number(r"(?<![A-Za-z])[Xx]"), number(r"(?<![A-Za-z])[Yy¥]"), number("Stops"))
PY
}

# Pixels of the window below the upper panel that show the route's blue in
# the photo but did not before the start. The photo is decoded by FreeImage,
# the library the program writes it with.
route_pixels() {  # route_pixels PHOTO.jpeg BEFORE.ppm
  python3 - "$1" "$2" <<'PY'
import ctypes, ctypes.util, sys
fi = ctypes.cdll.LoadLibrary(ctypes.util.find_library("freeimage") or "libfreeimage.so.3")
fi.FreeImage_Load.restype = ctypes.c_void_p
fi.FreeImage_Load.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
for name in ("FreeImage_GetWidth", "FreeImage_GetHeight", "FreeImage_GetPitch"):
    getattr(fi, name).argtypes = [ctypes.c_void_p]
fi.FreeImage_GetBits.restype = ctypes.POINTER(ctypes.c_ubyte)
fi.FreeImage_GetBits.argtypes = [ctypes.c_void_p]
FIF_JPEG = 2
bitmap = fi.FreeImage_Load(FIF_JPEG, sys.argv[1].encode(), 0)
if not bitmap:
    print(-1)
    sys.exit(0)
width, height = fi.FreeImage_GetWidth(bitmap), fi.FreeImage_GetHeight(bitmap)
pitch = fi.FreeImage_GetPitch(bitmap)
photo = ctypes.string_at(fi.FreeImage_GetBits(bitmap), pitch * height)
before = open(sys.argv[2], "rb").read().split(maxsplit=4)[4]
def blue(r, g, b):
    return b > 150 and b > r + 80 and b > g + 60
count = 0
for y in range(60, height - 60):
    row = (height - 1 - y) * pitch  # FreeImage keeps rows bottom first, BGR
    for x in range(width):
        b, g, r = photo[row + 3 * x], photo[row + 3 * x + 1], photo[row + 3 * x + 2]
        i = 3 * (y * width + x)
        if blue(r, g, b) and not blue(before[i], before[i + 1], before[i + 2]):
            count += 1
print(count)
PY
}

# Width and height of a JPEG, from its frame header.
jpeg_size() {  # jpeg_size FILE
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
i = 2
while i + 9 < len(data):
    marker, length = data[i + 1], struct.unpack(">H", data[i + 2:i + 4])[0]
    if marker in (0xC0, 0xC1, 0xC2):
        height, width = struct.unpack(">HH", data[i + 5:i + 9])
        print(width, height)
        break
    i += 2 + length
PY
}

# The path: from the switch out of the window to the screen's corners, back
# in, and back to the switch. "rest" pauses long enough for a stop, "pass"
# only for a few frames.
path=(
  "$button_x $button_y pass"
  "40 30 rest"
  "$((screen_w - 60)) 30 pass"
  "$((screen_w - 60)) $((screen_h - 40)) rest"
  "$((win_x + 500)) $((win_y + 300)) pass"
  "$((win_x + 200)) $((win_y + 400)) rest"
  "$button_x $button_y pass"
)
length="$(python3 -c '
import math, sys
points = [tuple(map(int, p.split()[:2])) for p in sys.argv[1:]]
print("%.3f" % sum(math.dist(a, b) for a, b in zip(points, points[1:])))
' "${path[@]}")"
rests=3

xdotool mousemove "$button_x" "$button_y"
sleep 0.5
xdotool click 5  # one monitor down: the route
grab "$work/before.ppm"
xdotool click 1  # Start
sleep 0.5
for step in "${path[@]}"; do
  read -r x y kind <<<"$step"
  xdotool mousemove "$x" "$y"
  if [ "$kind" = rest ]; then sleep 1.0; else sleep 0.2; fi
done
# The pointer rests on the switch before Stop: a stop there too.
sleep 1.0
rests=$((rests + 1))
xdotool click 1  # Stop
sleep 0.5

[ -f photo.jpeg ] || fail "no photo.jpeg after Stop"
size="$(jpeg_size photo.jpeg)"
[ "$size" = "1024 768" ] || fail "photo.jpeg is '$size', not the window's 1024 768"
route="$(route_pixels photo.jpeg "$work/before.ppm")"
[ "$route" -gt 400 ] || fail "the photo shows no route on the route monitor ($route route pixels)"

grab "$work/after.ppm"
read -r odometer x y _ < <(read_numbers "$work/after.ppm" 0 45 dark)
is_true "abs($odometer - $length) <= 2" 2>/dev/null \
  || fail "the upper panel's odometer reads '$odometer', the path is $length px ($(cat "$work/ocr.txt"))"
[ "$x $y" = "$button_x $button_y" ] \
  || fail "the upper panel's X and Y read '$x $y', the pointer rests at $button_x $button_y"

xdotool click 4  # back up to the information monitor
grab "$work/info.ppm"
read -r _ _ _ stops < <(read_numbers "$work/info.ppm" 100 680 blue)
[ "$stops" = "$rests" ] || fail "the information monitor shows '$stops' stops after $rests rests ($(cat "$work/ocr.txt"))"

# Start again, then Stop and close the window at once: the photo of that
# Stop is written before the program ends.
rm -f photo.jpeg
xdotool click 1  # Start
sleep 0.3
xdotool click 1  # Stop
$xwin close "$window"
exit_status
[ "$status" -eq 0 ] || fail "exit status $status after closing the window"
[ -f photo.jpeg ] || fail "no photo.jpeg after a Stop just before the window closed"
size="$(jpeg_size photo.jpeg)"
[ "$size" = "1024 768" ] || fail "the last photo.jpeg is '$size', not the window's 1024 768"
echo "PASS: path of $length px read as $odometer px, $stops stops, X $x Y $y, photo with the route, photo at a Stop just before closing"
