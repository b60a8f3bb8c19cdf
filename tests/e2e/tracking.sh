#!/usr/bin/env bash
# End to end: the tracker. Faces the route monitor, clicks Start, moves the
# pointer along a known path with pauses (part of it far outside the window)
# while the stops monitor shows each stop's mark, turns back to the route
# monitor, clicks Stop, and checks what a user sees: "photo.jpeg" of the
# window's size showing the route on the route monitor; the odometer equal to
# the path's length within 2 px, X and Y at the pointer's last position (upper
# panel); one stop per rest of half a second at a distinct place, none
# sooner, a rest before the Stop click included, none where the pointer only
# passed (stops and information monitors); a Stop right before the window
# closes still leaves its photo.
set -euo pipefail

run_dir="$(cd "${1:?usage: tracking.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash"

# A run directory of its own, in English: the photo is written where the
# program runs.
link_run_dir "$work/run" 0
cd "$work/run"
./velmorin >"$work/out.txt" 2>&1 &
pid=$!
main_window
wait_for_sky

# The Start/Stop switch, leftmost on the lower panel, and its box.
button_x=$((left + 70))
button_y=$((top + 746))
switch_box="white:29,729,82,36:3"
upper_panel="dark:0,0,1024,45:1"
# Each plotting monitor's name, in its top left corner.
monitor_label="dark:30,115,350,50:1"
statistics="blue:40,140,960,430:0.56x1"
# The odometer's place in the upper panel, and where the screen's first and
# last pixel show on the stops monitor (screen coordinates).
odometer_box="$left,$top,340,45"
stops_face="$((left + 22)),$((top + 108)),$((left + 1001)),$((top + 659))"

# The switch's caption reads WORD: the program has taken the click.
switch_reads() {  # switch_reads WORD
  shot switch
  seen="$(read_text switch eng 6 "$switch_box")"
  has_words "$seen" "$1"
}

# Shot NAME shows the monitor whose name is WORD.
monitor_shows() {  # monitor_shows NAME WORD
  shot "$1"
  seen="$(read_text "$1" eng 6 "$monitor_label")"
  has_words "$seen" "$2"
}

# Sets `numbers` to the numbers after the captions in the text read in
# REGION of a new shot NAME: "odometer x y stops", "?" where a caption was
# not found.
read_numbers() {  # read_numbers NAME REGION
  shot "$1"
  seen="$(read_text "$1" eng 6 "$2")"
  numbers="$(python3 - "$seen" <<'PY'
import re, sys
text = sys.argv[1]
def number(caption):
    found = re.search(caption + r"\s*:?\s*(\d+)", text)
    return found.group(1) if found else "?"
print(number("Odometer"), number(r"(?<![A-Za-z])[Xx]"), number(r"(?<![A-Za-z])[Yy¥]"), number("Stops"))
PY
)"
}

# The upper panel shows the pointer's last place, and a number of pixels.
upper_panel_shows() {
  read_numbers after "$upper_panel"
  read -r odometer x y _ <<<"$numbers"
  [ "$x $y" = "$button_x $button_y" ] && [ "$odometer" != "?" ]
}

stops_show() {  # stops_show COUNT
  read_numbers info "$statistics"
  read -r _ _ _ stops <<<"$numbers"
  [ "$stops" = "$1" ]
}

photo_written() {
  seen="no photo.jpeg"
  [ -f photo.jpeg ]
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
before = open(sys.argv[2], "rb").read().split(b"\n", 3)[3]  # as xwindow.py writes it
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
# in, and back to the switch, then a rest there before Stop. Each rest and
# pass lies at a place of its own, away from the stops monitor's captions.
# The program sees a place only when a frame finds the pointer there, and on
# a busy machine frames come late: so no step keeps to a time of its own.
# A pass moves on as soon as the program has taken it (its odometer
# changes), a rest as soon as its stop shows, which xwindow.py walk checks
# is not sooner than half a second after the pointer arrived.
path=(
  "40 200 rest"
  "$((screen_w - 60)) 30 pass"
  "$((screen_w - 60)) $((screen_h - 100)) rest"
  "$((left + 500)) $((top + 300)) pass"
  "$((left + 200)) $((top + 400)) rest"
  "$button_x $button_y rest"
)
length="$(python3 -c '
import math, sys
points = [tuple(map(int, p.split()[:2])) for p in sys.argv[1:]]
print("%.3f" % sum(math.dist(a, b) for a, b in zip(points, points[1:])))
' "$button_x $button_y" "${path[@]}")"
rests=0
steps=()
for step in "${path[@]}"; do
  read -r x y kind <<<"$step"
  steps+=("$x,$y,$kind")
  if [ "$kind" = rest ]; then rests=$((rests + 1)); fi
done

xdotool mousemove "$button_x" "$button_y" click 5  # one monitor down: the route
wait_until "the route monitor did not come" monitor_shows before ROUTE
xdotool click 1  # Start
# The program measures from where the pointer is when it takes the click.
wait_until "the switch did not turn to Stop" switch_reads Stop
xdotool click 5 click 5  # two monitors further down: the stops
wait_until "the stops monitor did not come" monitor_shows stops STOPS
$xwin walk "$stops_face" "$odometer_box" "${steps[@]}" 2>"$work/walk.err" \
  || fail "along the path: $(cat "$work/walk.err")"
xdotool click 4 click 4  # back up to the route, the pointer still on the switch
wait_until "the route monitor did not come back" monitor_shows route ROUTE
xdotool click 1  # Stop
wait_until "no photo.jpeg after Stop" photo_written

size="$(jpeg_size photo.jpeg)"
[ "$size" = "1024 768" ] || fail "photo.jpeg is '$size', not the window's 1024 768"
route="$(route_pixels photo.jpeg "$work/before.ppm")"
[ "$route" -gt 400 ] || fail "the photo shows no route on the route monitor ($route route pixels)"

wait_until "the upper panel does not show the pointer's place $button_x $button_y" upper_panel_shows
is_true "abs($odometer - $length) <= 2" \
  || fail "the upper panel's odometer reads '$odometer', the path is $length px ($seen)"

xdotool click 4  # back up to the information monitor
wait_until "the information monitor does not show $rests stops after $rests rests" stops_show "$rests"

# Start again, then Stop and close the window at once: the photo of that
# Stop is written before the program ends.
rm -f photo.jpeg
xdotool click 1  # Start
wait_until "the switch did not turn to Stop again" switch_reads Stop
xdotool click 1  # Stop
$xwin close "$window"
exit_status
[ "$status" -eq 0 ] || fail "exit status $status after closing the window"
[ -f photo.jpeg ] || fail "no photo.jpeg after a Stop just before the window closed"
size="$(jpeg_size photo.jpeg)"
[ "$size" = "1024 768" ] || fail "the last photo.jpeg is '$size', not the window's 1024 768"
echo "PASS: path of $length px read as $odometer px, $stops stops, X $x Y $y, photo with the route, photo at a Stop just before closing"
