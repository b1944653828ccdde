#!/usr/bin/env python3
"""Shows that check_resources.py catches faults: each case spoils one detail of the resources
in a copy of the built program and expects the checker to name exactly that detail.

Usage: test_check_resources.py PROGRAM.exe
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_resources as checker  # noqa: E402

RT_ICON, RT_MENU, RT_DIALOG, RT_GROUP_ICON = 3, 4, 5, 14
JA = checker.LANG_JAPANESE_DEFAULT
IDS = checker.IDS


def utf16(text):
    return text.encode("utf-16-le")


def replace(old, new):
    def spoil(data):
        assert data.count(old) == 1, f"pattern {old!r} found {data.count(old)} times"
        return data.replace(old, new)
    return spoil


def set_bytes(offset, new):
    def spoil(data):
        return data[:offset] + new + data[offset + len(new):]
    return spoil


# (resource, how it is spoilt, the check expected to fail)
CASES = [
    ((RT_DIALOG, "CAUSEDISP"), set_bytes(0, b"\xc0"), "CAUSEDISP style"),
    ((RT_DIALOG, "ABOUT"), set_bytes(2, b"\xc9"), "ABOUT style"),
    ((RT_DIALOG, "ABOUT"), set_bytes(14, struct.pack("<h", 134)), "ABOUT position and size"),
    ((RT_DIALOG, "CAUSEDISP"), replace(b"\xff\xff\x81\x00", b"\xff\xff\x82\x00"),
     "CAUSEDISP control 2 class"),
    ((RT_DIALOG, "CAUSEDISP"), replace(struct.pack("<hH", 12, IDS["IDC_CODE"]), struct.pack("<hH", 12, IDS["IDC_CODE"] + 1)),
     "CAUSEDISP control 2 id"),
    ((RT_DIALOG, "CAUSEDISP"), replace(utf16("ｷｬﾝｾﾙ"), utf16("ｷｬﾝｾﾘ")),
     "CAUSEDISP control 4 text"),
    ((RT_DIALOG, "CAUSEDISP"), replace(b"\x00\x00\x03\x50", b"\x01\x00\x03\x50"),
     "CAUSEDISP control 3 style"),
    ((RT_DIALOG, "ABOUT"), replace(struct.pack("<hhhh", 32, 62, 77, 10),
                                   struct.pack("<hhhh", 32, 63, 77, 10)),
     "ABOUT control 5 position and size"),
    ((RT_DIALOG, "ABOUT"), replace(utf16("TARVENO"), utf16("TARVENP")), "ABOUT control 8 text"),
    ((RT_DIALOG, "ABOUT"), replace(b"\x03\x00\x00\x50", b"\x03\x01\x00\x50"),
     "ABOUT control 8 style"),
    ((RT_MENU, "ISDNMENU"), replace(utf16("F\x1fｼ"), utf16("F\x1eｼ")), "menu entry 1"),
    ((RT_MENU, "ISDNMENU"), replace(utf16("\x08ﾍ"), utf16(" ﾍ")), "menu entry 6"),
    ((RT_MENU, "ISDNMENU"), replace(struct.pack("<HH", 0x4080, IDS["IDM_ABOUT"]), struct.pack("<HH", 0x80, IDS["IDM_ABOUT"])),
     "menu entry 8"),
    ((RT_MENU, "ISDNMENU"), replace(utf16("... "), utf16("...\0")), "menu entry 8"),
    ((RT_MENU, "ISDNMENU"), replace(struct.pack("<HH", 0, IDS["IDM_MONITOR"]), struct.pack("<HH", 8, IDS["IDM_MONITOR"])),
     "menu entry 3"),
    ((RT_ICON, 1), set_bytes(40 + 7 * 4, b"\xc1"), "icon palette"),
    ((RT_ICON, 1), set_bytes(14, b"\x08"), "icon image header (size, width, height, planes, bits, compression)"),
    ((RT_GROUP_ICON, "TARVENO"), set_bytes(6 + 6, b"\x08"), "icon group entry"),
]


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as program:
        image = program.read()
    entries = checker.resource_entries(image)
    clean = checker.check_all(entries, quiet=True).failed
    failed = 0
    if clean:
        print(f"FAIL the unspoilt program: expected no failures, actual {clean}")
        failed += 1
    for (kind, name), spoil, expected in CASES:
        data = entries[(kind, name, JA)]
        start = image.find(data)
        spoilt = spoil(data)
        copy = image[:start] + spoilt + image[start + len(data):]
        actual = checker.check_all(checker.resource_entries(copy), quiet=True).failed
        if expected not in actual:
            print(f"FAIL spoiling {name}: expected {expected!r} among the failures, actual {actual}")
            failed += 1
    print(f"{len(CASES)} spoilt copies checked, {failed} failure(s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
