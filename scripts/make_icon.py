#!/usr/bin/env python3
"""Draws the program icon (the same as the Linux windows' own: a rounded square, blue on the
left and orange on the right, with a white Z) into a Windows .ico with 16, 24, 32, 48 and 64
pixel images. Run once when the icon changes; the .ico is kept in the repository.
    scripts/make_icon.py src/gui/win32/resources/zuvobox.ico"""
import struct
import sys

BLUE = (0x15, 0x65, 0xC0)
ORANGE = (0xEF, 0x6C, 0x00)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_rounded(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_z(x, y):
    # A Z in the unit square's middle: top bar, bottom bar and the diagonal between them.
    left, right, top, bottom, bar = 0.24, 0.76, 0.18, 0.82, 0.13
    if left <= x <= right and top <= y <= top + bar:
        return True
    if left <= x <= right and bottom - bar <= y <= bottom:
        return True
    if top + bar <= y <= bottom - bar:
        # The diagonal runs from the top bar's right end to the bottom bar's left end.
        t = (y - (top + bar)) / ((bottom - bar) - (top + bar))
        centre = right - 0.07 - t * (right - left - 0.14)
        return abs(x - centre) <= 0.09
    return False


def pixel(size, px, py):
    n = 4
    acc = [0.0, 0.0, 0.0, 0.0]
    radius = 1.0 / 6.0
    for sy in range(n):
        for sx in range(n):
            x = (px + (sx + 0.5) / n) / size
            y = (py + (sy + 0.5) / n) / size
            if not inside_rounded(x, y, 0, 0, 1, 1, radius):
                continue
            if in_z(x, y):
                colour = WHITE
            elif inside_rounded(x, y, 0.5, 0, 1, 1, radius):
                colour = ORANGE
            else:
                colour = BLUE
            acc[0] += colour[0]
            acc[1] += colour[1]
            acc[2] += colour[2]
            acc[3] += 1
    if acc[3] == 0:
        return (0, 0, 0, 0)
    k = acc[3]
    return (round(acc[0] / k), round(acc[1] / k), round(acc[2] / k), round(255 * k / (n * n)))


def image(size):
    rows = []
    for py in range(size - 1, -1, -1):  # bottom-up
        row = b""
        for px in range(size):
            r, g, b, a = pixel(size, px, py)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * size)


def main(path):
    sizes = [16, 24, 32, 48, 64]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
