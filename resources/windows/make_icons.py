#!/usr/bin/env python3
"""Draws the icons of the Windows programs: updater.ico and pack.ico beside this script.

    python3 resources/windows/make_icons.py

The drawing is plain geometry sampled with a fixed pattern and written with zlib at a fixed
level, so the same script gives the same bytes; the .ico files are committed and the build only
reads them. Both icons show an open book (the suite's reference library) on a blue tile; the
updater's badge is a green circle with an arrow pointing down (an update arriving), the packer's
an amber circle with a plus (packages added).

Each icon holds the sizes Windows asks for at 100 % to 200 % scaling (16 to 64 pixels, as
32-bit bitmaps that every Windows version reads) and 256 pixels as PNG (Explorer's large views).
"""

import struct
import zlib
from pathlib import Path

BITMAP_SIZES = (16, 20, 24, 32, 40, 48, 64)
PNG_SIZE = 256

TILE_TOP = (0x2F, 0x74, 0xC0)
TILE_BOTTOM = (0x1B, 0x4B, 0x8A)
PAGE = (0xFF, 0xFF, 0xFF)
PAGE_SHADE = (0xD8, 0xE6, 0xF5)
RING = (0xFF, 0xFF, 0xFF)


def rounded_rect(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius and left <= x <= right and top <= y <= bottom


def convex(x, y, points):
    # Inside when on the same side of every edge (points go round clockwise on screen).
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        if (x1 - x0) * (y - y0) - (y1 - y0) * (x - x0) < 0:
            return False
    return True


def circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


LEFT_PAGE = [(0.15, 0.25), (0.49, 0.32), (0.49, 0.72), (0.15, 0.65)]
RIGHT_PAGE = [(0.51, 0.32), (0.85, 0.25), (0.85, 0.65), (0.51, 0.72)]
BADGE = (0.71, 0.71, 0.22)


def arrow(x, y):
    cx, cy, _ = BADGE
    shaft = abs(x - cx) <= 0.045 and cy - 0.13 <= y <= cy + 0.02
    head = convex(x, y, [(cx - 0.12, cy), (cx + 0.12, cy), (cx, cy + 0.13)])
    return shaft or head


def plus(x, y):
    cx, cy, _ = BADGE
    return (abs(x - cx) <= 0.045 and abs(y - cy) <= 0.13) or (
        abs(y - cy) <= 0.045 and abs(x - cx) <= 0.13)


def sample(x, y, badge_colour, sign):
    """Colour and coverage (0 or 1) of the point (x, y) of the unit square."""
    colour, alpha = (0, 0, 0), 0
    if rounded_rect(x, y, 0.02, 0.02, 0.98, 0.98, 0.18):
        t = y
        colour = tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))
        alpha = 1
    if convex(x, y, LEFT_PAGE):
        colour = PAGE
    if convex(x, y, RIGHT_PAGE):
        colour = PAGE_SHADE
    cx, cy, r = BADGE
    if circle(x, y, cx, cy, r + 0.035):
        colour, alpha = RING, 1
    if circle(x, y, cx, cy, r):
        colour = badge_colour
    if circle(x, y, cx, cy, r) and sign(x, y):
        colour = PAGE
    return colour, alpha


def render(size, badge_colour, sign):
    """Straight-alpha RGBA rows, top row first; each pixel averaged over a 4 x 4 grid."""
    grid = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(grid):
                for sx in range(grid):
                    x = (px + (sx + 0.5) / grid) / size
                    y = (py + (sy + 0.5) / grid) / size
                    colour, alpha = sample(x, y, badge_colour, sign)
                    if alpha:
                        covered += 1
                        for i in range(3):
                            total[i] += colour[i]
            if covered:
                rgb = [round(c / covered) for c in total]
                a = round(255 * covered / (grid * grid))
            else:
                rgb, a = [0, 0, 0], 0
            row.append((rgb[0], rgb[1], rgb[2], a))
        rows.append(row)
    return rows


def bitmap_image(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def png_image(rows):
    size = len(rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def icon_file(badge_colour, sign):
    images = [(size, bitmap_image(render(size, badge_colour, sign))) for size in BITMAP_SIZES]
    images.append((PNG_SIZE, png_image(render(PNG_SIZE, badge_colour, sign))))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def main():
    here = Path(__file__).resolve().parent
    (here / "updater.ico").write_bytes(icon_file((0x2F, 0x9E, 0x44), arrow))
    (here / "pack.ico").write_bytes(icon_file((0xE8, 0x89, 0x0C), plus))


if __name__ == "__main__":
    main()
