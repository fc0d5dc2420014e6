#!/usr/bin/env python3
"""Draws the application icon: a blue arrow going down into an open carton.

Writes an .ico with two 16-colour images, 32x32 and 16x16, each a 4-bit
DIB with its AND mask. The shapes are given in unit coordinates and sampled
at pixel centres, so both sizes come from one description; the outline is
every inside pixel that touches the outside.

    python3 tools/icon/make_icon.py src/res/valkrin.ico
"""
import struct
import sys

# The standard 16-colour palette, in index order (B, G, R, reserved below).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_YELLOW, YELLOW, BLUE, LIGHT_BLUE, WHITE = 0, 3, 11, 12, 14, 15


def carton_front(x, y):
    return 0.12 <= x <= 0.88 and 0.50 <= y <= 0.94


def carton_flaps(x, y):
    # Two open flaps leaning outwards above the front.
    left = 0.02 <= x <= 0.34 and 0.38 <= y < 0.50 and y >= 0.50 - (x - 0.02) * 0.4
    right = 0.66 <= x <= 0.98 and 0.38 <= y < 0.50 and y >= 0.50 - (0.98 - x) * 0.4
    return left or right


def arrow(x, y):
    shaft = 0.40 <= x <= 0.60 and 0.04 <= y <= 0.42
    head = 0.40 <= y <= 0.72 and abs(x - 0.5) <= (0.72 - y) * 0.9
    return shaft or head


def shade(x, y):
    """Colour index of a point, or None where the icon is transparent."""
    if arrow(x, y):
        return LIGHT_BLUE if x < 0.47 and y < 0.45 else BLUE
    if carton_flaps(x, y):
        return YELLOW
    if carton_front(x, y):
        return YELLOW if y < 0.58 else DARK_YELLOW
    return None


def render(size):
    """Rows of colour indices (None: transparent), top row first."""
    def sample(px, py):
        if px < 0 or py < 0 or px >= size or py >= size:
            return None
        return shade((px + 0.5) / size, (py + 0.5) / size)

    def region(c):
        # Which shape a colour belongs to, so that shading seams get no outline.
        return None if c is None else ("arrow" if c in (BLUE, LIGHT_BLUE) else "carton")

    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            c = sample(px, py)
            if c is not None:
                neighbours = [sample(px + dx, py + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))]
                if any(region(n) != region(c) for n in neighbours):
                    c = BLACK
            row.append(c)
        rows.append(row)
    return rows


def dib(rows):
    """A 4-bit icon image: header (double height), palette, XOR bits, AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor_bits = b""
    and_bits = b""
    for row in reversed(rows):  # DIBs are stored bottom-up
        nibbles = [0 if c is None else c for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_bits += line.ljust(xor_stride, b"\0")
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c is None else 0)
        and_bits += mask.to_bytes(size // 8, "big").ljust(and_stride, b"\0")
    return header + palette + xor_bits + and_bits


def icon_file(sizes):
    images = [dib(render(s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file([32, 16]))


if __name__ == "__main__":
    main()
