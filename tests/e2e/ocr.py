"""Reads text in regions of a window shot with tesseract, all regions in one
run of it (it loads its language data once).

  ocr.py SHOT.ppm LANGUAGE PSM REGION...

REGION is INK:X,Y,W,H:SCALE. INK names what the text looks like, and each
pixel becomes a grey level that is dark where it is ink:
  white  white text on a coloured box (the lower panel's controls)
  blue   the monitors' light blue text on their dark face
  dark   black text on the light panels
  title  the 3D title's saturated blue on the pale sky
SCALE enlarges the region smoothly (bilinear, which keeps the letters'
shapes where repeating pixels makes steps that tesseract misreads); XxY
scales the two axes apart: the monitors stretch their text along x, which
tesseract reads poorly, so 0.56x1 undoes that.

Prints one line per region: the text read there, lines joined by spaces.
"""
from itertools import repeat
import operator
import os
import subprocess
import sys
import tempfile


def table(tone):
    """A 256-byte translation table: grey level `tone(v)` for each v."""
    return bytes(max(0, min(255, round(tone(v)))) for v in range(256))


# Each ink turns a pixel into one grey level, computed from whole channels at
# once (map and bytes.translate run in C; a loop over pixels is slow).
INVERT = table(lambda v: 255 - v)
DOUBLE = table(lambda v: 2 * v)
# How far blue leads red, 0..255 (below 0 is 0), to grey: a lead of 30 or
# less is background, 158 or more full ink.
BLUE_LEAD = table(lambda v: 255 - (2 * v - 60))
INKS = {
    "white": lambda r, g, b: bytes(map(min, r, g, b)).translate(INVERT),
    "blue": lambda r, g, b: bytes(map(max, map(operator.sub, b, r), repeat(0, len(r)))).translate(BLUE_LEAD),
    "dark": lambda r, g, b: bytes(map(max, r, g, b)),
    "title": lambda r, g, b: r.translate(DOUBLE),
}


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    # The header as xwindow.py writes it: magic, size and maximum on a line
    # each (a split on any whitespace would eat pixels that look like it).
    magic, size, _, pixels = data.split(b"\n", 3)
    if magic != b"P6":
        sys.exit("%s: not a binary PPM" % path)
    width, height = map(int, size.split())
    return width, height, pixels


def grey(shot, ink, x0, y0, w, h):
    """Rows of grey levels (bytes) of the region, its darkest ink stretched to
    black and its background to white."""
    width, height, pixels = shot
    x0, y0 = max(0, x0), max(0, y0)
    w, h = min(w, width - x0), min(h, height - y0)
    tone = INKS[ink]
    rows = []
    for y in range(y0, y0 + h):
        start = 3 * (y * width + x0)
        row = pixels[start:start + 3 * w]
        rows.append(tone(row[0::3], row[1::3], row[2::3]))
    low = min(min(row) for row in rows)
    high = max(max(row) for row in rows)
    stretch = table(lambda v: (v - low) * 255 / max(1, high - low))
    return [row.translate(stretch) for row in rows]


def taps(size, scale):
    """For each output position along an axis of `size` source pixels: the
    two source pixels it lies between and the weight of the second."""
    out = max(1, round(size * scale))
    result = []
    for i in range(out):
        s = min(max((i + 0.5) / scale - 0.5, 0.0), size - 1.0)
        a = int(s)
        b = min(a + 1, size - 1)
        result.append((a, b, s - a))
    return result


def enlarge(rows, sx, sy):
    """Bilinear resampling: along x, then along y (an axis not scaled is
    left as it is: the loops are slow)."""
    if sx == 1:
        wide = rows
    else:
        xs = taps(len(rows[0]), sx)
        wide = [bytes(round(row[a] + (row[b] - row[a]) * t) for a, b, t in xs) for row in rows]
    if sy == 1:
        return wide
    out = []
    for a, b, t in taps(len(rows), sy):
        ra, rb = wide[a], wide[b]
        out.append(bytes(round(p + (q - p) * t) for p, q in zip(ra, rb)))
    return out


def write_pgm(path, rows):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (len(rows[0]), len(rows)) + b"".join(rows))


def main(argv):
    if len(argv) < 5:
        sys.exit(__doc__)
    shot = read_ppm(argv[1])
    language, psm = argv[2], argv[3]
    with tempfile.TemporaryDirectory() as folder:
        pages = []
        for number, region in enumerate(argv[4:]):
            ink, box, scale = region.split(":")
            x, y, w, h = map(int, box.split(","))
            sx, _, sy = scale.partition("x")
            page = os.path.join(folder, "%d.pgm" % number)
            write_pgm(page, enlarge(grey(shot, ink, x, y, w, h), float(sx), float(sy or sx)))
            pages.append(page)
        listing = os.path.join(folder, "pages.txt")
        with open(listing, "w") as f:
            f.write("\n".join(pages) + "\n")
        # One thread: tesseract's own threads only slow it down beside other
        # busy processes.
        env = dict(os.environ, OMP_THREAD_LIMIT="1")
        text = subprocess.run(["tesseract", listing, "-", "-l", language, "--psm", psm],
                              capture_output=True, env=env, check=True).stdout.decode("utf-8", "replace")
    # tesseract ends each page with a form feed.
    read = text.split("\f")[:len(pages)]
    read += [""] * (len(pages) - len(read))
    for page in read:
        print(" ".join(page.split()))


main(sys.argv)
