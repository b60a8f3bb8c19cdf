#!/usr/bin/env python3
"""Small X11 helper for the end-to-end tests, speaking to Xlib through ctypes
(no extra packages).

  xwindow.py close WINDOW            send WM_DELETE_WINDOW, as a window
                                     manager's close button does
  xwindow.py grab X Y W H FILE.ppm   save a region of the screen as a PPM
  xwindow.py sky FILE.ppm            print the share of sky-like pixels
  xwindow.py diff A.ppm B.ppm        print the mean absolute channel difference
  xwindow.py icon WINDOW FILE.bmp    check that the window's icon is the picture
                                     of a 32-bit BMP, upright and unmirrored
  xwindow.py hold                    stay connected until killed (prints "ready"
                                     once connected)
  xwindow.py walk FACE ODOMETER STEP...
                                     move the pointer along the tracker's path
"""
import ctypes
import ctypes.util
import signal
import struct
import subprocess
import sys
import time

xlib = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
P, UL, I, UI = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint
# Pointers and window ids are 64 bits wide: ctypes must know each argument's type.
for name, args in {"XOpenDisplay": [ctypes.c_char_p], "XDefaultRootWindow": [P], "XFlush": [P],
                   "XInternAtom": [P, ctypes.c_char_p, I], "XSendEvent": [P, UL, I, ctypes.c_long, P],
                   "XCloseDisplay": [P], "XGetImage": [P, UL, I, I, UI, UI, UL, I], "XDestroyImage": [P],
                   "XWarpPointer": [P, UL, UL, I, I, UI, UI, I, I], "XSync": [P, I], "XDefaultScreen": [P],
                   "XDisplayWidth": [P, I], "XDisplayHeight": [P, I]}.items():
    getattr(xlib, name).argtypes = args
xlib.XOpenDisplay.restype = xlib.XGetImage.restype = P
xlib.XDefaultRootWindow.restype = xlib.XInternAtom.restype = UL

CLIENT_MESSAGE = 33
Z_PIXMAP = 2
ALL_PLANES = 0xFFFFFFFFFFFFFFFF


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


def open_display():
    display = xlib.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the X display")
    return display


def close_window(window):
    display = open_display()
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = xlib.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.l[0] = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.l[1] = 0  # CurrentTime
    xlib.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    xlib.XFlush(display)
    xlib.XCloseDisplay(display)


def screen_rgb(display, x, y, width, height):
    """A region of the screen as RGB bytes, rows top first."""
    root = xlib.XDefaultRootWindow(display)
    pointer = xlib.XGetImage(display, root, x, y, width, height, ALL_PLANES, Z_PIXMAP)
    if not pointer:
        sys.exit("XGetImage failed")
    image = ctypes.cast(pointer, ctypes.POINTER(XImage)).contents
    if image.bits_per_pixel != 32:
        sys.exit("unsupported screen format: %d bits per pixel" % image.bits_per_pixel)
    # Each 32-bit pixel's channels are whole bytes: pick them out by slicing,
    # which takes milliseconds where a loop over the pixels takes seconds.
    raw = ctypes.string_at(image.data, image.bytes_per_line * height)
    if image.bytes_per_line != 4 * width:
        raw = b"".join(raw[row * image.bytes_per_line:row * image.bytes_per_line + 4 * width]
                       for row in range(height))
    out = bytearray(3 * width * height)
    for channel, mask in enumerate((image.red_mask, image.green_mask, image.blue_mask)):
        byte = ((mask & -mask).bit_length() - 1) // 8  # the byte of the mask's lowest bit
        if image.byte_order:  # MSBFirst
            byte = 3 - byte
        out[channel::3] = raw[byte::4]
    xlib.XDestroyImage(pointer)
    return bytes(out)


def grab(x, y, width, height, path):
    display = open_display()
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height) + screen_rgb(display, x, y, width, height))
    xlib.XCloseDisplay(display)


def rgb(pixels):
    """RGB bytes as (r, g, b) triples."""
    return zip(pixels[0::3], pixels[1::3], pixels[2::3])


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(b"\n", 3)
    width, height = map(int, parts[1].split())
    return width, height, parts[3]


def sky_share(path):
    """Share of pixels that read as daylight sky: blue clearly leads red and is bright."""
    width, height, pixels = read_ppm(path)
    sky = sum(1 for r, g, b in rgb(pixels[:width * height * 3]) if b >= 90 and b > r + 25 and b + 10 >= g)
    return sky / float(width * height)


def mean_difference(path_a, path_b):
    _, _, a = read_ppm(path_a)
    _, _, b = read_ppm(path_b)
    return sum(abs(x - y) for x, y in zip(a, b)) / float(len(a))


def bmp_argb_rows(path):
    """A 32-bit BMP's pixels as ARGB integers, rows top first."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    if bits != 32:
        sys.exit("expected a 32-bit BMP")
    rows = []
    for row in range(abs(height)):
        file_row = abs(height) - 1 - row if height > 0 else row
        base = offset + file_row * width * 4
        rows.append([struct.unpack_from("<I", data, base + 4 * x)[0] for x in range(width)])
    return width, abs(height), rows


def check_icon(window, path):
    """_NET_WM_ICON holds width, height, then ARGB pixels, rows top first."""
    text = subprocess.run(["xprop", "-id", str(window), "-notype", "32c", "_NET_WM_ICON"],
                          capture_output=True, text=True, check=True).stdout
    if "=" not in text:
        sys.exit("the window has no icon")
    values = [int(v) for v in text.split("=", 1)[1].replace(",", " ").split()]
    width, height, rows = bmp_argb_rows(path)
    if values[:2] != [width, height]:
        sys.exit("icon size %s, picture %dx%d" % (values[:2], width, height))
    shown = values[2:2 + width * height]
    expected = [pixel for row in rows for pixel in row]
    # A BMP without alpha shows opaque: compare colours, and alpha where given.
    wrong = sum(1 for a, b in zip(shown, expected)
                if (a & 0xFFFFFF) != (b & 0xFFFFFF) or (b >> 24 and a >> 24 != b >> 24))
    if wrong:
        sys.exit("%d of %d icon pixels differ from the picture" % (wrong, width * height))


# A stop's mark on the stops monitor: a square of pure red, 8 pixels a side.
MARK_BOX = 10  # pixels each way around where a mark's centre is expected
MARK_PIXELS = 20  # red pixels that make a mark: a third of one
STOP_SECONDS = 0.5  # the rest that makes a stop, on the program's clock
STEP_SECONDS = 40  # a step the program has not shown by then has failed


def marked(display, place):
    """True when a stop's mark shows around the screen pixel `place`."""
    x, y = place
    pixels = screen_rgb(display, x - MARK_BOX, y - MARK_BOX, 2 * MARK_BOX + 1, 2 * MARK_BOX + 1)
    return sum(1 for r, g, b in rgb(pixels) if r >= 200 and g <= 60 and b <= 60) >= MARK_PIXELS


def walk(face, odometer, steps):
    """Moves the pointer along the tracker's path while the stops monitor is in view, each step once the
    program shows it took the last: on a busy machine frames come late, and the program sees only the
    places its frames find. FACE is X0,Y0,X1,Y1, where the screen's first and last pixel show on the
    stops monitor; ODOMETER is X,Y,W,H, the odometer in the upper panel, which changes at the first frame
    that finds the pointer moved. Each STEP is X,Y,KIND: a "pass" goes on once the odometer changes, so
    the program sees no rest there; a "rest" once the stop's mark shows, which may not be sooner than
    half a second after the pointer went there. At the end no pass may have a mark. Exits with the reason
    when a step fails."""
    x0, y0, x1, y1 = map(int, face.split(","))
    box = tuple(map(int, odometer.split(",")))
    display = open_display()
    root = xlib.XDefaultRootWindow(display)
    screen = xlib.XDefaultScreen(display)
    width, height = xlib.XDisplayWidth(display, screen), xlib.XDisplayHeight(display, screen)
    path = [(int(x), int(y), kind) for x, y, kind in (step.split(",") for step in steps)]

    def mark(x, y):  # where the stop at screen pixel x, y shows on the stops monitor
        return x0 + round(x * (x1 - x0) / (width - 1)), y0 + round(y * (y1 - y0) / (height - 1))

    for x, y, kind in path:
        if marked(display, mark(x, y)):
            sys.exit("a stop's mark shows at %d,%d before the pointer went there" % (x, y))
        before = screen_rgb(display, *box)
        went = time.monotonic()
        xlib.XWarpPointer(display, 0, root, 0, 0, 0, 0, x, y)
        xlib.XSync(display, 0)
        while not (screen_rgb(display, *box) != before if kind == "pass" else marked(display, mark(x, y))):
            if time.monotonic() - went > STEP_SECONDS:
                sys.exit("the program showed no %s at %d,%d within %d s"
                         % ("stop" if kind == "rest" else "move", x, y, STEP_SECONDS))
            time.sleep(0.01)
        after = time.monotonic() - went  # the grab that found the mark ended now: the stop came by now
        if kind == "rest" and after < STOP_SECONDS:
            sys.exit("a stop showed at %d,%d %.2f s after the pointer went there" % (x, y, after))
    for x, y, kind in path:
        if kind == "pass" and marked(display, mark(x, y)):
            sys.exit("a stop's mark shows at the pass %d,%d" % (x, y))
    xlib.XCloseDisplay(display)


def hold():
    """An X server without clients resets itself and refuses connections while
    it does; one client held open keeps it up between two runs of the program."""
    open_display()
    print("ready", flush=True)
    while True:
        signal.pause()


def main(argv):
    if len(argv) == 2 and argv[1] == "hold":
        hold()
    elif len(argv) == 3 and argv[1] == "close":
        close_window(int(argv[2], 0))
    elif len(argv) == 7 and argv[1] == "grab":
        grab(int(argv[2]), int(argv[3]), int(argv[4]), int(argv[5]), argv[6])
    elif len(argv) == 3 and argv[1] == "sky":
        print("%.3f" % sky_share(argv[2]))
    elif len(argv) == 4 and argv[1] == "icon":
        check_icon(int(argv[2], 0), argv[3])
    elif len(argv) >= 5 and argv[1] == "walk":
        walk(argv[2], argv[3], argv[4:])
    elif len(argv) == 4 and argv[1] == "diff":
        print("%.2f" % mean_difference(argv[2], argv[3]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
