#!/usr/bin/env python3
"""Draws the program's icon and writes it as a 32 x 32, 256-colour (8-bit palettised) .ico.

A stack of sectors drops through a sieve into neat files below it. Only the standard
library is used, so the icon can be rebuilt anywhere:

    python3 tools/make_icon.py app/SectorSieve.ico
"""

import struct
import sys

SIZE = 32

# Named colours first; the rest of the 256-entry palette is a grey ramp so that every
# entry is defined.
COLOURS = {
    "tile": (24, 44, 88),
    "tile_edge": (12, 22, 48),
    "sector_a": (240, 176, 48),
    "sector_b": (80, 200, 120),
    "sector_c": (96, 160, 240),
    "sieve": (200, 208, 220),
    "sieve_shade": (120, 128, 144),
    "file": (250, 250, 250),
    "file_fold": (180, 188, 200),
}
NAMES = list(COLOURS)
PALETTE = [COLOURS[n] for n in NAMES]
PALETTE += [(g, g, g) for g in (round(i * 255 / (255 - len(PALETTE))) for i in range(256 - len(PALETTE)))]
assert len(PALETTE) == 256


def index(name):
    return NAMES.index(name)


def draw():
    """Returns rows top to bottom of palette indices, or None for a transparent pixel."""
    px = [[None] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, name):
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = index(name)

    # Rounded tile with a darker rim.
    fill(1, 1, 31, 31, "tile_edge")
    fill(2, 2, 30, 30, "tile")
    for x, y in ((1, 1), (30, 1), (1, 30), (30, 30)):
        px[y][x] = None

    # Three rows of sectors waiting on top.
    sectors = ("sector_a", "sector_b", "sector_c")
    for row in range(2):
        for col in range(4):
            x = 5 + col * 6
            y = 4 + row * 5
            fill(x, y, x + 4, y + 3, sectors[(row + col) % 3])

    # The sieve: a shaded bar with holes that the sectors fall through.
    fill(3, 14, 29, 17, "sieve")
    fill(3, 17, 29, 18, "sieve_shade")
    for x in range(6, 27, 5):
        fill(x, 15, x + 2, 17, "tile")

    # One falling sector under each hole.
    for x, name in zip(range(6, 27, 5), sectors + sectors):
        fill(x, 20, x + 2, 22, name)

    # Two extracted files at the bottom, each with a folded corner.
    for x0 in (7, 18):
        fill(x0, 23, x0 + 7, 29, "file")
        fill(x0 + 5, 23, x0 + 7, 25, "file_fold")
        px[23][x0 + 6] = index("tile")
    return px


def ico_bytes(px):
    row_and = (SIZE + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):  # DIBs are stored bottom-up
        xor += bytes(0 if p is None else p for p in row)
        bits = 0
        for x, p in enumerate(row):
            if p is None:
                bits |= 1 << (31 - x)
        mask += bits.to_bytes(4, "big") + bytes(row_and - 4)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, len(xor) + len(mask), 0, 0,
                         0, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return icondir + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py <output.ico>")
    with open(sys.argv[1], "wb") as out:
        out.write(ico_bytes(draw()))


if __name__ == "__main__":
    main()
