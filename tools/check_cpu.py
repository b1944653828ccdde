#!/usr/bin/env python3
"""Checks that an i686 Windows program runs on the oldest processors the x86 package names:
the Pentium Pro, Pentium II and Athlon. Their common instruction set is the i686 one: the
Pentium's, with CMOV, FCMOV and FCOMI; no MMX (the Pentium Pro lacks it), no 3DNow!, SSE, SSE2
or later extension, nothing a Pentium III or Athlon XP added. The check disassembles the code
of the program's .text with the MinGW-w64 objdump and names every instruction beyond that.

Usage: check_cpu.py OBJDUMP PROGRAM.exe
(exit status 0 when the program passes; each instruction beyond the baseline on its own line)
"""
import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_imports import BadImage, Image, report  # noqa: E402

I386 = 0x014C
IMAGE_BASE_OFFSET = 28  # in the PE32 optional header

# Registers that only MMX, SSE and AVX have.
EXTENSION_REGISTER = re.compile(r"%(mm\d|xmm\d+|ymm\d+|zmm\d+|k[0-7]\b)")

# Instructions beyond the baseline that use no register of their own, by the extension that
# brought them (objdump's names; x87 ones carry a size suffix).
EXTENSION_INSTRUCTIONS = {
    "MMX": r"emms",
    "SSE": r"ldmxcsr|stmxcsr|sfence|prefetchnta|prefetcht[012]",
    "SSE2": r"lfence|mfence|clflush|movnti",
    "SSE3": r"fisttp[sl]?l?|monitor|mwait",
    "3DNow!": r"femms|prefetchw?",
    "FXSR": r"fxsave|fxrstor",
    "SYSENTER/SYSCALL": r"sysenter|sysexit|syscall|sysret",
    "a later extension": r"popcnt|lzcnt|crc32[bwlq]?|movbe|cmpxchg16b|rdtscp|rdpid|xgetbv|xsetbv|"
                         r"xsave\w*|xrstor\w*|andn|bextr|blsi|blsmsk|blsr|bzhi|pdep|pext|rorx|sarx|"
                         r"shlx|shrx|adcx|adox|clflushopt|clwb|endbr32|rdrand|rdseed",
}
BEYOND = [(name, re.compile(rf"^(?:{pattern})$")) for name, pattern in EXTENSION_INSTRUCTIONS.items()]

# Found in the programs, yet safe on the baseline:
ALLOWED = {
    # "rep bsf", which processors without BMI1 run as BSF; GCC writes it only where the two
    # give the same result.
    "tzcnt",
}
# Instructions of the static C++ runtime's std::random_device (linked in with its string
# instantiations, never constructed by the programs), run only after CPUID reports them.
GUARDED = {"rdrand", "rdseed"}

PREFIXES = {"lock", "rep", "repz", "repnz", "repe", "repne", "data16", "addr16",
            "cs", "ds", "es", "fs", "gs", "ss", "notrack", "bnd"}

LINE = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")


def text_section(data, image):
    """(virtual address, bytes) of .text."""
    base = image.u32(image.optional + IMAGE_BASE_OFFSET)
    pe = image.u32(0x3C)
    table = image.optional + image.u16(pe + 20)
    for index, (virtual_size, address, raw_size, raw) in enumerate(image.sections):
        if data[table + 40 * index:table + 40 * index + 8].rstrip(b"\0") == b".text":
            return base + address, data[raw:raw + min(virtual_size, raw_size)]
    raise BadImage("no .text section")


def code_end(start, text):
    """Where the code in .text ends. The linker puts the constructor and the destructor list
    behind it, each -1, function addresses and 0, and then exception tables, which are data."""
    def list_end(at):
        if at + 4 > len(text) or struct.unpack_from("<I", text, at)[0] != 0xFFFFFFFF:
            return None
        for at in range(at + 4, len(text) - 3, 4):
            value = struct.unpack_from("<I", text, at)[0]
            if value == 0:
                return at + 4
            if not start <= value < start + len(text):
                return None
        return None

    for at in range(0, len(text), 4):
        behind = list_end(at)
        if behind is not None and list_end(behind) is not None:
            return start + at
    return None


def instructions(objdump, path, start, end):
    """Yields (address, mnemonic, operands) of the code between start and end."""
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-j", ".text",
                              f"--start-address={start:#x}", f"--stop-address={end:#x}", path],
                             check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        match = LINE.match(line)
        if not match:
            continue
        words = match.group(2).split(None, 1)
        while len(words) == 2 and words[0] in PREFIXES:
            words = words[1].split(None, 1)
        yield int(match.group(1), 16), words[0], words[1] if len(words) == 2 else ""


def beyond_baseline(mnemonic, operands):
    """The extension an instruction needs beyond the baseline, or None."""
    if mnemonic == "(bad)":
        return "no instruction at all (data among the code?)"
    if mnemonic in ALLOWED or mnemonic in GUARDED:
        return None
    if EXTENSION_REGISTER.search(operands):
        return "MMX, SSE or AVX registers"
    for name, pattern in BEYOND:
        if pattern.match(mnemonic):
            return name
    return None


def check_program(objdump, path):
    """Returns the problems of one program as lines of text, and a note on what it needs."""
    with open(path, "rb") as program:
        data = program.read()
    try:
        image = Image(data)
        if image.machine != I386:
            return [f"machine {image.machine:#06x} is not i686"], ""
        start, text = text_section(data, image)
    except BadImage as error:
        return [f"not a readable PE image: {error}"], ""
    end = code_end(start, text)
    if end is None:
        return ["no constructor list in .text: cannot tell where its code ends"], ""
    problems, cmovs = [], 0
    for address, mnemonic, operands in instructions(objdump, path, start, end):
        cmovs += mnemonic.startswith(("cmov", "fcmov", "fcomi", "fucomi"))
        needs = beyond_baseline(mnemonic, operands)
        if needs:
            problems.append(f"{address:#x}: {mnemonic} {operands}".rstrip() + f": {needs}")
    return problems, f"{cmovs} CMOV, FCMOV or FCOMI instructions: i686 is needed"


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    problems, note = check_program(argv[1], argv[2])
    return report(argv[2], problems, f"no instruction beyond the Pentium Pro, Pentium II and Athlon ({note})")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
