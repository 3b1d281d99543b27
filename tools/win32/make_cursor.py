#!/usr/bin/python3
"""Writes handpoint.cur: the 32x32 monochrome hand-pointer cursor that the
executables carry as the resource "CRHANDPOINT".

Usage: make_cursor.py [output.cur]   (default: handpoint.cur beside this script)

The picture below is the whole source of the cursor: 'X' is black, 'o' is
white, anything else is transparent.  The hot spot is the tip of the index
finger (column 6, row 0).
"""
import os
import struct
import sys

HOTSPOT = (6, 0)
PICTURE = [
    "     XX                         ",
    "    XooX                        ",
    "    XooX                        ",
    "    XooX                        ",
    "    XooX                        ",
    "    XooXXX                      ",
    "    XooXooXXX                   ",
    "    XooXooXooXX                 ",
    "    XooXooXooXoX                ",
    "XXX XooooooooXooX               ",
    "XooXXoooooooooooX               ",
    "XoooXoooooooooooX               ",
    " XooXoooooooooooX               ",
    "  XoXooooooooooX                ",
    "  XooooooooooooX                ",
    "   XoooooooooooX                ",
    "   XooooooooooX                 ",
    "    XoooooooooX                 ",
    "    XooooooooX                  ",
    "     XoooooooX                  ",
    "     XoooooooX                  ",
    "     XXXXXXXXX                  ",
] + [" " * 32] * 10

WIDTH = HEIGHT = 32


def mask_rows(picture):
    """Both 1-bit masks, bottom row first as a DIB stores them."""
    xor_rows, and_rows = [], []
    for line in reversed(picture):
        xor_bits = and_bits = 0
        for x, ch in enumerate(line.ljust(WIDTH)[:WIDTH]):
            bit = 1 << (WIDTH - 1 - x)
            if ch in "Xo":
                if ch == "o":
                    xor_bits |= bit      # palette entry 1: white
            else:
                and_bits |= bit          # keep the screen pixel
        xor_rows.append(struct.pack(">I", xor_bits))
        and_rows.append(struct.pack(">I", and_bits))
    return b"".join(xor_rows), b"".join(and_rows)


def build_cursor():
    assert len(PICTURE) == HEIGHT and all(len(r) == WIDTH for r in PICTURE)
    xor_mask, and_mask = mask_rows(PICTURE)
    # BITMAPINFOHEADER: height counts both masks.
    header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT * 2, 1, 1, 0,
                         len(xor_mask) + len(and_mask), 0, 0, 2, 0)
    palette = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
    image = header + palette + xor_mask + and_mask
    # Cursor directory: reserved, type 2 (cursor), one entry.
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", WIDTH, HEIGHT, 0, 0, HOTSPOT[0], HOTSPOT[1],
                        len(image), 6 + 16)
    return directory + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "handpoint.cur")
    data = build_cursor()
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {len(data)} bytes")


if __name__ == "__main__":
    main()
