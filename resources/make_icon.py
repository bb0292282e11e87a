#!/usr/bin/env python3
"""Writes resources/velumo.ico: the command icon, 32 x 32 pixels in 16 colours.

The picture is a sheet of paper whose lines are blacked out, except for one
framed window in which the text stays readable: what the masking command does
to a page. The output is byte-for-byte reproducible; run

    /usr/bin/python3 resources/make_icon.py resources/velumo.ico

after changing the drawing and check the result in. With --check FILE it
only compares FILE with what it would write (the tests do that, so the
checked-in icon cannot drift from this script).

Layout of the file: the icon directory (6 bytes), one directory entry
(16 bytes) and the image: a BITMAPINFOHEADER (40 bytes), the 16-entry
palette (64 bytes), the colour bits at 4 bits per pixel (512 bytes) and the
1-bit transparency mask (128 bytes), 744 bytes in all. The directory entry
carries 16 colours, 1 plane and 4 bits per pixel, which the resource
compiler copies into the icon group.
"""

import struct
import sys

SIZE = 32

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_GREY, LIGHT_GREY, RED, BLUE, WHITE = 0, 8, 7, 9, 12, 15
TRANSPARENT = None


def draw():
    """Returns the picture as rows (top first) of palette indices or TRANSPARENT."""
    px = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):  # inclusive corners
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    # The sheet with a folded top-right corner and a one-pixel outline.
    left, top, right, bottom, fold = 4, 1, 27, 30, 6
    fill(left, top, right, bottom, WHITE)
    for i in range(fold):  # cut the corner away
        for x in range(right - fold + 1 + i, right + 1):
            px[top + i][x] = TRANSPARENT
    for x in range(left, right - fold + 1):
        px[top][x] = DARK_GREY
    for y in range(top, bottom + 1):
        px[y][left] = DARK_GREY
    for y in range(top + fold, bottom + 1):
        px[y][right] = DARK_GREY
    for x in range(left, right + 1):
        px[bottom][x] = DARK_GREY
    for i in range(fold + 1):  # the fold's diagonal and its shaded flap
        px[top + i][right - fold + i] = DARK_GREY
        for x in range(right - fold, right - fold + i):
            px[top + i][x] = LIGHT_GREY if px[top + i][x] == WHITE else px[top + i][x]
    for x in range(right - fold, right + 1):
        px[top + fold][x] = DARK_GREY
    for y in range(top, top + fold + 1):
        px[y][right - fold] = DARK_GREY

    # Lines of text, all blacked out: two-pixel bars with one-pixel gaps.
    for y in range(9, 28, 3):
        fill(7, y, 24, y + 1, BLACK)
    # A short bar in the header, left of the fold.
    fill(7, 4, 18, 5, BLACK)

    # The window that is kept: a red frame, inside it readable blue lines.
    wx0, wy0, wx1, wy1 = 9, 13, 22, 22
    fill(wx0, wy0, wx1, wy1, WHITE)
    for x in range(wx0, wx1 + 1):
        px[wy0][x] = RED
        px[wy1][x] = RED
    for y in range(wy0, wy1 + 1):
        px[y][wx0] = RED
        px[y][wx1] = RED
    for y, length in ((15, 10), (17, 8), (19, 10)):
        fill(wx0 + 2, y, wx0 + 1 + length, y, BLUE)
    return px


def encode(px):
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    colour_rows = []
    mask_rows = []
    for row in reversed(px):  # bitmaps are stored bottom row first
        nibbles = [0 if c is TRANSPARENT else c for c in row]
        colour_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is TRANSPARENT else 0)
        mask_rows.append(bits.to_bytes(SIZE // 8, "big"))
    colour = b"".join(colour_rows)
    mask = b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(colour) + len(mask),
                         0, 0, 16, 0)
    image = header + palette + colour + mask
    assert len(image) == 744, len(image)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    icon = encode(draw())
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        with open(sys.argv[2], "rb") as existing:
            same = existing.read() == icon
        print(f"{sys.argv[2]}: {'matches' if same else 'DIFFERS FROM'} make_icon.py")
        print(f"{int(same)} passed, {int(not same)} failed")
        sys.exit(0 if same else 1)
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico | make_icon.py --check EXISTING.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon)


if __name__ == "__main__":
    main()
