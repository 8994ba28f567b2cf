#!/usr/bin/env python3
"""Draws PELTRA44.ico (icon 101): a receipt coming out of a printer, 32x32 and 16x16,
32 bits per pixel with an AND mask. Run once; the .ico is kept in the tree."""
import struct
import sys


def draw(size):
    s = size / 32.0
    px = [[None] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    dark, body, light = (40, 40, 48), (96, 104, 120), (160, 168, 184)
    paper, ink, green = (250, 250, 244), (70, 70, 90), (40, 170, 60)
    rect(8, 1, 24, 18, dark)            # receipt outline
    rect(9, 2, 23, 18, paper)           # receipt
    for y in (5, 8, 11, 14):
        rect(11, y, 21, y + 1, ink)     # printed lines
    rect(2, 16, 30, 30, dark)           # printer outline
    rect(3, 17, 29, 29, body)           # printer body
    rect(3, 17, 29, 19, light)          # top face
    rect(7, 17, 25, 18, dark)           # paper slot
    rect(22, 24, 26, 26, green)         # power lamp
    return px


def image(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for y in range(size - 1, -1, -1):   # bottom-up rows
        for x in range(size):
            p = px[y][x]
            colour += bytes((p[2], p[1], p[0], 255)) if p else b'\0\0\0\0'
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            if px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(colour) + bytes(mask)


def main(path):
    sizes = (32, 16)
    images = [image(n) for n in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'PELTRA44.ico')
