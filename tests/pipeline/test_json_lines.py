#!/usr/bin/env python3
"""ndislog report --json read by Python's own JSON parser: hostile bytes never break a line,
the objects carry the formatter's split of each line, and --follow keeps its rules.

    test_json_lines.py NDISLOG
"""

import json
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from waiting import wait_until

NDISLOG = None
INDENT = b"\r\n          "
FOLLOW_DEADLINE = 3 * 3 + 5  # three follow periods and some slack, in seconds

# Lines with every control byte (but Ctrl-Z, which ends the log), quotes, backslashes, DEL and
# Japanese text (a trail byte 0x5C among it) in head, message and values, but only bytes code
# page 932 has characters for.
CLEAN_LINES = [
    b"0012.Call setup,0x4E4E4F43,0x00000010",
    bytes(range(1, 0x0A)) + b"." + bytes(range(0x0B, 0x1A)) + bytes(range(0x1B, 0x20)) + b"\x7F,0x207F5C22",
    b'q"uo\\te."\\,0x5C225C22 0x00000001',
    "0017.回線切断 表示,0x43534944".encode("cp932"),
    "ﾁｬﾈﾙ.受信ﾊﾞｯﾌｧ,0x20202020,0xabcdef01".encode("cp932"),
    b"cut.short,0x12\r",           # a value cut short keeps the lone CR in its piece
    b"tab\t.head,a,b,c,d,0x41424344",
    b".,",
    b"\x80\xa0.\xfd\xfe\xff,",       # single bytes that Windows' code page 932 maps too
]
# Lines whose bytes are partly no code page 932 character, each still a record.
LOSSY_LINES = [b"\x82.m,", b"h.\x81\xfd,", b"h.m\x82,0x41424344", b"h.m,0x\x821234567", b"h.\x85\x40,"]


def records(text):
    return [json.loads(line) for line in text.decode("utf-8").split("\n")[:-1]]


class JsonReport(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.log = Path(self.folder.name) / "ndislog.txt"

    def tearDown(self):
        self.folder.cleanup()

    def report(self, *options):
        return subprocess.run([NDISLOG, "report", *options, str(self.log)], check=True, capture_output=True,
                              timeout=30).stdout

    def test_objects_rebuild_the_text_report_byte_for_byte(self):
        # With no-record lines and a NUL (the line ends there for the formatter) in between.
        self.log.write_bytes(b"\r\n".join(CLEAN_LINES + [b"no record", b"a.b\x00,0x41424344", b""]))
        text = self.report()
        objects = records(self.report("--json", "--utf8"))
        self.assertEqual(list(range(1, len(CLEAN_LINES) + 1)), [o["record"] for o in objects])
        rebuilt = b"".join(b"%03d. " % o["record"] + o["head"].encode("cp932") + INDENT +
                           o["message"].encode("cp932") + b"  " + o["decoded"].encode("cp932") + b"\r\n"
                           for o in objects)
        self.assertEqual(text, rebuilt)
        self.assertFalse(any("lossy" in o for o in objects))

    def test_bytes_without_a_character_mark_the_object_lossy(self):
        self.log.write_bytes(b"\n".join(LOSSY_LINES) + b"\n")
        objects = records(self.report("--json"))
        self.assertEqual(len(LOSSY_LINES), len(objects))
        for line, o in zip(LOSSY_LINES, objects):
            with self.subTest(line=line):
                self.assertIs(True, o.get("lossy"))
                self.assertIn("\ufffd", o["head"] + o["message"] + o["decoded"])

    def test_every_byte_value_gives_one_valid_line(self):
        # Each byte in head, message and a value, one line each; the NUL line shows nothing
        # (the line ends at the NUL), and a NUL after the ',' ends the line early.
        lines = [bytes([b]) + b"." + bytes([b]) + b",0x" + bytes([b]) * 8 for b in range(256) if b not in b"\n.,\x1a"]
        self.log.write_bytes(b"\n".join(lines + [b"h.m,0x41\x00"]))
        raw = self.report("--json")
        self.assertEqual(raw.count(b"\n"), len(records(raw)))
        self.assertEqual(len(lines), len(records(raw)))

    def test_follow_prints_finished_lines_once_and_restarts_from_record_1(self):
        out_path = Path(self.folder.name) / "out.jsonl"
        err_path = Path(self.folder.name) / "err.txt"
        self.log.write_bytes(b"1.A,\r\n2.B,0x4E4E")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            follow = subprocess.Popen([NDISLOG, "report", "--follow", "--json", str(self.log)], stdout=out, stderr=err)
        try:
            seen = []

            def holds(count):
                text = out_path.read_bytes()
                seen.append(text)
                return len(records(text)) >= count

            self.assertTrue(wait_until(lambda: holds(1), FOLLOW_DEADLINE))
            with open(self.log, "ab") as log:
                log.write(b"4F43\r\n")
            self.assertTrue(wait_until(lambda: holds(2), FOLLOW_DEADLINE))
            self.assertEqual([(1, "A", ""), (2, "B", "CONN")],
                             [(o["record"], o["message"], o["decoded"]) for o in records(out_path.read_bytes())])
            # Shorter than before: said on standard error, then record 1 again.
            self.log.write_bytes(b"9.Z,\n")
            self.assertTrue(wait_until(lambda: holds(3), FOLLOW_DEADLINE))
            self.assertEqual((1, "9", "Z"), tuple(records(out_path.read_bytes())[2][k] for k in ("record", "head", "message")))
            self.assertRegex(err_path.read_text(), r"starting again from record 001")
            self.assertTrue(all(text == b"" or text.endswith(b"\n") for text in seen), "half a line was seen")
        finally:
            follow.terminate()
            follow.wait(timeout=10)
        self.assertEqual(0, follow.returncode)


if __name__ == "__main__":
    NDISLOG = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
