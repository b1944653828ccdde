#!/usr/bin/env python3
"""Tests of windows_text.py, and a check of the user guide it wrote for the package: code page
932 text with CR LF line ends only, the Japanese part first, then, after a line of dashes, the English
one, with the version in both.

Usage: test_windows_text.py GUIDE.txt VERSION
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import windows_text  # noqa: E402

# (source, version, expected bytes, or the exception expected)
CASES = [
    ("a\nb\n", "", b"a\r\nb\r\n", None),
    ("no final line end", "", b"no final line end\r\n", None),
    ("\n\n", "", b"\r\n\r\n", None),
    ("v@VERSION@ @VERSION@\n", "1.03", b"v1.03 1.03\r\n", None),
    ("監視 ﾌｧｲﾙ\n", "", "監視 ﾌｧｲﾙ\r\n".encode("cp932"), None),
    ("a\r\nb\n", "", None, ValueError),
    ("emoji \U0001F600\n", "", None, UnicodeEncodeError),
    ("em dash \u2014\n", "", None, UnicodeEncodeError),
]


def run_cases():
    failures = 0
    for source, version, expected, error in CASES:
        try:
            actual = windows_text.windows_text(source, version)
            outcome = actual if error is None else f"no {error.__name__}, got {actual!r}"
        except (ValueError, UnicodeEncodeError) as raised:
            outcome = None if isinstance(raised, error or ()) else f"{type(raised).__name__}"
            if error is not None and isinstance(raised, error):
                continue
        if outcome != expected:
            failures += 1
            print(f"FAILED {source!r}: expected {expected!r}, got {outcome!r}")
    return failures


def check_guide(path, version):
    data = open(path, "rb").read()
    problems = []
    if data.count(b"\n") != data.count(b"\r\n") or data.count(b"\r") != data.count(b"\r\n"):
        problems.append("line ends other than CR LF")
    try:
        text = data.decode("cp932")
    except UnicodeDecodeError as error:
        return [f"not code page 932: {error}"]
    japanese = next((i for i, ch in enumerate(text) if ord(ch) > 0x7F), None)
    english = text.find("\r\n-----")  # the line between the two parts
    if japanese is None or english < 0 or japanese > english:
        problems.append("the Japanese part does not come before the English one")
    if text[:english].count(version) < 1 or text[english:].count(version) < 1:
        problems.append(f"version {version} missing from a part")
    if "@VERSION@" in text:
        problems.append("@VERSION@ left in")
    return problems


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    failures = run_cases()
    for problem in check_guide(sys.argv[1], sys.argv[2]):
        failures += 1
        print(f"FAILED {sys.argv[1]}: {problem}")
    print(f"{len(CASES)} conversions and the guide checked, {failures} failure(s)")
    sys.exit(1 if failures else 0)
