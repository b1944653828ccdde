#!/usr/bin/env python3
"""The stand-in driver writes the log the demos and the collector test rely on: driver-shaped
records, an unfinished line now and then, a fresh log on request, whole lines when stopped.

    test_standin_driver.py DRIVER NDISLOG
"""

import re
import signal
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from waiting import wait_until

DRIVER = NDISLOG = None
# A line the companion shows: a '.' and a ',' after it.
RECORD_LINE = re.compile(rb"^([^.]*)\.[^,]*,")


class StandinDriver(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.log = Path(self.folder.name) / "ndislog.txt"

    def tearDown(self):
        self.folder.cleanup()

    def run_driver(self, *options):
        subprocess.run([DRIVER, *options, str(self.log)], check=True, timeout=60, stderr=subprocess.DEVNULL)
        return self.log.read_bytes()

    def test_records_are_driver_shaped_and_numbered(self):
        log = self.run_driver("--rate", "500", "--count", "60", "--seed", "7", "--unfinished-every", "4",
                              "--pause", "0.01", "--odd-bytes")
        self.assertTrue(log.endswith(b"\r\n"))
        lines = log[:-2].split(b"\r\n")
        self.assertNotIn(b"\n", b"".join(lines), "every line ends in CR LF")
        heads = [m.group(1) for m in map(RECORD_LINE.match, lines) if m]
        self.assertEqual([b"%04d" % n for n in range(1, 61)], heads)
        self.assertTrue(any(re.search(rb",0x[2-7][0-9A-F](?:[2-7][0-9A-F]){3}\b", l) for l in lines), "a printable value")
        self.assertTrue(any(b",0x000" in l for l in lines), "a plain value")
        self.assertTrue(any("回線切断".encode("cp932") in l for l in lines), "a Japanese message in code page 932")
        self.assertTrue(any(b"\x01\t" in l for l in lines), "--odd-bytes puts control bytes in")
        # The companion numbers exactly these records.
        report = subprocess.run([NDISLOG, "report", str(self.log)], check=True, capture_output=True).stdout
        self.assertEqual(60, len(re.findall(rb"(?:^|\r\n)\d{3}\. \d{4}\r\n", report)))

    def test_a_line_stays_unfinished_for_a_moment(self):
        driver = subprocess.Popen([DRIVER, "--count", "1", "--unfinished-every", "1", "--pause", "1.5",
                                   str(self.log)], stderr=subprocess.DEVNULL)
        try:
            def unfinished():
                text = self.log.read_bytes() if self.log.exists() else b""
                return RECORD_LINE.search(text.split(b"\r\n")[-1]) is not None
            self.assertTrue(wait_until(unfinished, 5), "a record line without its end")
            self.assertEqual(0, driver.wait(timeout=10))
        finally:
            driver.kill()
            driver.wait()
        self.assertTrue(self.log.read_bytes().endswith(b"\r\n"))

    def test_rewrite_starts_afresh_and_append_keeps_the_log(self):
        self.log.write_bytes(b"old.line,\r\n")
        appended = self.run_driver("--rate", "500", "--count", "2")
        # The driver may write a line that is no record (a statistics header) before any record.
        self.assertTrue(appended.startswith(b"old.line,\r\n"), appended[:40])
        lines = appended[len(b"old.line,\r\n"):].split(b"\r\n")
        self.assertFalse(lines[0].startswith(b"*** "), "no new header when appending")
        heads = [m.group(1) for m in map(RECORD_LINE.match, lines) if m]
        self.assertEqual([b"0001", b"0002"], heads)
        rewritten = self.run_driver("--rate", "500", "--count", "1", "--rewrite")
        self.assertNotIn(b"old.line", rewritten)
        self.assertTrue(rewritten.startswith(b"*** "), rewritten[:40])

    def test_stopping_leaves_whole_lines(self):
        driver = subprocess.Popen([DRIVER, "--rate", "20", "--unfinished-every", "1", "--pause", "0.5",
                                   str(self.log)], stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_until(lambda: self.log.exists() and b"0002." in self.log.read_bytes(), 10))
            driver.send_signal(signal.SIGTERM)
            self.assertEqual(0, driver.wait(timeout=5))
        finally:
            driver.kill()
            driver.wait()
        self.assertTrue(self.log.read_bytes().endswith(b"\r\n"))


if __name__ == "__main__":
    DRIVER, NDISLOG = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
