#!/usr/bin/env python3
"""Writes a UTF-8 text file as Windows text for Notepad on a Japanese Windows: code page 932
with CR LF line ends, @VERSION@ replaced by the given version. A character that code page 932
cannot hold, or a CR already in the source, is an error rather than a silently damaged file.

Usage: windows_text.py SOURCE TARGET [VERSION]
"""
import os
import sys


def windows_text(text, version=""):
    if "\r" in text:
        raise ValueError("the source already holds CR; it must use LF line ends")
    text = text.replace("@VERSION@", version)
    if not text.endswith("\n"):
        text += "\n"
    return text.replace("\n", "\r\n").encode("cp932")


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as source:
        text = source.read()
    try:
        data = windows_text(text, argv[3] if len(argv) == 4 else "")
    except (ValueError, UnicodeEncodeError) as error:
        print(f"windows_text: {argv[1]}: {error}", file=sys.stderr)
        return 1
    partial = argv[2] + ".partial"
    with open(partial, "wb") as target:
        target.write(data)
    os.replace(partial, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
