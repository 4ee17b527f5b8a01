#!/usr/bin/env python3
"""Draw the program's symbol icons: Recorder/resources/symbols/<name>.svg.

    scripts/draw_symbols.py            write one SVG per symbol name
    scripts/draw_symbols.py --out DIR  write them somewhere else

Python 3 standard library only; the same files byte for byte on every run.
Each icon is a 24 x 24 view box drawn in black on transparent, so the program
can tint it to any colour: lines 2 wide with round caps and joins, the "fill"
variants filled. Holes and the gap beside a slash are cut with the
compositing operator "dst-out", which Qt's SVG renderer honours; viewers
without it show the same icon without the cut.
"""

import argparse
import math
from pathlib import Path

OUT = Path(__file__).resolve().parent.parent / "Recorder" / "resources" / "symbols"


# ---------------------------------------------------------------- elements

def num(v):
    text = f"{v:.2f}".rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def pts(points):
    return " ".join(f"{num(x)},{num(y)}" for x, y in points)


def style(fill=False, width=None):
    attrs = ""
    if fill:
        attrs += ' fill="#000"'
    if width is not None:
        attrs += f' stroke-width="{num(width)}"'
    return attrs


def line(x1, y1, x2, y2, **kw):
    return f'<line x1="{num(x1)}" y1="{num(y1)}" x2="{num(x2)}" y2="{num(y2)}"{style(**kw)}/>'


def poly(*points, closed=False, **kw):
    tag = "polygon" if closed else "polyline"
    return f'<{tag} points="{pts(points)}"{style(**kw)}/>'


def rect(x, y, w, h, r=0, **kw):
    corner = f' rx="{num(r)}"' if r else ""
    return f'<rect x="{num(x)}" y="{num(y)}" width="{num(w)}" height="{num(h)}"{corner}{style(**kw)}/>'


def circle(cx, cy, r, **kw):
    return f'<circle cx="{num(cx)}" cy="{num(cy)}" r="{num(r)}"{style(**kw)}/>'


def dot(cx, cy, r=1.25):
    # A filled disc with no outline.
    return f'<circle cx="{num(cx)}" cy="{num(cy)}" r="{num(r)}" fill="#000" stroke="none"/>'


def erase(element):
    # The same element cut out of what lies below it.
    return element.replace("/>", ' comp-op="dst-out"/>', 1)


def ellipse(cx, cy, rx, ry, **kw):
    return f'<ellipse cx="{num(cx)}" cy="{num(cy)}" rx="{num(rx)}" ry="{num(ry)}"{style(**kw)}/>'


def path(d, **kw):
    return f'<path d="{d}"{style(**kw)}/>'


# ---------------------------------------------------------------- geometry

def polar(cx, cy, r, degrees):
    # Screen angles: 0 to the right, 90 straight down.
    a = math.radians(degrees)
    return cx + r * math.cos(a), cy + r * math.sin(a)


def arc_d(cx, cy, r, start, end):
    """An arc from angle start to angle end, turning clockwise on screen when end > start."""
    x0, y0 = polar(cx, cy, r, start)
    x1, y1 = polar(cx, cy, r, end)
    large = 1 if abs(end - start) > 180 else 0
    sweep = 1 if end > start else 0
    return f"M{num(x0)} {num(y0)}A{num(r)} {num(r)} 0 {large} {sweep} {num(x1)} {num(y1)}"


def head(x, y, dx, dy, size=4.0, spread=42):
    """The two strokes of an arrow head at (x, y) pointing along (dx, dy)."""
    back = math.degrees(math.atan2(-dy, -dx))
    a = polar(x, y, size, back - spread)
    b = polar(x, y, size, back + spread)
    return poly(a, (x, y), b)


def arrow(x1, y1, x2, y2, size=4.0):
    return [line(x1, y1, x2, y2), head(x2, y2, x2 - x1, y2 - y1, size)]


def slash():
    # A gap cut through whatever lies under the slash, then the slash itself.
    return [erase(line(3.5, 3.5, 20.5, 20.5, width=5.5)), line(3.5, 3.5, 20.5, 20.5)]


def sparkle(cx, cy, r):
    d = (f"M{num(cx)} {num(cy - r)}Q{num(cx)} {num(cy)} {num(cx + r)} {num(cy)}"
         f"Q{num(cx)} {num(cy)} {num(cx)} {num(cy + r)}Q{num(cx)} {num(cy)} {num(cx - r)} {num(cy)}"
         f"Q{num(cx)} {num(cy)} {num(cx)} {num(cy - r)}Z")
    return f'<path d="{d}" fill="#000" stroke="none"/>'


def gear_d(cx=12, cy=12, outer=10, inner=7.4, teeth=8, hole=3.2):
    step = 360 / teeth
    points = []
    for i in range(teeth):
        a = i * step - 90
        points += [polar(cx, cy, inner, a - step * 0.5), polar(cx, cy, inner, a - step * 0.28),
                   polar(cx, cy, outer, a - step * 0.17), polar(cx, cy, outer, a + step * 0.17),
                   polar(cx, cy, inner, a + step * 0.28)]
    d = "M" + "L".join(f"{num(x)} {num(y)}" for x, y in points) + "Z"
    if not hole:
        return d
    # The hole's outline as a second sub-path.
    d += (f"M{num(cx + hole)} {num(cy)}A{num(hole)} {num(hole)} 0 1 0 {num(cx - hole)} {num(cy)}"
          f"A{num(hole)} {num(hole)} 0 1 0 {num(cx + hole)} {num(cy)}Z")
    return d


def keyboard(k=1.0, width=None):
    """A keyboard of two key rows and a space bar, 20 x 12 at k = 1, centred on the view box."""
    def at(v):
        return 12 + (v - 12) * k
    bar = 1.8 if width is None else width * 0.75
    return ([rect(at(2), at(6), 20 * k, 12 * k, 2 * k, width=width)]
            + [dot(at(x), at(y), 1.05 * k) for y in (9.6, 12.6) for x in (6, 9, 12, 15, 18)]
            + [line(at(8.5), at(15.3), at(15.5), at(15.3), width=bar)])


def person(bottom_y, half_width):
    """Head and shoulders; the shoulders end at bottom_y, half_width either side of the middle."""
    left, right = 12 - half_width, 12 + half_width
    return [circle(12, 9.5, 3.2),
            path(f"M{num(left)} {num(bottom_y)}C{num(left + 1.2)} 16.2 9.4 14.8 12 14.8"
                 f"C14.6 14.8 {num(right - 1.2)} 16.2 {num(right)} {num(bottom_y)}")]


# ---------------------------------------------------------------- the icons

def video(fill=False):
    return [rect(2.5, 6, 13, 12, 2.5, fill=fill), poly((15.5, 10.5), (21, 7.5), (21, 16.5), (15.5, 13.5),
                                                       closed=True, fill=fill)]


def eye(fill=False):
    shape = path("M2 12C5 6.5 8.5 5 12 5C15.5 5 19 6.5 22 12C19 17.5 15.5 19 12 19C8.5 19 5 17.5 2 12Z", fill=fill)
    if fill:
        return [shape, erase(dot(12, 12, 4.2)), dot(12, 12, 2.4)]
    return [shape, circle(12, 12, 3)]


def mic(fill=False):
    return [rect(9, 2.5, 6, 11, 3, fill=fill), path(arc_d(12, 10.5, 6.5, 180, 0)),
            line(12, 17, 12, 21), line(8.5, 21, 15.5, 21)]


def speaker(fill=False):
    return [path("M3 9.5H6.5L11 5.5V18.5L6.5 14.5H3Z", fill=fill)]


def waves():
    return [path(arc_d(13, 12, 3.8, -48, 48)), path(arc_d(13, 12, 7.6, -50, 50))]


def in_circle(*inner, fill=False):
    if fill:
        return [circle(12, 12, 9.5, fill=True)] + [erase(e) for e in inner]
    return [circle(12, 12, 9.5)] + list(inner)


def check(x0, y0, x1, y1, x2, y2, **kw):
    return poly((x0, y0), (x1, y1), (x2, y2), **kw)


def z(x, y, size, width):
    return poly((x, y), (x + size, y), (x, y + size), (x + size, y + size), width=width)


def crescent_d(cx, cy, r, bx, by, br):
    """The disc at (cx, cy) with the disc at (bx, by) bitten out of it."""
    d = math.hypot(bx - cx, by - cy)
    toward = math.degrees(math.atan2(by - cy, bx - cx))
    half = math.degrees(math.acos((d * d + r * r - br * br) / (2 * d * r)))
    x0, y0 = polar(cx, cy, r, toward + half)
    x1, y1 = polar(cx, cy, r, toward - half)
    return (f"M{num(x0)} {num(y0)}A{num(r)} {num(r)} 0 1 1 {num(x1)} {num(y1)}"
            f"A{num(br)} {num(br)} 0 0 0 {num(x0)} {num(y0)}Z")


def lock_d(x, y, w, r):
    return f"M{num(x)} {num(y)}V{num(y - r)}A{num(w / 2)} {num(w / 2)} 0 0 1 {num(x + w)} {num(y - r)}V{num(y)}"


SYMBOLS = {
    "xmark": [line(6, 6, 18, 18), line(18, 6, 6, 18)],
    "checkmark": [check(4.5, 12.5, 9.5, 17.5, 19.5, 6.5)],
    "checkmark.circle": in_circle(check(7.5, 12.3, 10.7, 15.5, 16.5, 9)),
    "checkmark.circle.fill": in_circle(check(7.5, 12.3, 10.7, 15.5, 16.5, 9), fill=True),
    "display": [rect(2.5, 4, 19, 12.5, 2), line(12, 16.5, 12, 20), line(8, 20.5, 16, 20.5)],
    "macwindow": [rect(2.5, 4, 19, 16, 2.5), line(2.5, 8.5, 21.5, 8.5)],
    "rectangle": [rect(2.5, 5, 19, 14, 2.5)],
    "rectangle.dashed": [line(6, 5, 8, 5), line(11, 5, 13, 5), line(16, 5, 18, 5),
                         line(6, 19, 8, 19), line(11, 19, 13, 19), line(16, 19, 18, 19),
                         line(2.5, 10.5, 2.5, 13.5), line(21.5, 10.5, 21.5, 13.5),
                         path("M2.5 7.5A2.5 2.5 0 0 1 5 5"), path("M19 5A2.5 2.5 0 0 1 21.5 7.5"),
                         path("M21.5 16.5A2.5 2.5 0 0 1 19 19"), path("M5 19A2.5 2.5 0 0 1 2.5 16.5")],
    "square": [rect(4, 4, 16, 16, 2.5)],
    "circle": [circle(12, 12, 9)],
    "circle.fill": [circle(12, 12, 9, fill=True)],
    "circle.lefthalf.filled": [circle(12, 12, 9), path("M12 3A9 9 0 0 0 12 21Z", fill=True)],
    "record.circle": [circle(12, 12, 9.5), dot(12, 12, 5)],
    "video": video(),
    "video.fill": video(fill=True),
    "video.slash": video() + slash(),
    "eye": eye(),
    "eye.slash": eye() + slash(),
    "eye.slash.fill": eye(fill=True) + slash(),
    "mic": mic(),
    "mic.fill": mic(fill=True),
    "mic.slash": mic() + slash(),
    "mic.slash.fill": mic(fill=True) + slash(),
    "speaker.wave.2": speaker() + waves(),
    "speaker.wave.2.fill": speaker(fill=True) + waves(),
    "speaker.slash": speaker() + slash(),
    "speaker.slash.fill": speaker(fill=True) + slash(),
    "headphones": [path("M4 17V12A8 8 0 0 1 20 12V17"),
                   rect(3, 13.5, 4, 7, 1.5, fill=True), rect(17, 13.5, 4, 7, 1.5, fill=True)],
    "gearshape": [path(gear_d(), width=1.8)],
    "gearshape.fill": [path(gear_d(hole=0), fill=True, width=1.8), erase(dot(12, 12, 3.4))],
    "hourglass": [line(6, 3, 18, 3), line(6, 21, 18, 21),
                  path("M7.5 3C7.5 8 12 9.5 12 12C12 14.5 7.5 16 7.5 21"),
                  path("M16.5 3C16.5 8 12 9.5 12 12C12 14.5 16.5 16 16.5 21"),
                  path("M9.5 19.5Q12 16.5 14.5 19.5Z", fill=True, width=1)],
    "folder": [path("M3 6.5A1.5 1.5 0 0 1 4.5 5H9.5L11.5 7H19.5A1.5 1.5 0 0 1 21 8.5V17.5"
                    "A1.5 1.5 0 0 1 19.5 19H4.5A1.5 1.5 0 0 1 3 17.5Z")],
    "exclamationmark.triangle.fill": [poly((12, 3.5), (21.5, 20), (2.5, 20), closed=True, fill=True),
                                      erase(line(12, 9.5, 12, 13.5)), erase(dot(12, 16.8, 1.3))],
    "exclamationmark.circle.fill": in_circle(line(12, 7, 12, 12.8), dot(12, 16.5, 1.3), fill=True),
    "info.circle": in_circle(line(12, 11, 12, 16.5), dot(12, 7.7, 1.3)),
    "questionmark.circle": in_circle(path("M9.4 9.6A2.7 2.7 0 1 1 13.3 12C12.5 12.4 12 13 12 13.8V14"),
                                     dot(12, 17.2, 1.3)),
    "ellipsis.circle": in_circle(dot(7.5, 12, 1.4), dot(12, 12, 1.4), dot(16.5, 12, 1.4)),
    "pause.fill": [rect(6, 4.5, 3.5, 15, 1, fill=True), rect(14.5, 4.5, 3.5, 15, 1, fill=True)],
    "play.fill": [poly((7, 4.5), (19, 12), (7, 19.5), closed=True, fill=True)],
    "stop.fill": [rect(5, 5, 14, 14, 2.5, fill=True)],
    "backward.end.fill": [line(5.5, 5, 5.5, 19), poly((19, 5), (9.5, 12), (19, 19), closed=True, fill=True)],
    "arrow.counterclockwise": [path(arc_d(12, 12.5, 8, 200, -90))] + [head(*polar(12, 12.5, 8, -90), -1, 0)],
    "trash": [line(3.5, 6.5, 20.5, 6.5), path("M9 6.5V4.5A1 1 0 0 1 10 3.5H14A1 1 0 0 1 15 4.5V6.5"),
              path("M5.5 6.5L6.7 19.6A1.6 1.6 0 0 0 8.3 21H15.7A1.6 1.6 0 0 0 17.3 19.6L18.5 6.5"),
              line(10, 10.5, 10, 17), line(14, 10.5, 14, 17)],
    "arrow.up.left.and.arrow.down.right": [line(4, 4, 10, 10), poly((4, 10), (4, 4), (10, 4)),
                                           line(20, 20, 14, 14), poly((20, 14), (20, 20), (14, 20))],
    "arrow.down.right.and.arrow.up.left": [line(4, 4, 10, 10), poly((10, 4.5), (10, 10), (4.5, 10)),
                                           line(20, 20, 14, 14), poly((14, 19.5), (14, 14), (19.5, 14))],
    "leaf.fill": [path("M6 18C4 10 10 4 20.5 4C20.5 14 14 20 6 18Z", fill=True),
                  erase(line(8.5, 15.5, 15.5, 8.5, width=1.6)), line(3.5, 20.5, 7, 17)],
    "moon.zzz.fill": [path(crescent_d(10, 14, 8, 15.5, 8.5, 6.5), fill=True),
                      z(14.5, 2.5, 4.5, 1.6), z(19.5, 9.5, 2.8, 1.4)],
    "plus.viewfinder": [poly((3, 8.5), (3, 3), (8.5, 3)), poly((15.5, 3), (21, 3), (21, 8.5)),
                        poly((21, 15.5), (21, 21), (15.5, 21)), poly((8.5, 21), (3, 21), (3, 15.5)),
                        line(12, 8, 12, 16), line(8, 12, 16, 12)],
    "magnifyingglass": [circle(10.5, 10.5, 6.5), line(15.3, 15.3, 20.5, 20.5)],
    "plus.magnifyingglass": [circle(10.5, 10.5, 6.5), line(15.3, 15.3, 20.5, 20.5),
                             line(10.5, 7.8, 10.5, 13.2), line(7.8, 10.5, 13.2, 10.5)],
    "pencil.tip": [path("M6 4Q12 7 18 4L12 21Z"), path("M9.9 15Q12 16 14.1 15L12 21Z", fill=True)],
    "line.diagonal": [line(5, 19, 19, 5)],
    "arrow.up.right": [line(6, 18, 18, 6), poly((9, 6), (18, 6), (18, 15))],
    "eraser": [poly((3.5, 15), (13.5, 5), (20, 11.5), (10, 21.5), closed=True),
               line(6.4, 17.9, 16.4, 7.9), line(10, 21.5, 20.5, 21.5)],
    "text.justify.left": [line(4, 6, 20, 6), line(4, 10, 20, 10), line(4, 14, 20, 14), line(4, 18, 14, 18)],
    "textformat": [poly((2.5, 19), (8, 5), (13.5, 19)), line(4.5, 14, 11.5, 14),
                   circle(18, 16, 3), line(21, 13, 21, 19)],
    "textformat.size": [poly((2.5, 19), (6, 10.5), (9.5, 19)), line(3.8, 16, 8.2, 16),
                        poly((10.5, 19), (15.75, 4.5), (21, 19)), line(12.6, 14.5, 18.9, 14.5)],
    "wand.and.sparkles": [line(4, 20, 14, 10), line(14, 10, 16, 8, width=3.2),
                          sparkle(17.5, 5, 3.2), sparkle(20, 12.5, 2.2), sparkle(9.5, 4.5, 2)],
    "keyboard": keyboard(),
    "person.crop.circle": [circle(12, 12, 9.5)] + person(19.4, 6),
    "person.crop.square": [rect(3, 3, 18, 18, 3)] + person(21, 5.5),
    "paintbrush.pointed": [line(11.5, 12.5, 20, 4),
                           path("M8.5 11.5L12.5 15.5C11 19 8 20.5 3.5 20.5C3.5 16 5 13 8.5 11.5Z", fill=True)],
    "slider.horizontal.3": [line(3, 6, 12.5, 6), circle(15, 6, 2.5), line(17.5, 6, 21, 6),
                            line(3, 12, 5.5, 12), circle(8, 12, 2.5), line(10.5, 12, 21, 12),
                            line(3, 18, 10.5, 18), circle(13, 18, 2.5), line(15.5, 18, 21, 18)],
    "power": [path(arc_d(12, 13, 8, -58, 238)), line(12, 3, 12, 11)],
    "camera": [path("M3 8.5A1.5 1.5 0 0 1 4.5 7H7.5L9 4.5H15L16.5 7H19.5A1.5 1.5 0 0 1 21 8.5V18.5"
                    "A1.5 1.5 0 0 1 19.5 20H4.5A1.5 1.5 0 0 1 3 18.5Z"), circle(12, 13.5, 3.5)],
    "square.and.arrow.down": [path("M8 9H6.5A1.5 1.5 0 0 0 5 10.5V19.5A1.5 1.5 0 0 0 6.5 21H17.5"
                                   "A1.5 1.5 0 0 0 19 19.5V10.5A1.5 1.5 0 0 0 17.5 9H16")]
    + arrow(12, 3, 12, 15, 3.8),
    "globe": [circle(12, 12, 9.5), ellipse(12, 12, 4, 9.5), line(2.5, 12, 21.5, 12)],
    "book": [path("M12 6.5C10 5 7 4.5 3 5V18.5C7 18 10 18.5 12 20C14 18.5 17 18 21 18.5V5C17 4.5 14 5 12 6.5Z"),
             line(12, 6.5, 12, 20)],
    "chevron.left.forwardslash.chevron.right": [poly((7, 7), (2.5, 12), (7, 17)), poly((17, 7), (21.5, 12), (17, 17)),
                                                line(14, 4.5, 10, 19.5)],
    "hand.tap": [path(arc_d(11, 6, 4.5, 200, 340), width=1.6),
                 path("M9.5 14V6A1.5 1.5 0 0 1 12.5 6V11.5A1.5 1.5 0 0 1 15.5 11.5V12.5A1.5 1.5 0 0 1 18.5 12.5V16"
                      "C18.5 19.5 16.5 21.5 13.2 21.5C10.8 21.5 9.4 20.6 8.2 18.9L5.6 15.2A1.5 1.5 0 0 1 7.8 13.2L9.5 15")],
    "lock.fill": [path(lock_d(8, 10.5, 8, 3)), rect(5, 10.5, 14, 10.5, 2, fill=True)],
    "lock.shield": [path("M12 2.5L19.5 5.5V11C19.5 16 16.5 19.5 12 21.5C7.5 19.5 4.5 16 4.5 11V5.5Z"),
                    rect(9, 11.5, 6, 4.5, 1, fill=True, width=1), path(lock_d(10.2, 11.5, 3.6, 1), width=1.5)],
    "waveform": [line(x, 12 - h / 2, x, 12 + h / 2) for x, h in zip((3, 6, 9, 12, 15, 18, 21), (3, 9, 16, 7, 13, 6, 2))],
    "cursorarrow.rays": [poly((10, 10), (20.5, 15.5), (15.8, 16.8), (13.5, 21.5), closed=True),
                         line(6.5, 10, 3.5, 10), line(10, 6.5, 10, 3.5), line(7.5, 7.5, 5.2, 5.2),
                         line(7.5, 12.5, 5.2, 14.8), line(12.5, 7.5, 14.8, 5.2)],
    # The shortcuts' symbols (hint strip, settings tab, guide). Linux has no
    # command key, so they show the keyboard rather than its looped square.
    "command": keyboard(),
    "command.circle": [circle(12, 12, 10)] + keyboard(0.62, width=1.4),
    "gauge.with.dots.needle.33percent": [circle(12, 12, 10)]
    + [dot(*polar(12, 12.5, 6.5, 135 + 45 * i), 1) for i in range(7)]
    + [line(12, 12.5, *polar(12, 12.5, 5, 135 + 270 / 3)), dot(12, 12.5, 1.8)],
}


def svg(elements):
    body = "".join(f"\n  {e}" for e in elements)
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">\n'
            ' <g fill="none" stroke="#000" stroke-width="2" stroke-linecap="round" stroke-linejoin="round">'
            f"{body}\n </g>\n</svg>\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=OUT)
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    for old in args.out.glob("*.svg"):
        if old.stem not in SYMBOLS:
            old.unlink()
    for name in sorted(SYMBOLS):
        (args.out / f"{name}.svg").write_bytes(svg(SYMBOLS[name]).encode())


if __name__ == "__main__":
    main()
