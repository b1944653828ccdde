#!/usr/bin/env python3
"""Checks the resources compiled into ndislogview.exe, byte by byte, against the layout the
program relies on: menu IsdnMenu, dialogs ABOUT and CAUSEDISP, icon TARVENO, language 1041.

Usage: check_resources.py PROGRAM.exe      (exit status 0 when every check passes)
"""
import os
import re
import struct
import sys

LANG_JAPANESE_DEFAULT = 1041
RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, RT_VERSION = 3, 4, 5, 6, 9, 14, 16


def resource_ids():
    """The menu commands and control ids of app/resource.h, which the .rc file compiles."""
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "resource.h")
    with open(header, encoding="ascii") as text:
        pairs = re.findall(r"^#define\s+(ID\w+)\s+(-?\d+)", text.read(), re.M)
    return {name: int(value) for name, value in pairs}


IDS = resource_ids()

BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
NO_ID = 0xFFFF

MF_POPUP, MF_END, MF_HELP = 0x10, 0x80, 0x4000

# Styles of the controls.
LABEL = 0x50020000          # WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
PUSH = 0x50010000           # WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON
GROUP_PUSH = 0x50030000     # the same with WS_GROUP
CODE_FIELD = 0x50830080     # WS_CHILD | WS_VISIBLE | WS_BORDER | WS_GROUP | WS_TABSTOP | ES_AUTOHSCROLL
ICON_PICTURE = 0x50000003   # WS_CHILD | WS_VISIBLE | SS_ICON

# name: (style, (x, y, cx, cy), caption, [(class, id, style, (x, y, cx, cy), text), ...])
DIALOGS = {
    "ABOUT": (0x00C80080, (54, 39, 133, 107), "バージョン情報", [
        (STATIC, NO_ID, LABEL, (28, 7, 94, 8), " NDIS ログ情報表示  "),
        (STATIC, NO_ID, LABEL, (32, 19, 90, 8), "     Version 1.03   "),
        (STATIC, NO_ID, LABEL, (32, 32, 90, 8), "Copyright (C) 2026"),
        (STATIC, NO_ID, LABEL, (32, 44, 90, 8), "ndislog project"),
        (STATIC, NO_ID, LABEL, (32, 62, 77, 10), "Source: README"),
        (STATIC, NO_ID, LABEL, (25, 72, 93, 9), "Support: issue list"),
        (BUTTON, 1, PUSH, (54, 88, 30, 14), "OK"),
        (STATIC, NO_ID, ICON_PICTURE, (7, 8, 18, 20), "TARVENO"),
    ]),
    "CAUSEDISP": (0x90C80080, (41, 18, 215, 60), "理由表示を参照", [
        (STATIC, NO_ID, LABEL, (15, 8, 28, 8), "コード:"),
        (EDIT, IDS["IDC_CODE"], CODE_FIELD, (44, 6, 110, 12), ""),
        (BUTTON, 1, GROUP_PUSH, (170, 5, 33, 12), "OK"),
        (BUTTON, 2, PUSH, (170, 23, 33, 12), "ｷｬﾝｾﾙ"),
        (STATIC, NO_ID, LABEL, (27, 32, 132, 16),
         "コード(ErrCause,CfgErr)を入力してください. 理由表示に変換します."),
    ]),
}

# (depth, flags, command or None for a popup, label), in template order.
MENU = [
    (0, MF_POPUP, None, "ﾌｧｲﾙ(\x1eF\x1fｼ)"),
    (1, 0, IDS["IDM_SAVE"], "保存(\x1eS\x1fｽ)"),
    (1, 0, IDS["IDM_MONITOR"], "監視(\x1eT\x1fｽ)"),
    (1, 0, 0, ""),
    (1, MF_END, IDS["IDM_EXIT"], "終了(\x1eE\x1fｲ)"),
    (0, MF_POPUP | MF_END, None, "\x08ﾍﾙﾌﾟ(\x1eH\x1fｸ)"),
    (1, 0, IDS["IDM_CAUSE"], "理由表示(\x1eC\x1fﾁ)"),
    (1, MF_HELP | MF_END, IDS["IDM_ABOUT"], "バージョン情報(\x1eA\x1fﾁ)... "),
]

STANDARD_PALETTE = bytes.fromhex(
    "00000000 00008000 00800000 00808000 80000000 80008000 80800000 c0c0c000"
    "80808000 0000ff00 00ff0000 00ffff00 ff000000 ff00ff00 ffff0000 ffffff00")
ICON_IMAGE_SIZE = 744


class Failures:
    def __init__(self, quiet=False):
        self.count = 0
        self.failed = []  # what failed, for the checker's own tests
        self.quiet = quiet

    def expect(self, what, expected, actual):
        if expected != actual:
            self.count += 1
            self.failed.append(what)
            if not self.quiet:
                print(f"FAIL {what}: expected {expected!r}, actual {actual!r}")


# --- The resource section of a PE file -------------------------------------------------

def resource_section(image):
    """Returns (bytes of the resource section, its RVA)."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rva, size = struct.unpack_from("<II", image, directories + 2 * 8)
    table = optional + optional_size
    for n in range(sections):
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
            "<IIII", image, table + 40 * n + 8)
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            start = raw_offset + rva - virtual_address
            return image[start:start + size], rva
    raise ValueError("no resource section")


def resource_entries(image):
    """{(type, name, language): data}; type and name are ints or upper-case strings."""
    section, base = resource_section(image)

    def name_of(entry_name):
        if entry_name & 0x80000000:
            offset = entry_name & 0x7FFFFFFF
            length = struct.unpack_from("<H", section, offset)[0]
            return section[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
        return entry_name

    def walk(offset, path):
        named, numbered = struct.unpack_from("<12xHH", section, offset)
        for n in range(named + numbered):
            entry_name, target = struct.unpack_from("<II", section, offset + 16 + 8 * n)
            key = path + (name_of(entry_name),)
            if target & 0x80000000:
                yield from walk(target & 0x7FFFFFFF, key)
            else:
                data_rva, size = struct.unpack_from("<II", section, target)
                yield key, section[data_rva - base:data_rva - base + size]

    return dict(walk(0, ()))


# --- Templates --------------------------------------------------------------------------

def read_text(data, offset):
    end = offset
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def read_name_or_ordinal(data, offset):
    first = struct.unpack_from("<H", data, offset)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    return read_text(data, offset)


def parse_dialog(data):
    """(style, ex style, rect, menu, class, caption, controls, bytes left over)."""
    style, ex_style, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    offset = 18
    menu, offset = read_name_or_ordinal(data, offset)
    window_class, offset = read_name_or_ordinal(data, offset)
    caption, offset = read_text(data, offset)
    controls = []
    for _ in range(count):
        offset = (offset + 3) & ~3
        c_style, c_ex_style, cx_, cy_, cw, ch, c_id = struct.unpack_from("<IIhhhhH", data, offset)
        offset += 18
        c_class, offset = read_name_or_ordinal(data, offset)
        c_text, offset = read_name_or_ordinal(data, offset)
        extra = struct.unpack_from("<H", data, offset)[0]
        offset += 2 + extra
        controls.append((c_class, c_id, c_style, (cx_, cy_, cw, ch), c_text, c_ex_style, extra))
    return style, ex_style, (x, y, cx, cy), menu, window_class, caption, controls, len(data) - offset


def parse_menu(data):
    version, header_size = struct.unpack_from("<HH", data, 0)
    items = []
    offset = 4 + header_size

    def level(depth):
        nonlocal offset
        while True:
            flags = struct.unpack_from("<H", data, offset)[0]
            offset += 2
            command = None
            if not flags & MF_POPUP:
                command = struct.unpack_from("<H", data, offset)[0]
                offset += 2
            label, offset = read_text(data, offset)
            items.append((depth, flags, command, label))
            if flags & MF_POPUP:
                level(depth + 1)
            if flags & MF_END:
                return

    level(0)
    return version, header_size, items, len(data) - offset


# --- Checks -----------------------------------------------------------------------------

def check_resource_set(entries, failures):
    for kind in (RT_STRING, RT_ACCELERATOR, RT_VERSION):
        failures.expect(f"no resources of type {kind}", [],
                        [key for key in entries if key[0] == kind])
    for key in entries:
        if key[0] in (RT_ICON, RT_MENU, RT_DIALOG, RT_GROUP_ICON):
            failures.expect(f"language of {key[:2]}", LANG_JAPANESE_DEFAULT, key[2])


def check_dialogs(entries, failures):
    for name, (style, rect, caption, controls) in DIALOGS.items():
        data = entries.get((RT_DIALOG, name, LANG_JAPANESE_DEFAULT))
        if data is None:
            failures.expect(f"dialog {name}", "present", "missing")
            continue
        failures.expect(f"{name} is a plain template", False, data[:4] == b"\x01\x00\xff\xff")
        (a_style, a_ex_style, a_rect, a_menu, a_class, a_caption, a_controls,
         left_over) = parse_dialog(data)
        failures.expect(f"{name} style", hex(style), hex(a_style))
        failures.expect(f"{name} extended style", 0, a_ex_style)
        failures.expect(f"{name} position and size", rect, a_rect)
        failures.expect(f"{name} menu", "", a_menu)
        failures.expect(f"{name} class", "", a_class)
        failures.expect(f"{name} caption", caption, a_caption)
        failures.expect(f"{name} bytes after the last control", 0, left_over)
        failures.expect(f"{name} control count", len(controls), len(a_controls))
        for n, (expected, actual) in enumerate(zip(controls, a_controls), 1):
            e_class, e_id, e_style, e_rect, e_text = expected
            c_class, c_id, c_style, c_rect, c_text, c_ex_style, extra = actual
            what = f"{name} control {n}"
            failures.expect(f"{what} class", e_class, c_class)
            failures.expect(f"{what} id", e_id, c_id)
            failures.expect(f"{what} style", hex(e_style), hex(c_style))
            failures.expect(f"{what} extended style", 0, c_ex_style)
            failures.expect(f"{what} position and size", e_rect, c_rect)
            failures.expect(f"{what} text", e_text, c_text)
            failures.expect(f"{what} creation data", 0, extra)


def check_menu(entries, failures):
    data = entries.get((RT_MENU, "ISDNMENU", LANG_JAPANESE_DEFAULT))
    if data is None:
        failures.expect("menu ISDNMENU", "present", "missing")
        return
    version, header_size, items, left_over = parse_menu(data)
    failures.expect("menu template version", 0, version)
    failures.expect("menu header size", 0, header_size)
    failures.expect("menu item count", len(MENU), len(items))
    for n, (expected, actual) in enumerate(zip(MENU, items), 1):
        failures.expect(f"menu entry {n}", expected, actual)
    failures.expect("bytes after the menu template", 0, left_over)


def check_icon(entries, failures):
    groups = [key for key in entries if key[0] == RT_GROUP_ICON]
    failures.expect("icon groups", [(RT_GROUP_ICON, "TARVENO", LANG_JAPANESE_DEFAULT)], groups)
    group = entries.get((RT_GROUP_ICON, "TARVENO", LANG_JAPANESE_DEFAULT))
    if group is None:
        return
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    failures.expect("icon group header", (0, 1, 1), (reserved, kind, count))
    failures.expect("icon group size", 6 + 14 * count, len(group))
    width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
        "<BBBBHHIH", group, 6)
    failures.expect("icon group entry", (32, 32, 16, 1, 4, ICON_IMAGE_SIZE, 1),
                    (width, height, colours, planes, bits, size, image_id))
    images = [key for key in entries if key[0] == RT_ICON]
    failures.expect("icon images", [(RT_ICON, 1, LANG_JAPANESE_DEFAULT)], images)
    image = entries.get((RT_ICON, 1, LANG_JAPANESE_DEFAULT))
    if image is None:
        return
    failures.expect("icon image size", ICON_IMAGE_SIZE, len(image))
    header = struct.unpack_from("<IiiHHI", image, 0)
    failures.expect("icon image header (size, width, height, planes, bits, compression)",
                    (40, 32, 64, 1, 4, 0), header)
    failures.expect("icon palette", STANDARD_PALETTE.hex(), image[40:104].hex())


def check_all(entries, quiet=False):
    failures = Failures(quiet)
    check_resource_set(entries, failures)
    check_dialogs(entries, failures)
    check_menu(entries, failures)
    check_icon(entries, failures)
    return failures


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as program:
        entries = resource_entries(program.read())
    failures = check_all(entries)
    print(f"{len(entries)} resources checked, {failures.count} failure(s)")
    return 1 if failures.count else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
