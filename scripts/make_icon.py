#!/usr/bin/env python3
"""Draws Kestrel's icon: a rufous falcon in flight on a sky-blue badge.

Writes res/Kestrel.ico with six images: 16, 32 and 48 pixels, each in 32-bit
colour with alpha and in 256 colours with a transparency mask. Standard
library only, so it runs anywhere Python does: python3 scripts/make_icon.py
"""
import os
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4  # per axis, for anti-aliased edges

SKY_TOP = (112, 186, 240)
SKY_BOTTOM = (30, 88, 160)
RIM = (14, 52, 104)
RUFOUS = (201, 94, 42)
RUFOUS_DARK = (150, 62, 26)
TIPS = (44, 34, 30)
CREAM = (246, 226, 190)


def mirror(points):
    return [(1.0 - x, y) for x, y in reversed(points)]


LEFT_WING = [(0.47, 0.40), (0.30, 0.35), (0.15, 0.38), (0.05, 0.50),
             (0.20, 0.49), (0.33, 0.53), (0.46, 0.58)]
RIGHT_WING = mirror(LEFT_WING)
TAIL = [(0.455, 0.66), (0.545, 0.66), (0.60, 0.87), (0.40, 0.87)]


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def inside_badge(x, y, margin, radius):
    # A rounded square covering [margin, 1 - margin].
    lo, hi = margin + radius, 1.0 - margin - radius
    dx = max(lo - x, 0.0, x - hi)
    dy = max(lo - y, 0.0, y - hi)
    return dx * dx + dy * dy <= radius * radius


def colour_at(x, y):
    """The colour of one sample point, or None where the icon is clear."""
    if not inside_badge(x, y, 0.02, 0.2):
        return None
    if not inside_badge(x, y, 0.06, 0.16):
        return RIM
    on_wing = inside_polygon(x, y, LEFT_WING) or inside_polygon(x, y, RIGHT_WING)
    if on_wing:
        # Dark primaries at the wing tips, as on a real kestrel.
        return TIPS if x < 0.19 or x > 0.81 else RUFOUS
    if inside_polygon(x, y, TAIL):
        return TIPS if y > 0.81 else RUFOUS_DARK
    if inside_ellipse(x, y, 0.5, 0.31, 0.075, 0.075):
        return TIPS if y < 0.29 else RUFOUS_DARK
    if inside_ellipse(x, y, 0.5, 0.50, 0.075, 0.18):
        return CREAM if y > 0.43 and abs(x - 0.5) < 0.045 else RUFOUS
    t = (y - 0.06) / 0.88
    return tuple(round(a + (b - a) * t) for a, b in zip(SKY_TOP, SKY_BOTTOM))


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            total[k] += c[k]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(v / hits) for v in total) + (round(255 * hits / SAMPLES ** 2),))
        rows.append(row)
    return rows


def median_cut(colours, count):
    """Up to count palette entries that represent colours well."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        boxes.sort(key=len)
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        spans = [max(c[k] for c in box) - min(c[k] for c in box) for k in range(3)]
        axis = spans.index(max(spans))
        box.sort(key=lambda c: c[axis])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    return [tuple(sum(c[k] for c in box) // len(box) for k in range(3)) for box in boxes if box]


def mask_rows(rows):
    """The 1-bit AND mask, bottom row first: set where the icon is clear."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def header(size, bits, image_bytes, colours):
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, image_bytes, 0, 0, colours, 0)


def image_32(rows):
    size = len(rows)
    pixels = b''.join(struct.pack('BBBB', b, g, r, a) for row in reversed(rows) for r, g, b, a in row)
    mask = mask_rows(rows)
    return header(size, 32, len(pixels) + len(mask), 0) + pixels + mask


def image_8(rows):
    size = len(rows)
    # The 256-colour image has no alpha: edges are blended onto the badge rim.
    solid = [[(r, g, b) if a >= 128 else None for r, g, b, a in row] for row in rows]
    palette = median_cut([c for row in solid for c in row if c is not None], 255)
    palette = [(0, 0, 0)] + palette
    palette += [(0, 0, 0)] * (256 - len(palette))

    def nearest(c):
        return min(range(1, 256), key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))

    cache = {}
    stride = (size + 3) & ~3
    pixels = bytearray()
    for row in reversed(solid):
        line = bytearray(stride)
        for x, c in enumerate(row):
            if c is not None:
                if c not in cache:
                    cache[c] = nearest(c)
                line[x] = cache[c]
        pixels += line
    table = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in palette)
    mask = mask_rows(rows)
    return header(size, 8, len(pixels) + len(mask), 256) + table + bytes(pixels) + mask


def icon_file():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, 8, image_8(rows)))
        images.append((size, 32, image_32(rows)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, _, data in images)


if __name__ == '__main__':
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'res', 'Kestrel.ico')
    with open(target, 'wb') as f:
        f.write(icon_file())
