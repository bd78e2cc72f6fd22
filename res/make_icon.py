#!/usr/bin/env python3
"""Write Kelvaro's application icon (resource 128) as a .ico file.

Usage: python3 res/make_icon.py OUT.ico

The icon shows a green speech balloon with a dark-blue telephone handset in
it, in the program's own colours, in every size Windows asks for at display
scales from 100 % to 200 % and beyond: 16, 20, 24, 32, 40, 48, 64 and 256
pixels.  The 32x32 and 16x16 images have 16 colours, their surroundings left
transparent through the AND mask; the others are 32-bit with an alpha channel
that smooths their edges, and the 256x256 one is stored as PNG, as Windows
expects for that size.  Each image is drawn from signed-distance shapes,
sampled several times per pixel.
"""

import math
import struct
import sys
import zlib

# 16-entry palette (R, G, B).  Index 0 is black: transparent pixels use it in
# the XOR mask together with a set AND bit, the usual convention.
PALETTE = [
    (0, 0, 0),          # 0 black / transparent
    (0, 66, 21),        # 1 dark green: outline
    (13, 249, 157),     # 2 bright green: balloon
    (193, 255, 214),    # 3 pale mint: highlight
    (25, 39, 122),      # 4 dark blue: handset
    (102, 255, 153),    # 5 medium green: lower shade of the balloon
    (221, 255, 232),    # 6 light green
    (255, 255, 255),    # 7 white
] + [(0, 0, 0)] * 8

TRANSPARENT = -1
OUTLINE, BRIGHT, MINT, BLUE, SHADE = 1, 2, 3, 4, 5


# --- signed distance helpers (negative inside), coordinates in 0..1 ---

def sd_round_rect(x, y, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_segment(x, y, ax, ay, bx, by, r):
    """Capsule: all points within r of the segment a-b."""
    px, py = x - ax, y - ay
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - dx * t, py - dy * t) - r


def sd_triangle(x, y, a, b, c):
    pts = (a, b, c)
    d = float("inf")
    sign = 1.0
    inside = True
    for i in range(3):
        (x0, y0), (x1, y1) = pts[i], pts[(i + 1) % 3]
        ex, ey = x1 - x0, y1 - y0
        wx, wy = x - x0, y - y0
        t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
        d = min(d, math.hypot(wx - ex * t, wy - ey * t))
        cross = ex * wy - ey * wx
        if i == 0:
            sign = cross
        elif (cross > 0) != (sign > 0):
            inside = False
    return -d if inside else d


def sd_balloon(x, y):
    body = sd_round_rect(x, y, 0.03, 0.03, 0.97, 0.80, 0.24)
    tail = sd_triangle(x, y, (0.12, 0.66), (0.46, 0.74), (0.05, 0.98))
    return min(body, tail)


def sd_handset(x, y):
    # Built lying flat, the grip bowed downwards and both cups facing up,
    # then turned by 45 degrees: earpiece upper left, mouthpiece lower right,
    # cups towards the upper right as on the usual telephone sign.
    cx, cy = 0.53, 0.39
    a = math.radians(-45)
    lx = (x - cx) * math.cos(a) - (y - cy) * math.sin(a)
    ly = (x - cx) * math.sin(a) + (y - cy) * math.cos(a)
    # Grip: a thick arc of a circle centred above, lower part only.
    r = math.hypot(lx, ly + 0.12)
    ang = math.degrees(math.atan2(lx, ly + 0.12))
    grip = abs(r - 0.24) - 0.06 if abs(ang) < 55 else 1.0
    ear = sd_segment(lx, ly, -0.20, 0.03, -0.23, -0.04, 0.08)
    mouth = sd_segment(lx, ly, 0.20, 0.03, 0.23, -0.04, 0.08)
    return min(grip, ear, mouth)


def shade_pixel(x, y, outline, bold):
    """Palette index of the point (x, y), or TRANSPARENT."""
    b = sd_balloon(x, y)
    if b > 0:
        return TRANSPARENT
    if b > -outline:
        return OUTLINE
    if sd_handset(x, y) < bold:
        return BLUE
    # Highlight at the upper right of the balloon, shade along its bottom.
    if sd_round_rect(x, y, 0.60, 0.10, 0.86, 0.18, 0.04) < 0:
        return MINT
    if y > 0.62 and b > -0.14:
        return SHADE
    return BRIGHT


def render(size, samples=6):
    """Rows of palette indices (top row first); TRANSPARENT for the outside."""
    outline = 1.6 / size
    bold = 0.6 / size   # keeps the handset's strokes about two pixels wide at 16x16
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    v = shade_pixel(x, y, outline, bold)
                    votes[v] = votes.get(v, 0) + 1
            n = samples * samples
            if votes.get(TRANSPARENT, 0) * 2 >= n:
                row.append(TRANSPARENT)
                continue
            # A pixel with a quarter or more of outline becomes outline, so the
            # border stays closed at 16x16; otherwise the commonest colour wins.
            votes.pop(TRANSPARENT, None)
            if votes.get(OUTLINE, 0) * 4 >= n:
                row.append(OUTLINE)
            else:
                row.append(max(votes, key=lambda k: (votes[k], -k)))
        rows.append(row)
    return rows


def dib_4bpp(rows):
    """BITMAPINFOHEADER, palette, XOR mask and AND mask of one icon image."""
    size = len(rows)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # DIB rows run bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, v in enumerate(row):
            index = 0 if v == TRANSPARENT else v
            if x % 2 == 0:
                line[x // 2] |= index << 4
            else:
                line[x // 2] |= index
            if v == TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def render_rgba(size, samples):
    """Rows of (r, g, b, a) tuples, top row first: each pixel's colour is the mean of its
    samples inside the balloon, its alpha the share of them."""
    outline = max(1.6, 0.02 * size) / size  # in proportion on the largest image
    bold = 0.6 / size
    n = samples * samples
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = inside = 0
            for sy in range(samples):
                for sx in range(samples):
                    v = shade_pixel((px + (sx + 0.5) / samples) / size,
                                    (py + (sy + 0.5) / samples) / size, outline, bold)
                    if v == TRANSPARENT:
                        continue
                    inside += 1
                    pr, pg, pb = PALETTE[v]
                    r, g, b = r + pr, g + pg, b + pb
            if inside == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / inside), round(g / inside), round(b / inside),
                            round(255 * inside / n)))
        rows.append(row)
    return rows


def dib_32bpp(rows):
    """BITMAPINFOHEADER, BGRA pixels and AND mask of one 32-bit icon image."""
    size = len(rows)
    and_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # DIB rows run bottom-up
        bits = bytearray(and_stride)
        for x, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def png_rgba(rows):
    """A PNG file of the rows: 8-bit RGBA, no interlacing."""
    size = len(rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# (size, format): the classic 16-colour pair, 32-bit images between and above them, and the
# 256-pixel image as PNG.  Fewer samples per pixel for the large ones keep the build quick.
IMAGES = [(256, "png"), (64, "rgba"), (48, "rgba"), (40, "rgba"), (32, "4bpp"), (24, "rgba"),
          (20, "rgba"), (16, "4bpp")]


def image(size, kind):
    if kind == "4bpp":
        return dib_4bpp(render(size)), 16, 4
    rows = render_rgba(size, 2 if size > 64 else 4)
    return (png_rgba(rows) if kind == "png" else dib_32bpp(rows)), 0, 32


def build_ico(images=IMAGES):
    data = [image(size, kind) for size, kind in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(data)))
    offset = 6 + 16 * len(data)
    for (size, _), (blob, colours, bits) in zip(images, data):
        edge = size % 256  # 0 stands for 256
        out += struct.pack("<BBBBHHII", edge, edge, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    for blob, _, _ in data:
        out += blob
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUT.ico\n")
        return 2
    with open(argv[1], "wb") as f:
        f.write(build_ico())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
