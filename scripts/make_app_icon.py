#!/usr/bin/env python3
"""Draw the program's launcher icon: Recorder/resources/icons/corvessa.png.

    scripts/make_app_icon.py            write the icon
    scripts/make_app_icon.py --check    exit 1 when the committed file differs

Python 3 standard library only. A 256 x 256 RGBA PNG (straight alpha): a dark
rounded square with a soft top-to-bottom gradient, a white ring and a red
record dot. Every edge is a signed distance with one pixel of anti-aliasing,
so the output is the same on every run.
"""

import argparse
import math
import struct
import sys
import zlib
from pathlib import Path

SIDE = 256
OUT = Path(__file__).resolve().parent.parent / "Recorder" / "resources" / "icons" / "corvessa.png"


def rounded_square(x, y, half, radius):
    qx = abs(x) - (half - radius)
    qy = abs(y) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def coverage(distance):
    # One pixel of anti-aliasing around the edge.
    return min(max(0.5 - distance, 0.0), 1.0)


def over(dst, colour, alpha):
    """Straight-alpha 'source over' of colour (r, g, b) with alpha onto dst."""
    r, g, b, a = dst
    out_a = alpha + a * (1 - alpha)
    if out_a <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = lambda s, d: (s * alpha + d * a * (1 - alpha)) / out_a
    return (mix(colour[0], r), mix(colour[1], g), mix(colour[2], b), out_a)


def pixel(px, py):
    # Centred coordinates, y down.
    x = px + 0.5 - SIDE / 2
    y = py + 0.5 - SIDE / 2
    t = (y + SIDE / 2) / SIDE
    top, bottom = (0.20, 0.22, 0.28), (0.08, 0.09, 0.12)
    background = tuple(a + (b - a) * t for a, b in zip(top, bottom))
    c = (0.0, 0.0, 0.0, 0.0)
    c = over(c, background, coverage(rounded_square(x, y, 120, 52)))
    r = math.hypot(x, y)
    c = over(c, (0.96, 0.96, 0.97), coverage(abs(r - 72) - 9) * c[3])
    c = over(c, (0.92, 0.18, 0.20), coverage(r - 46) * c[3])
    return c


def png():
    rows = bytearray()
    for py in range(SIDE):
        rows.append(0)
        for px in range(SIDE):
            rows.extend(int(round(v * 255)) for v in pixel(px, py))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIDE, SIDE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    data = png()
    if args.check:
        same = OUT.exists() and OUT.read_bytes() == data
        print("icon up to date" if same else "icon differs: run scripts/make_app_icon.py")
        return 0 if same else 1
    OUT.parent.mkdir(parents=True, exist_ok=True)
    OUT.write_bytes(data)
    print("wrote", OUT)
    return 0


if __name__ == "__main__":
    sys.exit(main())
