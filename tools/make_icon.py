#!/usr/bin/env python3
"""Turns a readable pixel map (res/tarveno_icon.txt) into a 32x32, 16-colour .ico file.

Usage: make_icon.py PIXEL_MAP OUTPUT_ICO
"""
import struct
import sys

SIZE = 32
BITS_PER_PIXEL = 4

# The standard 16-colour palette as (red, green, blue), in palette order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Pixel characters and their palette index; TRANSPARENT shows the background.
KEY = {ch: index for index, ch in enumerate("#rgonptsdRGYBMCW")}
TRANSPARENT = "."

XOR_ROW_BYTES = SIZE * BITS_PER_PIXEL // 8           # 16, already a multiple of 4
AND_ROW_BYTES = (SIZE + 31) // 32 * 4                  # 4
INFO_HEADER_SIZE = 40
IMAGE_SIZE = (INFO_HEADER_SIZE + 4 * len(PALETTE)
              + SIZE * XOR_ROW_BYTES + SIZE * AND_ROW_BYTES)  # 744


class PixelMapError(ValueError):
    pass


def parse_pixel_map(text):
    """Returns the rows of the map, top first, each a string of SIZE key characters."""
    rows = [line.rstrip("\r\n") for line in text.splitlines()]
    rows = [row for row in rows if row and not row.startswith(";")]
    if len(rows) != SIZE:
        raise PixelMapError(f"expected {SIZE} rows, found {len(rows)}")
    for number, row in enumerate(rows, 1):
        if len(row) != SIZE:
            raise PixelMapError(f"row {number}: expected {SIZE} pixels, found {len(row)}")
        for ch in row:
            if ch != TRANSPARENT and ch not in KEY:
                raise PixelMapError(f"row {number}: unknown pixel character {ch!r}")
    return rows


def image_bytes(rows):
    """The icon image: info header, palette, colour bitmap and mask, both bottom-up."""
    header = struct.pack("<IiiHHIIiiII", INFO_HEADER_SIZE, SIZE, 2 * SIZE, 1, BITS_PER_PIXEL,
                         0, SIZE * (XOR_ROW_BYTES + AND_ROW_BYTES), 0, 0, len(PALETTE), 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        indices = [KEY.get(ch, 0) for ch in row]
        colour += bytes((indices[x] << 4) | indices[x + 1] for x in range(0, SIZE, 2))
        bits = 0
        for ch in row:
            bits = (bits << 1) | (ch == TRANSPARENT)
        mask += bits.to_bytes(AND_ROW_BYTES, "big")
    return header + palette + bytes(colour) + bytes(mask)


def icon_file_bytes(rows):
    """A .ico file holding the one image."""
    image = image_bytes(rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, len(PALETTE), 0, 1, BITS_PER_PIXEL,
                        len(image), len(directory) + 16)
    return directory + entry + image


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], encoding="utf-8") as source:
        try:
            rows = parse_pixel_map(source.read())
        except PixelMapError as error:
            sys.stderr.write(f"{argv[1]}: {error}\n")
            return 1
    with open(argv[2], "wb") as target:
        target.write(icon_file_bytes(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
