#!/usr/bin/env python3
"""Checks that a built Windows program loads on the oldest Windows it is meant for: every
function it imports is on the committed list of allowed imports (tools/allowed_imports.txt),
imported by name from a DLL on that list; its PE header asks for the intended subsystem and for
no newer Windows than the oldest target (i686: Windows 2000, NT 5.0; x86_64: Windows XP x64 and
Server 2003, NT 5.2); and it carries no link time stamp.

Usage: check_imports.py {gui|console} PROGRAM.exe [ALLOWED_LIST]
(exit status 0 when every check passes; each problem is printed on its own line)
"""
import os
import struct
import sys

DEFAULT_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "allowed_imports.txt")

SUBSYSTEMS = {"gui": 2, "console": 3}

# COFF machine: (target name in the list, PE optional-header magic, oldest Windows as NT version)
MACHINES = {
    0x014C: ("i686", 0x10B, (5, 0)),
    0x8664: ("x86_64", 0x20B, (5, 2)),
}

IMPORT_DIRECTORY, DELAY_IMPORT_DIRECTORY = 1, 13


class BadImage(Exception):
    pass


def read_allowed(text):
    """Parses the list: "[DLL]" or "[DLL target]" starts a section, then one function a line;
    '#' starts a comment. Returns {(dll in upper case, target or None): set of names}."""
    allowed = {}
    section = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            words = line[1:-1].split()
            if len(words) not in (1, 2) or (len(words) == 2 and words[1] not in ("i686", "x86_64")):
                raise ValueError(f"allowed list line {number}: bad section {line}")
            section = (words[0].upper(), words[1] if len(words) == 2 else None)
            allowed.setdefault(section, set())
        elif section is None or " " in line:
            raise ValueError(f"allowed list line {number}: expected a function name: {line}")
        else:
            allowed[section].add(line)
    return allowed


def allowed_for(allowed, target):
    """The names allowed per DLL for one target: the DLL's common section and its own."""
    result = {}
    for (dll, section_target), names in allowed.items():
        if section_target in (None, target):
            result.setdefault(dll, set()).update(names)
    return result


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise BadImage("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("no PE signature")
        (self.machine, sections, self.time_stamp, _, _, optional_size, _) = \
            struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.optional = pe + 24
        self.magic = self.u16(self.optional)
        self.os_version = (self.u16(self.optional + 40), self.u16(self.optional + 42))
        self.subsystem_version = (self.u16(self.optional + 48), self.u16(self.optional + 50))
        self.subsystem = self.u16(self.optional + 68)
        directories = self.optional + (96 if self.magic == 0x10B else 112)
        count = self.u32(directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
        table = self.optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def u16(self, offset):
        return self.field("<H", offset)

    def u32(self, offset):
        return self.field("<I", offset)

    def field(self, layout, offset):
        if offset < 0 or offset + struct.calcsize(layout) > len(self.data):
            raise BadImage(f"cut short at offset {offset:#x}")
        return struct.unpack_from(layout, self.data, offset)[0]

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise BadImage(f"address {rva:#x} lies in no section")

    def text(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise BadImage(f"unterminated name at {rva:#x}")
        return self.data[start:end].decode("ascii", "replace")

    def imports(self):
        """Yields (dll, function name or None for an import by ordinal, ordinal)."""
        thunk_size, ordinal_flag = (4, 1 << 31) if self.magic == 0x10B else (8, 1 << 63)
        thunk_layout = "<I" if thunk_size == 4 else "<Q"
        rva = self.directory(IMPORT_DIRECTORY)[0]
        if rva == 0:
            return
        descriptor = self.offset(rva)
        while True:
            lookup, _, _, name, first = (self.field("<I", descriptor + 4 * i) for i in range(5))
            if lookup == 0 and name == 0 and first == 0:
                return
            dll = self.text(name)
            thunk = self.offset(lookup or first)
            while True:
                entry = self.field(thunk_layout, thunk)
                if entry == 0:
                    break
                if entry & ordinal_flag:
                    yield dll, None, entry & 0xFFFF
                else:
                    yield dll, self.text((entry & 0x7FFFFFFF) + 2), None
                thunk += thunk_size
            descriptor += 20


def check_program(data, subsystem, allowed):
    """Returns the problems of one program image as lines of text; empty when it passes."""
    try:
        image = Image(data)
        if image.machine not in MACHINES:
            return [f"unknown machine type {image.machine:#06x}"]
        target, magic, oldest = MACHINES[image.machine]
        problems = []
        if image.magic != magic:
            problems.append(f"optional header magic {image.magic:#x}, expected {magic:#x} for {target}")
        if image.subsystem != SUBSYSTEMS[subsystem]:
            problems.append(f"subsystem {image.subsystem}, expected {SUBSYSTEMS[subsystem]} ({subsystem})")
        for what, version in (("subsystem version", image.subsystem_version),
                              ("operating system version", image.os_version)):
            if version > oldest:
                problems.append(f"{what} {version[0]}.{version[1]} is newer than the oldest "
                                f"{target} target {oldest[0]}.{oldest[1]}")
        if image.time_stamp != 0:
            problems.append(f"link time stamp {image.time_stamp:#x}: the build is not reproducible")
        if image.directory(DELAY_IMPORT_DIRECTORY)[0] != 0:
            problems.append("delay-load imports, which this check does not read")
        permitted = allowed_for(allowed, target)
        dlls = set()
        for dll, function, ordinal in image.imports():
            dlls.add(dll.upper())
            if dll.upper() not in permitted:
                problems.append(f"{dll}!{function or ordinal}: {dll} is not on the allowed list for {target}")
            elif function is None:
                problems.append(f"{dll}!#{ordinal}: imported by ordinal, not by name")
            elif function not in permitted[dll.upper()]:
                problems.append(f"{dll}!{function} is not on the allowed list for {target}")
        if "MSVCRT.DLL" not in dlls:
            problems.append("does not import the system's msvcrt.dll")
        return problems
    except BadImage as error:
        return [f"not a readable PE image: {error}"]


def main(argv):
    if len(argv) not in (3, 4) or argv[1] not in SUBSYSTEMS:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[3] if len(argv) == 4 else DEFAULT_LIST, encoding="ascii") as listing:
        allowed = read_allowed(listing.read())
    with open(argv[2], "rb") as program:
        problems = check_program(program.read(), argv[1], allowed)
    return report(argv[2], problems, "imports and PE header fit the oldest target")


def report(program, problems, verdict):
    """Prints each problem of `program` on its own line, or `verdict` when there is none;
    returns the exit status."""
    name = os.path.basename(program)
    for problem in problems:
        print(f"{name}: {problem}")
    if problems:
        return 1
    print(f"{name}: {verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
