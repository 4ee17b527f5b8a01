#!/usr/bin/env python3
"""Draw the bundled cursor art: Recorder/resources/cursor/.

    scripts/make_cursors.py            write themes.json, theme-N.png, arrows.json, arrow-N.png
    scripts/make_cursors.py --check    exit 1 when the committed files differ from what this draws

Python 3 standard library only. Every shape is a signed distance function
evaluated once per pixel centre, with one pixel of anti-aliasing, so the output
is the same on every run and machine. Pictures are 256 x 256 RGBA PNGs (straight
alpha). Hot spots and pivots are fractions of the picture, x from the left and
y from the top, as the catalogues store them.
"""

import argparse
import json
import math
import struct
import sys
import zlib
from pathlib import Path

SIDE = 256
OUT = Path(__file__).resolve().parent.parent / "Recorder" / "resources" / "cursor"


# ---------------------------------------------------------------- distances

def length(x, y):
    return math.sqrt(x * x + y * y)


def circle(cx, cy, r):
    return lambda x, y: length(x - cx, y - cy) - r


def ellipse(cx, cy, rx, ry):
    # Scaled-circle distance: exact enough for a one-pixel edge.
    k = min(rx, ry)
    return lambda x, y: (length((x - cx) / rx, (y - cy) / ry) - 1) * k


def capsule(ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    dd = dx * dx + dy * dy

    def d(x, y):
        px, py = x - ax, y - ay
        h = max(0.0, min(1.0, (px * dx + py * dy) / dd)) if dd else 0.0
        return length(px - dx * h, py - dy * h) - r
    return d


def box(cx, cy, hw, hh, radius=0.0, angle=0.0):
    """A rounded rectangle centred at (cx, cy), turned by angle (radians)."""
    c, s = math.cos(angle), math.sin(angle)

    def d(x, y):
        px, py = x - cx, y - cy
        lx, ly = c * px + s * py, -s * px + c * py
        qx, qy = abs(lx) - hw + radius, abs(ly) - hh + radius
        return length(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - radius
    return d


def polygon(points):
    n = len(points)

    def d(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[i - 1]
            ex, ey = bx - ax, by - ay
            wx, wy = x - ax, y - ay
            ee = ex * ex + ey * ey
            h = max(0.0, min(1.0, (wx * ex + wy * ey) / ee)) if ee else 0.0
            best = min(best, (wx - ex * h) ** 2 + (wy - ey * h) ** 2)
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                inside = not inside
        dist = math.sqrt(best)
        return -dist if inside else dist
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def grow(shape, w):
    return lambda x, y: shape(x, y) - w


def ring(shape, w):
    """A band of width w centred on the shape's edge."""
    return lambda x, y: abs(shape(x, y)) - w / 2


def star_points(cx, cy, outer, inner, tips, angle):
    pts = []
    for i in range(tips * 2):
        r = outer if i % 2 == 0 else inner
        a = angle + math.pi * i / tips
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def heart(tip_x, tip_y, scale, angle):
    """A heart with its point at (tip_x, tip_y), looking along `angle`; `scale`
    pixels to one unit of the shape (about 1.1 units from point to lobes)."""
    dx, dy = math.cos(angle), math.sin(angle)

    def d(x, y):
        qx, qy = x - tip_x, y - tip_y
        # Inigo Quilez's heart: point at the origin, lobes towards +v.
        u = abs(qx * -dy + qy * dx) / scale
        v = -(qx * dx + qy * dy) / scale
        if u + v > 1.0:
            dist = length(u - 0.25, v - 0.75) - math.sqrt(2.0) / 4.0
        else:
            t = 0.5 * max(u + v, 0.0)
            dist = min(length(u, v - 1.0), length(u - t, v - t)) * (1.0 if u > v else -1.0)
        return dist * scale
    return d


# ---------------------------------------------------------------- painting

class Canvas:
    """Premultiplied RGBA in floats 0...1."""

    def __init__(self, side=SIDE):
        self.side = side
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(side * side)]

    def paint(self, shape, colour, bounds=None, aa=True):
        """Lays `colour` (r, g, b, a in 0...1, or a function of x, y giving it)
        over the canvas where the shape is."""
        x0, y0, x1, y1 = bounds or (0, 0, self.side, self.side)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.side, int(math.ceil(x1))), min(self.side, int(math.ceil(y1)))
        fixed = None if callable(colour) else colour
        for y in range(y0, y1):
            cy = y + 0.5
            row = y * self.side
            for x in range(x0, x1):
                cx = x + 0.5
                d = shape(cx, cy)
                cover = max(0.0, min(1.0, 0.5 - d)) if aa else (1.0 if d < 0 else 0.0)
                if cover <= 0.0:
                    continue
                r, g, b, a = fixed or colour(cx, cy)
                a *= cover
                p = self.px[row + x]
                keep = 1.0 - a
                p[0] = r * a + p[0] * keep
                p[1] = g * a + p[1] * keep
                p[2] = b * a + p[2] * keep
                p[3] = a + p[3] * keep

    def clear(self, shape, bounds=None):
        """Cuts the shape out of what is drawn."""
        x0, y0, x1, y1 = bounds or (0, 0, self.side, self.side)
        for y in range(max(0, int(y0)), min(self.side, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.side, int(math.ceil(x1)))):
                cover = max(0.0, min(1.0, 0.5 - shape(x + 0.5, y + 0.5)))
                if cover > 0.0:
                    p = self.px[y * self.side + x]
                    for i in range(4):
                        p[i] *= 1.0 - cover

    def png(self):
        raw = bytearray()
        for y in range(self.side):
            raw.append(0)  # filter: none
            for x in range(self.side):
                r, g, b, a = self.px[y * self.side + x]
                if a <= 0.0:
                    raw.extend(b"\0\0\0\0")
                    continue
                raw.extend(round(min(1.0, max(0.0, c / a)) * 255) for c in (r, g, b))
                raw.append(round(min(1.0, a) * 255))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.side, self.side, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def rgb(hex_colour, alpha=1.0):
    v = int(hex_colour.lstrip("#"), 16)
    return ((v >> 16 & 255) / 255, (v >> 8 & 255) / 255, (v & 255) / 255, alpha)


def vertical(top, bottom, y0, y1):
    """A colour running from `top` at y0 to `bottom` at y1."""
    def colour(_x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    return colour


def bounds_of(points, margin):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return (min(xs) - margin, min(ys) - margin, max(xs) + margin, max(ys) + margin)


def outlined(canvas, shape, fill, edge, width, bounds):
    """Draws the shape with an edge of `width` pixels around its outside."""
    canvas.paint(grow(shape, width), edge, bounds)
    canvas.paint(shape, fill, bounds)


# ---------------------------------------------------------------- the arrow

# The classic arrow in points, tip first; the built-in system arrow uses the same outline.
ARROW = [(3, 2), (3, 19), (7, 15.2), (9.8, 21.6), (12.4, 20.5), (9.7, 14.3), (14.6, 14.3)]


def arrow_outline(tip_x, tip_y, scale):
    return [(tip_x + (x - ARROW[0][0]) * scale, tip_y + (y - ARROW[0][1]) * scale) for x, y in ARROW]


# ---------------------------------------------------------------- art cursors

def paper_plane():
    c = Canvas()
    nose, right, inner, bottom = (30, 26), (228, 110), (138, 138), (110, 228)
    whole = polygon([nose, right, inner, bottom])
    b = bounds_of([nose, right, inner, bottom], 12)
    c.paint(grow(whole, 9), rgb("#1d2b53"), b)
    c.paint(polygon([nose, right, inner]), vertical(rgb("#ffffff"), rgb("#dfe8f5"), 26, 140), b)
    c.paint(polygon([nose, inner, bottom]), vertical(rgb("#9cc7ff"), rgb("#5f9bf0"), 26, 228), b)
    c.paint(capsule(nose[0], nose[1], inner[0], inner[1], 2.5), rgb("#1d2b53"), b)
    return c, {"name": "Paper Plane", "x": 30 / SIDE, "y": 26 / SIDE, "px": 0.55, "py": 0.6}


def paw():
    c = Canvas()
    brown, dark = rgb("#c9824a"), rgb("#4a2a14")
    pad = ellipse(128, 172, 62, 54)
    toes = [ellipse(58, 108, 24, 32), ellipse(104, 66, 26, 36), ellipse(156, 66, 26, 36), ellipse(200, 108, 24, 32)]
    for shape in [pad] + toes:
        c.paint(grow(shape, 7), dark, (20, 20, 240, 240))
    for shape in [pad] + toes:
        c.paint(shape, vertical(rgb("#e3a46d"), brown, 30, 230), (20, 20, 240, 240))
    return c, {"name": "Paw", "x": 104 / SIDE, "y": 30 / SIDE, "px": 0.5, "py": 0.7}


def pointing_hand():
    c = Canvas()
    finger = capsule(98, 44, 98, 150, 21)
    folded = [capsule(130, 118, 150, 118, 19), capsule(160, 128, 178, 128, 18), capsule(188, 140, 200, 140, 16)]
    palm = box(145, 182, 62, 48, 28)
    thumb = capsule(92, 176, 60, 146, 18)
    hand = union(finger, palm, thumb, *folded)
    b = (20, 10, 246, 246)
    c.paint(grow(hand, 8), rgb("#202020"), b)
    c.paint(hand, vertical(rgb("#ffffff"), rgb("#e8e8e8"), 20, 240), b)
    # Creases between the folded fingers and along the palm.
    for x in (143, 172):
        c.paint(capsule(x, 104, x, 132, 2.5), rgb("#202020"), b)
    c.paint(capsule(120, 150, 196, 150, 2.5), rgb("#202020"), b)
    return c, {"name": "Pointing Hand", "x": 98 / SIDE, "y": 22 / SIDE, "px": 0.55, "py": 0.8}


def pencil():
    c = Canvas()
    angle = math.pi / 4
    ux, uy = math.cos(angle), math.sin(angle)  # along the pencil, tip to end
    tip = (28.0, 28.0)

    def at(t, side=0.0):
        return (tip[0] + ux * t - uy * side, tip[1] + uy * t + ux * side)

    half = 24
    body = polygon([at(62, -half), at(230, -half), at(230, half), at(62, half)])
    wood = polygon([at(0), at(62, -half), at(62, half)])
    lead = polygon([at(0), at(22, -half * 22 / 62), at(22, half * 22 / 62)])
    band = polygon([at(196, -half), at(214, -half), at(214, half), at(196, half)])
    eraser = polygon([at(214, -half), at(248, -half), at(248, half), at(214, half)])
    whole = union(body, wood, eraser)
    b = (0, 0, SIDE, SIDE)
    c.paint(grow(whole, 7), rgb("#3a2a10"), b)
    c.paint(body, rgb("#ffc83d"), b)
    c.paint(polygon([at(62, -half), at(230, -half), at(230, -half / 3), at(62, -half / 3)]), rgb("#ffdc75"), b)
    c.paint(wood, rgb("#f2d3a2"), b)
    c.paint(lead, rgb("#404040"), b)
    c.paint(band, rgb("#b8b8c0"), b)
    c.paint(eraser, rgb("#f48fb1"), b)
    return c, {"name": "Pencil", "x": 30 / SIDE, "y": 30 / SIDE, "px": 0.6, "py": 0.6}


def magic_wand():
    c = Canvas()
    b = (0, 0, SIDE, SIDE)
    stick = capsule(90, 90, 226, 226, 13)
    c.paint(grow(stick, 6), rgb("#ffffff"), b)
    c.paint(stick, rgb("#202028"), b)
    c.paint(capsule(196, 196, 226, 226, 13), rgb("#f5f5f5"), b)
    star = polygon(star_points(64, 64, 58, 24, 5, -math.pi / 2))
    c.paint(grow(star, 7), rgb("#8a4b00"), b)
    c.paint(star, vertical(rgb("#fff27a"), rgb("#ffb300"), 6, 122), b)
    for cx, cy, r in ((150, 40, 9), (40, 150, 9), (128, 112, 6)):
        sparkle = polygon(star_points(cx, cy, r * 2, r * 0.5, 4, 0))
        c.paint(sparkle, rgb("#ffd54f"), (cx - 3 * r, cy - 3 * r, cx + 3 * r, cy + 3 * r))
    return c, {"name": "Magic Wand", "x": 64 / SIDE, "y": 64 / SIDE, "px": 0.5, "py": 0.5}


def star():
    c = Canvas()
    cx = cy = 134.0
    outer = 104.0
    direction = -3 * math.pi / 4  # one tip towards the top-left corner
    shape = polygon(star_points(cx, cy, outer, 48, 5, direction))
    b = (0, 0, SIDE, SIDE)
    c.paint(grow(shape, 8), rgb("#b35400"), b)
    c.paint(shape, vertical(rgb("#ffe66b"), rgb("#ffa000"), 20, 250), b)
    tip = (cx + outer * math.cos(direction), cy + outer * math.sin(direction))
    return c, {"name": "Star", "x": round(tip[0]) / SIDE, "y": round(tip[1]) / SIDE, "px": 0.56, "py": 0.56}


def heart_cursor():
    c = Canvas()
    # Upright, tipped a little to the left; it points with its middle, like a stamp.
    angle = math.pi / 2 - 0.2
    scale = 150.0
    tip = (128 + math.cos(angle) * 82.5, 124 + math.sin(angle) * 82.5)
    shape = heart(tip[0], tip[1], scale, angle)
    b = (0, 0, SIDE, SIDE)
    c.paint(grow(shape, 8), rgb("#6d0f1f"), b)
    c.paint(shape, vertical(rgb("#ff6b81"), rgb("#d81b3c"), 20, 250), b)
    c.paint(ellipse(78, 84, 18, 11), rgb("#ffffff", 0.45), b)
    # The middle of the heart: 0.55 units back from the point.
    centre = (tip[0] - math.cos(angle) * 0.55 * scale, tip[1] - math.sin(angle) * 0.55 * scale)
    return c, {"name": "Heart", "x": round(centre[0]) / SIDE, "y": round(centre[1]) / SIDE, "px": 0.5, "py": 0.5}


def spotlight():
    c = Canvas()
    b = (0, 0, SIDE, SIDE)
    c.paint(circle(128, 128, 100), rgb("#ffeb3b", 0.28), b)
    c.paint(ring(circle(128, 128, 100), 12), rgb("#ffc107"), b)
    c.paint(ring(circle(128, 128, 100), 3), rgb("#7a5200"), b)
    c.paint(circle(128, 128, 10), rgb("#ff6f00"), b)
    return c, {"name": "Spotlight", "x": 0.5, "y": 0.5, "px": 0.5, "py": 0.5}


PIXEL_ARROW = [
    "B...........",
    "BB..........",
    "BWB.........",
    "BWWB........",
    "BWWWB.......",
    "BWWWWB......",
    "BWWWWWB.....",
    "BWWWWWWB....",
    "BWWWWWWWB...",
    "BWWWWWWWWB..",
    "BWWWWWWWWWB.",
    "BWWWWWWBBBBB",
    "BWWWBWWB....",
    "BWWBBWWB....",
    "BWB..BWWB...",
    "BB...BWWB...",
    "B.....BWWB..",
    "......BWWB..",
    ".......BB...",
]


def pixel_arrow():
    c = Canvas()
    cell, left, top = 11, 28, 24
    colours = {"B": rgb("#000000"), "W": rgb("#ffffff")}
    for row, line in enumerate(PIXEL_ARROW):
        for col, ch in enumerate(line):
            if ch in colours:
                x, y = left + col * cell, top + row * cell
                c.paint(lambda px, py: -1.0, colours[ch], (x, y, x + cell, y + cell), aa=False)
    return c, {"name": "Pixel Arrow", "x": left / SIDE, "y": top / SIDE, "px": 0.45, "py": 0.8}


ART = [paper_plane, paw, pointing_hand, pencil, magic_wand, star, heart_cursor, spotlight, pixel_arrow]


# ---------------------------------------------------------------- arrow variants

# name, fill top, fill bottom, edge
ARROW_COLOURS = [
    ("White Arrow", "#ffffff", "#f0f0f0", "#000000"),
    ("Black Arrow", "#2a2a2a", "#000000", "#ffffff"),
    ("Blue Arrow", "#4d9dff", "#1565e0", "#ffffff"),
    ("Red Arrow", "#ff6259", "#d32f2f", "#ffffff"),
    ("Green Arrow", "#5fd37a", "#2e9e4f", "#ffffff"),
    ("Yellow Arrow", "#ffe45c", "#ffc400", "#000000"),
    ("Purple Arrow", "#b388ff", "#7b3fe4", "#ffffff"),
    ("Orange Arrow", "#ffb74d", "#f57c00", "#ffffff"),
]

# Arrows fill 0.8 of the picture from the catalogue's default hot spot (0.2, 0.1).
ARROW_TIP = (0.2 * SIDE, 0.1 * SIDE)
ARROW_SCALE = 10.2


def arrow_variant(name, top, bottom, edge):
    def draw():
        c = Canvas()
        pts = arrow_outline(ARROW_TIP[0], ARROW_TIP[1], ARROW_SCALE)
        shape = polygon(pts)
        b = bounds_of(pts, 14)
        c.paint(grow(shape, 10), rgb(edge), b)
        c.paint(shape, vertical(rgb(top), rgb(bottom), b[1], b[3]), b)
        return c, {"name": name}
    return draw


def hollow_arrow():
    c = Canvas()
    pts = arrow_outline(ARROW_TIP[0], ARROW_TIP[1], ARROW_SCALE)
    shape = polygon(pts)
    b = bounds_of(pts, 16)
    c.paint(ring(shape, 22), rgb("#ffffff"), b)
    c.paint(ring(shape, 10), rgb("#000000"), b)
    c.paint(shape, rgb("#ffffff", 0.18), b)
    return c, {"name": "Hollow Arrow"}


ARROWS = [arrow_variant(*entry) for entry in ARROW_COLOURS] + [hollow_arrow]


# ---------------------------------------------------------------- output

def render():
    files = {}
    for catalogue, prefix, drawers in (("themes", "theme-", ART), ("arrows", "arrow-", ARROWS)):
        entries = []
        for n, draw in enumerate(drawers):
            canvas, entry = draw()
            files[f"{prefix}{n}.png"] = canvas.png()
            entries.append(entry)
        files[f"{catalogue}.json"] = (json.dumps(entries, indent=2, ensure_ascii=False) + "\n").encode("utf-8")
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare with the committed files instead of writing")
    args = parser.parse_args()
    files = render()
    if args.check:
        stale = [name for name, data in files.items()
                 if not (OUT / name).is_file() or (OUT / name).read_bytes() != data]
        for name in stale:
            print(f"differs: {name}")
        return 1 if stale else 0
    OUT.mkdir(parents=True, exist_ok=True)
    for name, data in sorted(files.items()):
        (OUT / name).write_bytes(data)
    print(f"wrote {len(files)} files to {OUT}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
