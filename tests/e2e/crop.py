"""Crops a region of a binary PPM and enlarges it by a whole factor (nearest
neighbour), so that tesseract reads small interface text.

  crop.py IN.ppm X Y W H SCALE OUT.ppm [INK]

With INK, a pixel whose red channel is below INK becomes black and every
other white: the saturated blue of the 3D title stands out from the pale sky.
"""
import sys


def read_ppm(path):
    data = open(path, "rb").read()
    fields, i = [], 0
    while len(fields) < 4:  # magic, width, height, maximum
        while data[i:i + 1].isspace():
            i += 1
        j = i
        while not data[j:j + 1].isspace():
            j += 1
        fields.append(data[i:j])
        i = j
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[i + 1:i + 1 + width * height * 3]


def main():
    width, height, pixels = read_ppm(sys.argv[1])
    x0, y0, w, h, scale = map(int, sys.argv[2:7])
    ink = int(sys.argv[8]) if len(sys.argv) > 8 else None
    x0, y0 = max(0, x0), max(0, y0)
    w, h = min(w, width - x0), min(h, height - y0)
    rows = []
    for y in range(y0, y0 + h):
        row = pixels[(y * width + x0) * 3:(y * width + x0 + w) * 3]
        if ink is not None:
            row = b"".join(b"\0\0\0" if row[i] < ink else b"\xff\xff\xff" for i in range(0, len(row), 3))
        wide = b"".join(row[i:i + 3] * scale for i in range(0, len(row), 3))
        rows.extend([wide] * scale)
    with open(sys.argv[7], "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (w * scale, h * scale) + b"".join(rows))


main()
