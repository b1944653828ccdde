#!/usr/bin/env python3
"""Shows that check_imports.py catches what keeps a program from loading on old Windows: each
case spoils one detail of a built program, or of the allowed list, and expects the checker to
name exactly that detail; the unspoilt program at the version limits passes.

Usage: test_check_imports.py {gui|console} PROGRAM.exe
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_imports as checker  # noqa: E402


def header_field(image, offset):
    return image.optional + offset


def set_u16(offset_of, value):
    def spoil(data, image):
        at = offset_of(image)
        return data[:at] + struct.pack("<H", value) + data[at + 2:]
    return spoil


def set_u32(offset_of, value):
    def spoil(data, image):
        at = offset_of(image)
        return data[:at] + struct.pack("<I", value) + data[at + 4:]
    return spoil


def set_version(offset, version):
    """Writes a (major, minor) pair at an optional-header offset."""
    def spoil(data, image):
        at = header_field(image, offset)
        return data[:at] + struct.pack("<HH", *version) + data[at + 4:]
    return spoil


def first_import(image):
    return next(image.imports())


def first_thunk_offset(image):
    """File offset of the first import-lookup entry of the first DLL."""
    descriptor = image.offset(image.directory(checker.IMPORT_DIRECTORY)[0])
    lookup = image.field("<I", descriptor) or image.field("<I", descriptor + 16)
    return image.offset(lookup)


def by_ordinal(data, image):
    at = first_thunk_offset(image)
    if image.magic == 0x10B:
        return data[:at] + struct.pack("<I", 0x80000000 | 7) + data[at + 4:]
    return data[:at] + struct.pack("<Q", (1 << 63) | 7) + data[at + 8:]


def first_names(image):
    """File offsets of the first DLL's name and of its first imported function's name."""
    descriptor = image.offset(image.directory(checker.IMPORT_DIRECTORY)[0])
    entry = image.field("<I", first_thunk_offset(image))
    return image.offset(image.field("<I", descriptor + 12)), image.offset(entry + 2)


def rename_first_import(data, image):
    """Turns the first imported name into one the list does not hold."""
    at = first_names(image)[1]
    return data[:at] + b"Z" + data[at + 1:]


def rename_first_dll(data, image):
    at = first_names(image)[0]
    return data[:at] + b"Z" + data[at + 1:]


def runtime_renamed(data, image):
    """Names another DLL, of the same length, where the program imports msvcrt.dll."""
    at = data.find(b"\0msvcrt.dll\0", image.offset(image.directory(checker.IMPORT_DIRECTORY)[0])) + 1
    return data[:at] + b"ucrt00.dll" + data[at + 10:]


def without(function):
    """The allowed list with one function removed from every section."""
    def change(allowed):
        return {key: names - {function} for key, names in allowed.items()}
    return change


def only_for(function, target):
    """The allowed list with one function moved to the other target's section only."""
    def change(allowed):
        changed = {key: names - {function} for key, names in allowed.items()}
        dll = next(dll for (dll, _), names in allowed.items() if function in names)
        changed.setdefault((dll, target), set()).add(function)
        return changed
    return change


def run_cases(path, subsystem):
    with open(path, "rb") as program:
        original = program.read()
    with open(checker.DEFAULT_LIST, encoding="ascii") as listing:
        allowed = checker.read_allowed(listing.read())
    image = checker.Image(original)
    target, _, oldest = checker.MACHINES[image.machine]
    other = "i686" if target == "x86_64" else "x86_64"
    other_subsystem = "console" if subsystem == "gui" else "gui"
    newer = (oldest[0], oldest[1] + 1)
    dll, function, _ = first_import(image)

    # (name, spoil the image or None, change the list or None, subsystem, expected problem text)
    cases = [
        ("as built", None, None, subsystem, None),
        ("subsystem version at the limit", set_version(48, oldest), None, subsystem, None),
        ("os version at the limit", set_version(40, oldest), None, subsystem, None),
        ("subsystem version one minor newer", set_version(48, newer), None, subsystem,
         f"subsystem version {newer[0]}.{newer[1]} is newer than the oldest {target} target"),
        ("os version of Vista", set_version(40, (6, 0)), None, subsystem,
         "operating system version 6.0 is newer"),
        ("other subsystem expected", None, None, other_subsystem,
         f"expected {checker.SUBSYSTEMS[other_subsystem]} ({other_subsystem})"),
        ("link time stamp", set_u32(lambda im: im.optional - 16, 0x5F000000), None, subsystem,
         "link time stamp 0x5f000000"),
        ("delay-load imports", set_u32(lambda im: im.optional + (96 if im.magic == 0x10B else 112)
                                       + 8 * checker.DELAY_IMPORT_DIRECTORY, 0x1000),
         None, subsystem, "delay-load imports"),
        ("function not listed", None, without(function), subsystem,
         f"{dll}!{function} is not on the allowed list for {target}"),
        ("function listed for the other build only", None, only_for(function, other), subsystem,
         f"{dll}!{function} is not on the allowed list for {target}"),
        ("unknown function", rename_first_import, None, subsystem,
         f"{dll}!Z{function[1:]} is not on the allowed list"),
        ("unknown DLL", rename_first_dll, None, subsystem,
         f"Z{dll[1:]}!{function}: Z{dll[1:]} is not on the allowed list"),
        ("import by ordinal", by_ordinal, None, subsystem, f"{dll}!#7: imported by ordinal"),
        ("another C runtime in place of msvcrt", runtime_renamed, None, subsystem,
         "does not import the system's msvcrt.dll"),
        ("cut short", lambda data, im: data[:im.optional + 60], None, subsystem,
         "not a readable PE image"),
        ("no PE signature", lambda data, im: data.replace(b"PE\0\0", b"PX\0\0", 1), None, subsystem,
         "not a readable PE image: no PE signature"),
    ]
    failures = 0
    for name, spoil, change, expected_subsystem, expected in cases:
        data = spoil(original, image) if spoil else original
        problems = checker.check_program(data, expected_subsystem, change(allowed) if change else allowed)
        if expected is None:
            ok = problems == []
        else:
            ok = any(expected in problem for problem in problems)
        if not ok:
            failures += 1
            wanted = "no problem" if expected is None else repr(expected)
            print(f"FAILED {name}: expected {wanted}, got {problems}")
    print(f"{len(cases)} cases checked, {failures} failure(s)")
    return failures


def test_list_parsing():
    """Malformed lists are refused instead of silently allowing too much or too little."""
    failures = 0
    good = checker.read_allowed("[A.dll]\nf # note\n[a.DLL x86_64]\ng\n")
    if checker.allowed_for(good, "x86_64") != {"A.DLL": {"f", "g"}} or \
            checker.allowed_for(good, "i686") != {"A.DLL": {"f"}}:
        failures += 1
        print(f"FAILED list sections: got {good}")
    for text in ("f\n", "[A.dll arm64]\nf\n", "[A.dll]\nf g\n", "[]\n"):
        try:
            checker.read_allowed(text)
            failures += 1
            print(f"FAILED list {text!r} was accepted")
        except ValueError:
            pass
    return failures


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in checker.SUBSYSTEMS:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(1 if run_cases(sys.argv[2], sys.argv[1]) + test_list_parsing() else 0)
