#!/usr/bin/env python3
"""Draws the deformer's icons and writes them as baseline RGBA TIFF files.

res/morvexer.tif       32 x 32  the object icon: a cage around a bent bar
res/morvexericons.tif  64 x 32  the icon strip: the bound icon at (0, 0), the object icon at (32, 0)

Run from the repository root; the files are committed, so this only runs when the art changes.
"""
import math
import struct
import sys

CAGE = (70, 160, 230, 255)
BAR = (240, 150, 40, 255)
LOCK = (90, 200, 90, 255)
CLEAR = (0, 0, 0, 0)


def blank(w, h):
    return [[CLEAR] * w for _ in range(h)]


def line(img, x0, y0, x1, y1, color):
    steps = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(steps + 1):
        x = round(x0 + (x1 - x0) * i / steps)
        y = round(y0 + (y1 - y0) * i / steps)
        if 0 <= y < len(img) and 0 <= x < len(img[0]):
            img[y][x] = color


def object_icon(bound):
    img = blank(32, 32)
    corners = [(3, 5), (28, 3), (29, 27), (4, 28)]
    for i in range(4):
        (ax, ay), (bx, by) = corners[i], corners[(i + 1) % 4]
        line(img, ax, ay, bx, by, CAGE)
    for (x, y) in corners:
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                img[y + dy][x + dx] = CAGE
    # A bar bent by the cage: a thick sine-shaped band.
    for x in range(8, 25):
        yc = 16 + 4 * math.sin((x - 8) / 16 * math.pi)
        for y in range(int(yc) - 2, int(yc) + 3):
            img[y][x] = BAR
    if bound:
        for y in range(22, 29):
            for x in range(22, 29):
                img[y][x] = LOCK
    return img


def write_tiff(path, img):
    h, w = len(img), len(img[0])
    pixels = bytes(c for row in img for px in row for c in px)
    entries = []

    def entry(tag, typ, count, value):
        entries.append((tag, typ, count, value))

    header_size = 8
    bps_offset = header_size
    extra = struct.pack('<4H', 8, 8, 8, 8)
    data_offset = bps_offset + len(extra)
    ifd_offset = data_offset + len(pixels)
    entry(256, 4, 1, w)                 # ImageWidth
    entry(257, 4, 1, h)                 # ImageLength
    entry(258, 3, 4, bps_offset)        # BitsPerSample 8,8,8,8
    entry(259, 3, 1, 1)                 # no compression
    entry(262, 3, 1, 2)                 # RGB
    entry(273, 4, 1, data_offset)       # StripOffsets
    entry(277, 3, 1, 4)                 # SamplesPerPixel
    entry(278, 4, 1, h)                 # RowsPerStrip
    entry(279, 4, 1, len(pixels))       # StripByteCounts
    entry(284, 3, 1, 1)                 # planar: chunky
    entry(338, 3, 1, 2)                 # ExtraSamples: unassociated alpha
    ifd = struct.pack('<H', len(entries))
    for tag, typ, count, value in entries:
        if typ == 3 and count == 1:
            ifd += struct.pack('<HHIHH', tag, typ, count, value, 0)
        else:
            ifd += struct.pack('<HHII', tag, typ, count, value)
    ifd += struct.pack('<I', 0)
    with open(path, 'wb') as f:
        f.write(b'II' + struct.pack('<HI', 42, ifd_offset))
        f.write(extra)
        f.write(pixels)
        f.write(ifd)


def main():
    icon = object_icon(False)
    strip = [b + a for b, a in zip(object_icon(True), icon)]
    write_tiff('res/morvexer.tif', icon)
    write_tiff('res/morvexericons.tif', strip)
    return 0


if __name__ == '__main__':
    sys.exit(main())
