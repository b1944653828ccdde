#!/usr/bin/env python3
"""Tests of make_icon.py: the pixel map is read strictly and lands in the right bits."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_icon  # noqa: E402

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res", "tarveno_icon.txt")
HEADER_AND_PALETTE = 40 + 64
COLOUR_SIZE = 32 * 16


def blank_rows():
    return ["." * 32 for _ in range(32)]


def with_pixel(x, y, ch):
    rows = blank_rows()
    rows[y] = rows[y][:x] + ch + rows[y][x + 1:]
    return rows


class PixelMapTest(unittest.TestCase):
    def test_rejects_malformed_maps(self):
        cases = [
            ("31 rows", "\n".join(blank_rows()[:31]), "expected 32 rows, found 31"),
            ("33 rows", "\n".join(blank_rows() + ["." * 32]), "expected 32 rows, found 33"),
            ("short row", "\n".join(["." * 31] + blank_rows()[1:]), "row 1: expected 32 pixels"),
            ("long row", "\n".join(blank_rows()[:5] + ["." * 33] + blank_rows()[6:]),
             "row 6: expected 32 pixels"),
            ("unknown key", "\n".join(with_pixel(3, 9, "x")), "row 10: unknown pixel character 'x'"),
        ]
        for name, text, message in cases:
            with self.subTest(name):
                with self.assertRaises(make_icon.PixelMapError) as caught:
                    make_icon.parse_pixel_map(text)
                self.assertIn(message, str(caught.exception))

    def test_comments_and_line_ends_are_skipped(self):
        text = "; a comment\r\n" + "\r\n".join(blank_rows()) + "\r\n; the end\n"
        self.assertEqual(blank_rows(), make_icon.parse_pixel_map(text))

    def test_program_icon_map_is_valid(self):
        with open(SOURCE, encoding="utf-8") as source:
            rows = make_icon.parse_pixel_map(source.read())
        self.assertEqual(32, len(rows))


class ImageTest(unittest.TestCase):
    def test_layout(self):
        image = make_icon.image_bytes(blank_rows())
        self.assertEqual(744, len(image))
        self.assertEqual((40, 32, 64, 1, 4, 0), struct.unpack_from("<IiiHHI", image, 0))
        # Silver is palette entry 7, stored blue, green, red, reserved.
        self.assertEqual(b"\xc0\xc0\xc0\x00", image[40 + 7 * 4:40 + 8 * 4])
        self.assertEqual(b"\x00\x00\x80\x00", image[40 + 1 * 4:40 + 2 * 4])  # maroon

    def test_pixels_land_bottom_up_high_nibble_first(self):
        # (x, y, key, byte offset in the colour bitmap, expected byte, mask byte offset, mask)
        cases = [
            (0, 0, "W", 31 * 16 + 0, 0xF0, 31 * 4 + 0, 0x7F),
            (1, 0, "r", 31 * 16 + 0, 0x01, 31 * 4 + 0, 0xBF),
            (31, 31, "C", 0 * 16 + 15, 0x0E, 0 * 4 + 3, 0xFE),
            (8, 2, "#", 29 * 16 + 4, 0x00, 29 * 4 + 1, 0x7F),
            (9, 5, "G", 26 * 16 + 4, 0x0A, 26 * 4 + 1, 0xBF),
        ]
        for x, y, key, colour_at, colour, mask_at, mask in cases:
            with self.subTest(x=x, y=y, key=key):
                image = make_icon.image_bytes(with_pixel(x, y, key))
                self.assertEqual(hex(colour), hex(image[HEADER_AND_PALETTE + colour_at]))
                self.assertEqual(hex(mask),
                                 hex(image[HEADER_AND_PALETTE + COLOUR_SIZE + mask_at]))

    def test_transparent_pixels_are_colour_zero_with_mask_set(self):
        image = make_icon.image_bytes(blank_rows())
        self.assertEqual(bytes(COLOUR_SIZE), image[HEADER_AND_PALETTE:HEADER_AND_PALETTE + COLOUR_SIZE])
        self.assertEqual(b"\xff" * 128, image[HEADER_AND_PALETTE + COLOUR_SIZE:])

    def test_icon_file_directory(self):
        data = make_icon.icon_file_bytes(blank_rows())
        self.assertEqual((0, 1, 1), struct.unpack_from("<HHH", data, 0))
        self.assertEqual((32, 32, 16, 0, 1, 4, 744, 22), struct.unpack_from("<BBBBHHII", data, 6))
        self.assertEqual(22 + 744, len(data))


if __name__ == "__main__":
    unittest.main()
