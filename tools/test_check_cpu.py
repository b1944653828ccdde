#!/usr/bin/env python3
"""Shows that check_cpu.py catches an instruction beyond the i686 baseline: each case writes
one instruction into a copy of the built program, at its entry point or at the last byte of
its code, and expects the checker to name exactly that instruction there; the program as
built passes.

Usage: test_check_cpu.py OBJDUMP PROGRAM.exe
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_cpu as checker  # noqa: E402
from check_imports import Image  # noqa: E402

ENTRY_POINT_OFFSET = 16  # in the optional header

# (bytes, the name objdump gives them, the extension the checker must name)
CASES = [
    (b"\x66\x0f\xef\xc0", "pxor", "MMX, SSE or AVX registers"),       # SSE2
    (b"\x0f\x77", "emms", "MMX"),                                     # MMX, no operand
    (b"\x0f\xae\x10", "ldmxcsr", "SSE"),                              # SSE, no register
    (b"\x0f\xae\xe8", "lfence", "SSE2"),
    (b"\xdf\x08", "fisttps", "SSE3"),                                 # an x87 instruction
    (b"\xf3\x0f\xb8\xc0", "popcnt", "a later extension"),
    (b"\x0f\x0d\x08", "prefetchw", "3DNow!"),
]


def spoiled(data, offset, code):
    return data[:offset] + code + data[offset + len(code):]


def places(data):
    """(name, file offset, virtual address) of the entry point and of the code's last bytes,
    which are padding (nop) between the last function and the constructor list."""
    image = Image(data)
    base = image.u32(image.optional + checker.IMAGE_BASE_OFFSET)
    entry = image.u32(image.optional + ENTRY_POINT_OFFSET)
    start, text = checker.text_section(data, image)
    end = checker.code_end(start, text)
    tail = end - 4 - start
    assert text[tail:tail + 4] == b"\x90" * 4, f"no padding before the constructor list: {text[tail:tail + 4]!r}"
    return [("entry point", image.offset(entry), base + entry),
            ("end of the code", image.offset(end - 4 - base), end - 4)]


def main(objdump, program):
    with open(program, "rb") as source:
        data = source.read()
    failures, count = 0, 0
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, os.path.basename(program))

        def check(content):
            with open(copy, "wb") as out:
                out.write(content)
            return checker.check_program(objdump, copy)[0]

        problems = check(data)
        count += 1
        if problems:
            failures += 1
            print(f"FAILED as built: expected no problem, got {problems}")
        for where, offset, address in places(data):
            for code, mnemonic, extension in CASES:
                count += 1
                problems = check(spoiled(data, offset, code))
                named = [p for p in problems if p.startswith(f"{address:#x}: {mnemonic}") and
                         p.endswith(f": {extension}")]
                if not named:
                    failures += 1
                    print(f"FAILED {mnemonic} at the {where} ({address:#x}): not named as {extension}; got {problems}")
        # Without the constructor list the code's end is unknown: said, not guessed.
        image = Image(data)
        start, text = checker.text_section(data, image)
        marker = image.offset(checker.code_end(start, text) - image.u32(image.optional + checker.IMAGE_BASE_OFFSET))
        count += 1
        problems = check(spoiled(data, marker, b"\0\0\0\0"))
        if not any("cannot tell where its code ends" in p for p in problems):
            failures += 1
            print(f"FAILED without a constructor list: got {problems}")
    print(f"{count} cases checked, {failures} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
