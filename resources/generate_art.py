#!/usr/bin/env python3
"""Draws Snapwren's application icon and toolbar images.

Run from the repository root:

    python3 resources/generate_art.py           # rewrite the files
    python3 resources/generate_art.py --check   # fail if they are stale

Only the standard library is used, and the output is byte-for-byte the same
on every run, so the committed images can always be traced back to this file.
Each shape is sampled 8 x 8 times per pixel; the share of samples it covers
becomes the pixel's alpha, which gives smooth edges without any drawing
library.
"""

import math
import os
import struct
import sys
import zlib

SAMPLES = 8  # sub-samples per pixel along each axis

# ---------------------------------------------------------------------------
# Shapes. Coordinates are in pixels; pixel (i, j) covers [i, i+1] x [j, j+1].
# Every shape has a bounding box (for quick rejection) and a contains() test.


class Shape:
    def __init__(self, box):
        self.box = box  # (x0, y0, x1, y1)

    def hit(self, x, y):
        x0, y0, x1, y1 = self.box
        return x0 <= x <= x1 and y0 <= y <= y1 and self.contains(x, y)

    def contains(self, x, y):
        raise NotImplementedError


class Capsule(Shape):
    """A straight stroke with round caps."""

    def __init__(self, a, b, width):
        r = width / 2.0
        super().__init__((min(a[0], b[0]) - r, min(a[1], b[1]) - r,
                          max(a[0], b[0]) + r, max(a[1], b[1]) + r))
        self.a, self.b, self.r2 = a, b, r * r
        dx, dy = b[0] - a[0], b[1] - a[1]
        self.d = (dx, dy)
        self.len2 = dx * dx + dy * dy

    def contains(self, x, y):
        ax, ay = self.a
        dx, dy = self.d
        t = 0.0
        if self.len2 > 0.0:
            t = ((x - ax) * dx + (y - ay) * dy) / self.len2
            t = min(1.0, max(0.0, t))
        ex, ey = x - (ax + t * dx), y - (ay + t * dy)
        return ex * ex + ey * ey <= self.r2


class Ellipse(Shape):
    def __init__(self, cx, cy, rx, ry=None):
        ry = rx if ry is None else ry
        super().__init__((cx - rx, cy - ry, cx + rx, cy + ry))
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry

    def contains(self, x, y):
        u, v = (x - self.cx) / self.rx, (y - self.cy) / self.ry
        return u * u + v * v <= 1.0


def Disc(cx, cy, diameter):
    return Ellipse(cx, cy, diameter / 2.0)


class Rect(Shape):
    def __init__(self, x0, y0, x1, y1):
        super().__init__((x0, y0, x1, y1))

    def contains(self, x, y):
        return True  # the bounding box test already decided


class Polygon(Shape):
    """Filled polygon, even-odd rule."""

    def __init__(self, points):
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        super().__init__((min(xs), min(ys), max(xs), max(ys)))
        self.points = points

    def contains(self, x, y):
        inside = False
        pts = self.points
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y):
                if x < xi + (y - yi) * (xj - xi) / (yj - yi):
                    inside = not inside
            j = i
        return inside


class Union(Shape):
    def __init__(self, *parts):
        super().__init__((min(p.box[0] for p in parts), min(p.box[1] for p in parts),
                          max(p.box[2] for p in parts), max(p.box[3] for p in parts)))
        self.parts = parts

    def contains(self, x, y):
        return any(p.hit(x, y) for p in self.parts)


class Minus(Shape):
    def __init__(self, keep, cut):
        super().__init__(keep.box)
        self.keep, self.cut = keep, cut

    def contains(self, x, y):
        return self.keep.contains(x, y) and not self.cut.hit(x, y)


def polyline(points, width, closed=False):
    """Stroke through the points with round joins and caps."""
    pts = list(points) + ([points[0]] if closed else [])
    return Union(*[Capsule(pts[i], pts[i + 1], width) for i in range(len(pts) - 1)])


def frame(x0, y0, x1, y1, width):
    """Hollow rectangle with square corners; the stroke lies inside the box."""
    return Minus(Rect(x0, y0, x1, y1), Rect(x0 + width, y0 + width, x1 - width, y1 - width))


def arc(cx, cy, r, deg0, deg1, steps=24):
    """Points on a circular arc; angles in degrees, y pointing down."""
    out = []
    for i in range(steps + 1):
        a = math.radians(deg0 + (deg1 - deg0) * i / steps)
        out.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return out


def bezier(p0, p1, p2, p3, steps=24):
    out = []
    for i in range(steps + 1):
        t = i / steps
        s = 1.0 - t
        out.append((s * s * s * p0[0] + 3 * s * s * t * p1[0] + 3 * s * t * t * p2[0] + t * t * t * p3[0],
                    s * s * s * p0[1] + 3 * s * s * t * p1[1] + 3 * s * t * t * p2[1] + t * t * t * p3[1]))
    return out


# ---------------------------------------------------------------------------
# Rasteriser. A picture is a list of layers painted back to front; each layer
# is (shape, colour) where colour is (r, g, b), a function of (x, y) giving
# one (for shading), or None to punch a hole.


def render(size, layers, scale=1):
    """Returns rows of (r, g, b, a) with straight (not premultiplied) alpha. The shapes are
    drawn in 28-pixel units, `scale` times as large."""
    n = SAMPLES * SAMPLES
    offsets = [(k + 0.5) / SAMPLES for k in range(SAMPLES)]
    top_down = list(reversed(layers))
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            sr = sg = sb = covered = 0
            for oy in offsets:
                y = (py + oy) / scale
                for ox in offsets:
                    x = (px + ox) / scale
                    for shape, colour in top_down:
                        if shape.hit(x, y):
                            if callable(colour):
                                colour = colour(x, y)
                            if colour is not None:
                                sr += colour[0]
                                sg += colour[1]
                                sb += colour[2]
                                covered += 1
                            break
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                # Integer rounding keeps the result independent of float quirks.
                half = covered // 2
                row.append(((sr + half) // covered, (sg + half) // covered,
                            (sb + half) // covered, (255 * covered * 2 + n) // (2 * n)))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------
# File formats.


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def _zlib_stored(data):
    # Stored (uncompressed) deflate blocks: compressed output would depend on
    # the zlib build, and these images are only a couple of kilobytes anyway.
    out = bytearray(b"\x78\x01")
    blocks = [data[i:i + 65535] for i in range(0, len(data), 65535)] or [b""]
    for i, block in enumerate(blocks):
        out.append(1 if i == len(blocks) - 1 else 0)
        out += struct.pack("<HH", len(block), len(block) ^ 0xFFFF)
        out += block
    out += struct.pack(">I", zlib.adler32(data))
    return bytes(out)


def png_grey_alpha(rows):
    """8-bit greyscale + alpha PNG (colour type 4)."""
    h, w = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for r, g, b, a in row:
            # Transparent pixels stay white so that resampling never drags in a dark fringe.
            grey = 255 if a == 0 else (r * 299 + g * 587 + b * 114 + 500) // 1000
            raw += bytes((grey, a))
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 4, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", ihdr) +
            _chunk(b"IDAT", _zlib_stored(bytes(raw))) + _chunk(b"IEND", b""))


def ico_32bpp(rows):
    """Single-image ICO holding a 32-bit DIB, readable by every Windows version."""
    size = len(rows)
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # DIBs are stored bottom-up
        bits = 0
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
            bits = (bits << 1) | (1 if a == 0 else 0)
        bits <<= mask_stride * 8 - size
        mask += bits.to_bytes(mask_stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + bytes(pixels) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


# ---------------------------------------------------------------------------
# Artwork.

WHITE = (255, 255, 255)
STROKE = 2.25


def hexrgb(s):
    return tuple(int(s[i:i + 2], 16) for i in (1, 3, 5))


def app_icon():
    # The same flower the program paints by itself when the icon cannot be
    # loaded, so the tray icon keeps its shape either way.
    cx = cy = 16.0
    petals = []
    for deg in (-90, -18, 54, 126, 198):
        a = math.radians(deg)
        petals.append((cx + 8 * math.cos(a), cy + 8 * math.sin(a)))
    outline = hexrgb("#C2456A")
    inner, outer = hexrgb("#FF9DB1"), hexrgb("#FFD0D9")

    def petal_shade(x, y):
        # Deeper pink towards the heart of the flower, paler at the tips.
        t = min(1.0, max(0.0, (math.hypot(x - cx, y - cy) - 4.0) / 9.0))
        return tuple(round(a + (b - a) * t) for a, b in zip(inner, outer))

    layers = []
    # A darker rim keeps the flower readable on light taskbars.
    layers.append((Union(*[Disc(x, y, 11.6) for x, y in petals]), outline))
    layers.append((Union(*[Disc(x, y, 10) for x, y in petals]), petal_shade))
    # Short creases where neighbouring petals meet.
    for deg in (-54, 18, 90, 162, 234):
        a = math.radians(deg)
        layers.append((Capsule((cx + 4.5 * math.cos(a), cy + 4.5 * math.sin(a)),
                               (cx + 8.0 * math.cos(a), cy + 8.0 * math.sin(a)), 0.9),
                       hexrgb("#E27D96")))
    layers.append((Disc(cx, cy, 9.4), hexrgb("#9E1B2A")))
    layers.append((Disc(cx, cy, 8), hexrgb("#E0303C")))
    layers.append((Disc(cx, cy, 3.2), hexrgb("#FF9A1F")))
    return render(32, layers)


def white(*shapes):
    return [(s, WHITE) for s in shapes]


def tool_pen():
    # A pen slanting down to the left above the wavy line it has drawn.
    ux, uy = -1 / math.sqrt(2), 1 / math.sqrt(2)   # along the pen, towards the nib
    vx, vy = uy, -ux                               # across the pen
    half = 2.3
    top = (22.0, 6.0)
    shoulder = (top[0] + ux * 12.0, top[1] + uy * 12.0)
    nib = (shoulder[0] + ux * 3.8, shoulder[1] + uy * 3.8)

    def at(p, along, across):
        return (p[0] + ux * along + vx * across, p[1] + uy * along + vy * across)

    body = Polygon([at(top, 0, -half), at(top, 0, half),
                    at(shoulder, 0, half), nib, at(shoulder, 0, -half)])
    # A thin gap separates the cap from the barrel.
    cap_gap = Polygon([at(top, 3.6, -half - 1), at(top, 3.6, half + 1),
                       at(top, 4.6, half + 1), at(top, 4.6, -half - 1)])
    # One and a half gentle waves along the bottom.
    wave = [(5.0 + 15.0 * i / 40, 22.0 - 1.8 * math.sin(3 * math.pi * i / 40)) for i in range(41)]
    squiggle = polyline(wave, 2.0)
    return [(Union(body, squiggle), WHITE), (cap_gap, None)]


def tool_line():
    return white(Capsule((6.5, 21.5), (21.5, 6.5), STROKE))


def tool_arrow():
    tip = (21.5, 6.5)
    return white(Capsule((6.5, 21.5), tip, STROKE),
                 polyline([(12.5, 6.5), tip, (21.5, 15.5)], STROKE))


def tool_rectangle():
    return white(frame(5, 5, 23, 23, 2))


def tool_undo():
    # A U-turn: out to the right, round the bend, back to the left,
    # with the head on the upper end pointing back where it came from.
    head = (6.0, 9.5)
    path = [(7.0, 9.5)] + arc(15.0, 15.0, 5.5, -90, 90, 32) + [(9.0, 20.5)]
    return white(polyline(path, STROKE),
                 polyline([(10.0, 5.5), head, (10.0, 13.5)], STROKE))


def tool_copy():
    back = frame(4, 4, 17, 19, 2)
    front_box = (11, 9, 24, 24)
    front = frame(*front_box, 2)
    lines = Union(Rect(14, 13.5, 21, 15), Rect(14, 16.5, 21, 18), Rect(14, 19.5, 19, 21))
    x0, y0, x1, y1 = front_box
    # The front page hides the back one's outline, with a little air between them.
    return [(back, WHITE), (Rect(x0 - 1.5, y0 - 1.5, x1 + 1.5, y1 + 1.5), None),
            (front, WHITE), (lines, WHITE)]


def tool_close():
    return white(Capsule((7.5, 7.5), (20.5, 20.5), 2.5), Capsule((20.5, 7.5), (7.5, 20.5), 2.5))


def tool_text():
    bar = Rect(5.5, 4.5, 22.5, 7.0)
    serif_l = Polygon([(5.5, 4.5), (7.5, 4.5), (7.5, 10.0), (5.5, 9.0)])
    serif_r = Polygon([(20.5, 4.5), (22.5, 4.5), (22.5, 9.0), (20.5, 10.0)])
    stem = Rect(12.5, 5.0, 15.5, 23.5)
    foot = Rect(9.5, 21.5, 18.5, 23.5)
    return white(bar, serif_l, serif_r, stem, foot)


def tool_save():
    tray = polyline([(5.0, 15.5), (5.0, 23.0), (23.0, 23.0), (23.0, 15.5)], STROKE)
    shaft = Capsule((14.0, 4.5), (14.0, 17.5), STROKE)
    head = polyline([(9.0, 12.5), (14.0, 17.5), (19.0, 12.5)], STROKE)
    return white(tray, shaft, head)


def tool_upload():
    w = 2.0
    blobs = [(8.5, 16.0, 4.5), (14.5, 12.0, 6.0), (20.0, 15.5, 5.0)]
    outer = Union(*[Ellipse(x, y, r) for x, y, r in blobs], Rect(8.5, 14.0, 20.0, 20.5))
    inner = Union(*[Ellipse(x, y, r - w) for x, y, r in blobs], Rect(8.5, 14.0, 20.0, 20.5 - w))
    cloud = Minus(outer, inner)
    shaft = Capsule((14.0, 23.5), (14.0, 13.0), w)
    head = polyline([(10.5, 16.5), (14.0, 13.0), (17.5, 16.5)], w)
    # Open the cloud's bottom edge where the arrow passes through.
    return [(cloud, WHITE), (Rect(11.5, 17.0, 16.5, 22.0), None), (shaft, WHITE), (head, WHITE)]


def tool_mosaic():
    # Blocks of a pixelated area, every other one filled, in a frame.
    cells = [Rect(6 + 4 * i, 6 + 4 * j, 10 + 4 * i, 10 + 4 * j)
             for i in range(4) for j in range(4) if (i + j) % 2 == 0]
    return white(frame(4, 4, 24, 24, 1.5), *cells)


def tool_number():
    # The filled circle of a numbered step, with a 1 cut out of it.
    one = Union(Rect(13.0, 8.5, 15.5, 20.0), Polygon([(10.5, 11.0), (13.0, 8.5), (13.8, 10.8)]),
                Rect(10.5, 18.0, 18.0, 20.0))
    return [(Disc(14.0, 14.0, 20.0), WHITE), (one, None)]


def tool_pin():
    # A pushpin leaning right: round head, tapering body, wide collar, and the needle below.
    turn = math.radians(35)

    def at(x, y):
        dx, dy = x - 14.0, y - 14.0
        return (14.0 + dx * math.cos(turn) - dy * math.sin(turn),
                14.0 + dx * math.sin(turn) + dy * math.cos(turn))

    head = Capsule(at(10.5, 5.0), at(17.5, 5.0), 3.5)
    body = Polygon([at(11.8, 5.5), at(16.2, 5.5), at(17.5, 14.5), at(10.5, 14.5)])
    collar = Capsule(at(8.0, 15.0), at(20.0, 15.0), 3.0)
    needle = Capsule(at(14.0, 16.0), at(14.0, 24.5), 1.6)
    return white(head, body, collar, needle)


# Each image at 100, 150 and 200 %, for displays scaled that much; the program scales between.
SIZES = [(28, ""), (42, "_42"), (56, "_56")]

TOOLS = [
    ("tool_pen.png", tool_pen),
    ("tool_line.png", tool_line),
    ("tool_arrow.png", tool_arrow),
    ("tool_rectangle.png", tool_rectangle),
    ("tool_undo.png", tool_undo),
    ("tool_copy.png", tool_copy),
    ("tool_close.png", tool_close),
    ("tool_text.png", tool_text),
    ("tool_save.png", tool_save),
    ("tool_upload.png", tool_upload),
    ("tool_mosaic.png", tool_mosaic),
    ("tool_number.png", tool_number),
    ("tool_pin.png", tool_pin),
]


def build():
    files = {"app.ico": ico_32bpp(app_icon())}
    for name, draw in TOOLS:
        for size, suffix in SIZES:
            files[name.replace(".png", suffix + ".png")] = png_grey_alpha(
                render(size, draw(), size / 28))
    return files


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    check = "--check" in argv[1:]
    stale = []
    for name, data in build().items():
        path = os.path.join(here, name)
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() == data:
                        continue
            except OSError:
                pass
            stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
    if stale:
        print("out of date, rerun resources/generate_art.py: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
