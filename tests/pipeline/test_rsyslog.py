#!/usr/bin/env python3
"""The rsyslog recipe of contrib/rsyslog end to end, with two real rsyslogd processes.

The stand-in driver writes a live log, `ndislog report --follow --json` appends its records
to a JSON Lines file, an edge rsyslogd reads that file (imfile) and forwards each line over
TCP (omfwd, disk-assisted queue) to a central rsyslogd (imtcp), which writes every object to
a file. Every record must arrive exactly once, in order, as valid JSON; then the centre is
stopped for a few seconds while records keep coming, started again, and nothing may be lost.
Each rsyslogd has its own config, work folder, pid file and a free port; every process
started here is ended here, by its pid, on every path.

    test_rsyslog.py SOURCE_DIR NDISLOG
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from waiting import wait_until

SOURCE = NDISLOG = None
RECORDS = 240          # written by the stand-in driver at RATE a second
RATE = 20
OUTAGE_SECONDS = 4     # how long the centre stays down while records keep coming
DEADLINE = 40          # for any one thing to happen, in seconds


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def read_objects(path):
    """Every whole line of `path` parsed as JSON; a line that is no JSON fails the test."""
    if not path.exists():
        return []
    text = path.read_bytes().decode("utf-8")
    return [json.loads(line) for line in text.split("\n")[:-1]]


class RsyslogRecipe(unittest.TestCase):
    def setUp(self):
        self.rsyslogd = shutil.which("rsyslogd", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
        self.assertIsNotNone(self.rsyslogd, "rsyslogd is not installed (tools/setup-debian installs it)")
        self.work = Path(tempfile.mkdtemp(prefix="ndislog-rsyslog-"))
        self.processes = {}
        for folder in ("edge", "centre", "store"):
            (self.work / folder).mkdir()
        self.log = self.work / "ndislog.txt"
        self.json_file = self.work / "ndislog.jsonl"
        self.env = dict(os.environ,
                        NDISLOG_JSON_FILE=str(self.json_file), NDISLOG_EDGE_WORK=str(self.work / "edge"),
                        NDISLOG_CENTRE_HOST="127.0.0.1", NDISLOG_CENTRE_PORT=str(free_port()),
                        NDISLOG_CENTRE_WORK=str(self.work / "centre"), NDISLOG_CENTRE_STORE=str(self.work / "store"))

    def tearDown(self):
        for name in list(self.processes):
            self.stop(name)
        if self.failed:
            for output in sorted(self.work.glob("*.out")):
                print(f"--- {output.name}\n{output.read_text(errors='replace')}", file=sys.stderr)
        shutil.rmtree(self.work, ignore_errors=True)

    @property
    def failed(self):
        outcome = getattr(self, "_outcome", None)
        result = getattr(outcome, "result", None)
        return result is None or not result.wasSuccessful()

    def start(self, name, command, stdout=None):
        """Starts `command` as `name`; its output goes to NAME.out unless `stdout` is named."""
        with open(self.work / f"{name}.out", "ab") as output, open(stdout or os.devnull, "ab") as named:
            self.processes[name] = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                                    stdout=named if stdout else output, stderr=output)
        return self.processes[name]

    def stop(self, name):
        process = self.processes.pop(name)
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def start_rsyslogd(self, role):
        pid_file = self.work / f"{role}.pid"
        pid_file.unlink(missing_ok=True)
        process = self.start(role, [self.rsyslogd, "-n", "-f", str(SOURCE / "contrib/rsyslog" / f"ndislog-{role}.conf"),
                                    "-i", str(pid_file)])
        # rsyslogd writes its pid file once its configuration is loaded and its inputs run.
        self.assertTrue(wait_until(lambda: pid_file.exists() or process.poll() is not None, DEADLINE),
                        f"the {role} rsyslogd did not start")
        self.assertIsNone(process.poll(), f"the {role} rsyslogd ended at once")
        if role == "centre":
            self.assertTrue(wait_until(self.centre_listens, DEADLINE), "the centre does not listen")

    def centre_listens(self):
        try:
            with socket.create_connection(("127.0.0.1", int(self.env["NDISLOG_CENTRE_PORT"])), timeout=1):
                return True
        except OSError:
            return False

    def stored(self):
        files = list((self.work / "store").glob("*.jsonl"))
        self.assertLessEqual(len(files), 1, "the centre writes one file for the one sending machine")
        return read_objects(files[0]) if files else []

    def test_every_record_arrives_once_in_order_also_across_an_outage_of_the_centre(self):
        self.json_file.touch()
        self.start_rsyslogd("centre")
        self.start_rsyslogd("edge")
        driver = self.start("driver", [str(SOURCE / "tools/standin-driver"), "--rate", str(RATE), "--count",
                                       str(RECORDS), "--seed", "8", "--odd-bytes", str(self.log)])
        self.start("ndislog", [NDISLOG, "report", "--follow", "--json", str(self.log)], stdout=self.json_file)

        # Before the outage: what has arrived is exactly records 1..n, in order.
        self.assertTrue(wait_until(lambda: len(self.stored()) >= 40, DEADLINE), "records did not reach the centre")
        arrived = self.stored()
        self.assertEqual(list(range(1, len(arrived) + 1)), [o["record"] for o in arrived])

        # The centre goes away for a while; the driver and the companion go on.
        self.stop("centre")
        written_at_stop = len(read_objects(self.json_file))
        time.sleep(OUTAGE_SECONDS)
        self.assertGreater(len(read_objects(self.json_file)), written_at_stop, "no records came during the outage")
        self.start_rsyslogd("centre")

        self.assertEqual(0, driver.wait(timeout=DEADLINE + RECORDS / RATE))
        expected = read_objects_of_report(self.log)
        self.assertEqual(RECORDS, len(expected))
        self.assertTrue(wait_until(lambda: len(read_objects(self.json_file)) == len(expected), DEADLINE),
                        "the companion did not print every record")
        self.assertTrue(wait_until(lambda: len(self.stored()) >= len(expected), DEADLINE), "records were lost")
        # Stopping the edge ends whatever it still had in flight; then nothing more can come.
        self.stop("edge")
        self.stop("centre")

        followed = [{k: v for k, v in o.items() if k != "generation"} for o in read_objects(self.json_file)]
        self.assertEqual(expected, followed, "--follow printed what the report holds")
        stored = [{k: v for k, v in o.items() if k != "generation"} for o in self.stored()]
        self.assertEqual(expected, stored, "the centre holds every record exactly once, in order")
        self.assertTrue(any(o.get("lossy") for o in expected), "--odd-bytes gave lossy records")
        self.assertTrue(any("回線切断" in o["message"] for o in expected))


def read_objects_of_report(log):
    output = subprocess.run([NDISLOG, "report", "--json", str(log)], check=True, capture_output=True,
                            timeout=DEADLINE).stdout
    return [json.loads(line) for line in output.decode("utf-8").split("\n")[:-1]]


if __name__ == "__main__":
    SOURCE, NDISLOG = Path(sys.argv[1]), sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
