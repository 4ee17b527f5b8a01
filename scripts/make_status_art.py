#!/usr/bin/env python3
"""Draws the tray glyph's mask, Recorder/resources/status/status-hand@2x.png.

A raised open hand, 36 x 36 pixels (18 x 18 points at twice the scale): only
the alpha matters, the program fills the shape with the glyph's colour. The
shape is a union of rounded bars (fingers, thumb) and a rounded palm, drawn
with 4 x 4 supersampling for soft edges. Standard library only.

    python3 scripts/make_status_art.py
"""
import math
import os
import struct
import zlib

SIZE = 36
SUPER = 4

# Rounded capsules (x0, y0, x1, y1, radius) in glyph pixels, y down: four
# fingers, then the thumb, which leans out to the left.
CAPSULES = [
    (10.6, 7.0, 10.6, 20.0, 2.0),
    (15.6, 4.0, 15.6, 19.0, 2.1),
    (20.6, 4.5, 20.6, 19.0, 2.1),
    (25.4, 8.0, 25.4, 20.0, 1.9),
    (5.2, 15.5, 9.8, 24.0, 2.0),
]
# The palm: a rounded rectangle (x0, y0, x1, y1, corner radius).
PALM = (8.6, 18.0, 27.3, 32.5, 5.0)


def in_capsule(px, py, cap):
    x0, y0, x1, y1, r = cap
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / length2))
    cx, cy = x0 + t * dx, y0 + t * dy
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def in_rounded_rect(px, py, rect):
    x0, y0, x1, y1, r = rect
    if px < x0 or px > x1 or py < y0 or py > y1:
        return False
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def coverage(x, y):
    hits = 0
    for sy in range(SUPER):
        for sx in range(SUPER):
            px = x + (sx + 0.5) / SUPER
            py = y + (sy + 0.5) / SUPER
            if in_rounded_rect(px, py, PALM) or any(in_capsule(px, py, c) for c in CAPSULES):
                hits += 1
    return hits / (SUPER * SUPER)


def png(width, height, rows):
    """An 8-bit RGBA PNG from rows of (r, g, b, a) tuples."""
    raw = b"".join(b"\x00" + b"".join(struct.pack("BBBB", *p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            a = int(math.floor(coverage(x, y) * 255 + 0.5))
            row.append((0, 0, 0, a))
        rows.append(row)
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = os.path.join(here, "..", "Recorder", "resources", "status")
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, "status-hand@2x.png")
    with open(path, "wb") as f:
        f.write(png(SIZE, SIZE, rows))
    print("wrote", os.path.normpath(path))


if __name__ == "__main__":
    main()
