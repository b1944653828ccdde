#!/usr/bin/env python3
"""`ndislog report --follow --json --relp` against a real central rsyslogd (imrelp) and against
fake centres that misbehave; natively, or with ndislog.exe under Wine.

The centre is contrib/rsyslog's, run by rsyslogd with its own store folder, a free port on
127.0.0.1 and its own pid file; every process started here is ended here by its pid, also on
failure. Every check of what arrived reads the centre's file with Python's JSON parser.

    test_relp.py CENTRE_CONF STANDIN_DRIVER NDISLOG [WINE_STATE_DIR]

with the centre's store writer in NDISLOG_CENTRE_WRITER (the config runs it).
"""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from pipeline_support import case_failed, companion_does_not_run, load_wine_state, show_outputs, wine_command, wine_environment
from waiting import wait_until

CENTRE_CONF = STANDIN_DRIVER = NDISLOG = WINE_STATE = None
DEADLINE = 60          # for any one thing to happen, in seconds
INTERVAL_MS = "200"    # the follow interval of every companion here
PIECE_BYTES = 64 * 1024


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


def write_log(path, first, last):
    """Records `first`..`last` as the driver writes them, some Japanese (code page 932)."""
    with open(path, "ab") as log:
        for number in range(first, last + 1):
            message = "回線切断" if number % 3 == 0 else "Call setup"
            log.write(f"{number % 10000:04d}.".encode() + message.encode("cp932") + b",0x4E4E4F43,0x00000010\r\n")


class FakeCentre:
    """A RELP centre on 127.0.0.1 whose first session goes wrong after three records, in the
    way `fault` names; later sessions take every record. It appends each record's MSG to
    `store`, as the real centre does, the moment it answers 200."""

    FAULT_BYTES = {"500": None, "garbage": b"HTTP/1.1 400 Bad Request\r\n\r\n", "mid-frame": b"4 rsp 6 20"}

    def __init__(self, fault, store):
        self.fault, self.store = fault, store
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(0.1)
        self.port = self.listener.getsockname()[1]
        self.sessions = 0
        self.syslog_seen = False
        self.stopping = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def close(self):
        self.stopping = True
        self.thread.join(timeout=10)
        self.listener.close()

    def run(self):
        while not self.stopping:
            try:
                session, _ = self.listener.accept()
            except socket.timeout:
                continue
            self.sessions += 1
            with session:
                session.settimeout(0.1)
                self.serve(session, faulty=self.sessions == 1)

    def frames(self, session):
        """Yields (txnr, command, data) of each frame that arrives."""
        received = b""
        while not self.stopping:
            match = re.match(rb"(\d+) ([a-z]+) (\d+)[ \n]", received)
            if match:
                end = match.end() + int(match.group(3)) + (1 if int(match.group(3)) else 0)
                if len(received) >= end:
                    yield int(match.group(1)), match.group(2).decode(), received[match.end():end - 1]
                    received = received[end:]
                    continue
            try:
                chunk = session.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                return
            received += chunk

    def serve(self, session, faulty):
        taken = 0
        for txnr, command, data in self.frames(session):
            def answer(text):
                session.sendall(f"{txnr} rsp {len(text)} {text}\n".encode() if text else f"{txnr} rsp 0\n".encode())
            if command == "open":
                answer("200 OK\nrelp_version=0\nrelp_software=fake\ncommands=syslog")
            elif command == "close":
                answer("")
                return
            elif faulty and self.fault == "trickle":
                self.syslog_seen = True
                for byte in f"{txnr} rsp 6 200 OK\n".encode():
                    if self.stopping:
                        return
                    session.sendall(bytes([byte]))
                    time.sleep(0.5)
            elif faulty and taken == 3:
                if self.fault == "500":
                    answer("500 not now")
                    continue
                session.sendall(self.FAULT_BYTES[self.fault])
                return
            else:
                message = data.decode("utf-8").split(" ndislog - - - ", 1)[1]
                with open(self.store, "a", encoding="utf-8") as store:
                    store.write(message + "\n")
                taken += 1
                answer("200 OK")


class RelpShipping(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Every case waits for records: a companion that never runs must fail at once, by name.
        if WINE_STATE:
            state = load_wine_state(WINE_STATE)
            reason = companion_does_not_run(wine_command(state, NDISLOG), wine_environment(state))
        else:
            reason = companion_does_not_run([NDISLOG])
        if reason:
            raise AssertionError(reason)

    def setUp(self):
        self.find_centre()
        self.processes = {}
        self.fakes = []
        if WINE_STATE:
            state = load_wine_state(WINE_STATE)
            self.wine = wine_command(state, NDISLOG)
            self.work = Path(tempfile.mkdtemp(prefix="relp-", dir=os.path.join(state["PREFIX"], "drive_c")))
            self.env = wine_environment(state)
        else:
            self.work = Path(tempfile.mkdtemp(prefix="ndislog-relp-"))
            self.env = dict(os.environ)
        self.store = self.work / "store"
        self.store.mkdir()
        self.log = self.work / "ndislog.txt"
        self.state = self.work / "ndislog.state"
        self.port = free_port()
        self.env.update(NDISLOG_CENTRE_ADDRESS="127.0.0.1", NDISLOG_CENTRE_PORT=str(self.port),
                        NDISLOG_CENTRE_STORE=str(self.store))

    def tearDown(self):
        for name in list(self.processes):
            self.stop(name, signal.SIGKILL)
        for fake in self.fakes:
            fake.close()
        if case_failed(self):
            show_outputs(self.work)
        shutil.rmtree(self.work, ignore_errors=True)

    # --- processes

    def program(self, *arguments):
        """The companion's command line, with its paths as the program sees them."""
        if not WINE_STATE:
            return [NDISLOG, *arguments]
        drive_c = self.work.parent
        converted = [("C:\\" + str(Path(a).relative_to(drive_c)).replace("/", "\\"))
                     if isinstance(a, Path) else a for a in arguments]
        return [*self.wine, *converted]

    def start(self, name, command):
        """Starts `command` as `name`; its standard output goes to NAME.stdout, its errors to NAME.out."""
        with open(self.work / f"{name}.out", "ab") as errors, open(self.work / f"{name}.stdout", "ab") as output:
            self.processes[name] = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                                    stdout=output, stderr=errors)
        return self.processes[name]

    def stop(self, name, how=signal.SIGTERM):
        process = self.processes.pop(name)
        if process.poll() is None:
            process.send_signal(how)
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        return process.returncode

    def find_centre(self):
        """Finds rsyslogd and checks NDISLOG_CENTRE_WRITER: the centre's programs."""
        self.rsyslogd = shutil.which("rsyslogd", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
        self.assertIsNotNone(self.rsyslogd, "rsyslogd is not installed (tools/setup-debian installs it)")
        self.assertTrue(os.access(os.environ.get("NDISLOG_CENTRE_WRITER", ""), os.X_OK),
                        "NDISLOG_CENTRE_WRITER names no program (the centre's ndislog-store-writer)")

    def start_centre(self):
        pid_file = self.work / "centre.pid"
        pid_file.unlink(missing_ok=True)
        process = self.start("centre", [self.rsyslogd, "-n", "-f", CENTRE_CONF, "-i", str(pid_file)])
        self.assertTrue(wait_until(lambda: pid_file.exists() or process.poll() is not None, DEADLINE),
                        "the centre did not start")
        self.assertIsNone(process.poll(), "the centre ended at once")
        self.assertTrue(wait_until(self.centre_listens, DEADLINE), "the centre does not listen")

    def centre_listens(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        except OSError:
            return False

    def start_companion(self, name="ndislog", port=None):
        return self.start(name, self.program("report", "--follow", "--json", "--relp", f"127.0.0.1:{port or self.port}",
                                             "--state", self.state, "--interval", INTERVAL_MS, self.log))

    # --- what arrived

    def stored(self):
        files = list(self.store.glob("*.jsonl"))
        self.assertLessEqual(len(files), 1, "the centre writes one file for the one sending machine")
        return read_objects(files[0]) if files else []

    def expected(self):
        """What `report --json` makes of the log now."""
        done = subprocess.run(self.program("report", "--json", self.log), env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=DEADLINE, check=True)
        return [json.loads(line) for line in done.stdout.decode("utf-8").split("\n")[:-1]]

    def assert_arrived_once_in_order(self, arrived, expected):
        generations = {record.pop("generation", None) for record in arrived}
        self.assertEqual(1, len(generations), "one generation throughout")
        self.assertRegex(generations.pop(), r"^[0-9a-f]{16}$")
        self.assertEqual(expected, arrived)

    def notices(self, name="ndislog"):
        return (self.work / f"{name}.out").read_text(encoding="utf-8", errors="replace").splitlines()

    def assert_nothing_printed(self, name="ndislog"):
        self.assertEqual(b"", (self.work / f"{name}.stdout").read_bytes(), "standard output stays empty")

    # --- the cases

    def test_records_arrive_once_in_order_also_while_the_centre_is_stopped_and_started_again(self):
        self.start_centre()
        self.log.touch()
        driver = self.start("driver", [STANDIN_DRIVER, "--rate", "50", "--count", "200", "--seed", "3", "--odd-bytes",
                                       str(self.log)])
        self.start_companion()
        self.assertTrue(wait_until(lambda: len(self.stored()) >= 30, DEADLINE), "records did not reach the centre")
        self.stop("centre")
        time.sleep(3)  # the driver and the companion go on meanwhile
        self.start_centre()
        self.assertEqual(0, driver.wait(timeout=DEADLINE))
        expected = self.expected()
        self.assertEqual(200, len(expected))
        self.assertTrue(wait_until(lambda: len(self.stored()) >= len(expected), DEADLINE), "records were lost")
        self.assertTrue(wait_until(lambda: any("records reach" in line for line in self.notices()), DEADLINE))
        time.sleep(0.5)  # nothing more may come
        self.assert_arrived_once_in_order(self.stored(), expected)
        self.assert_nothing_printed()
        failures = [line for line in self.notices() if "cannot deliver" in line]
        self.assertTrue(failures, "the outage was not told")
        self.assertEqual(len(failures), len(set(failures)), "each kind of failure is told once")
        self.assertEqual(1, sum("records reach" in line for line in self.notices()), self.notices())

    def test_a_refused_port_is_told_once_and_the_records_follow_when_the_centre_comes(self):
        write_log(self.log, 1, 40)
        self.start_companion()
        refused = f"ndislog: cannot deliver to 127.0.0.1:{self.port} (connection refused); trying again"
        self.assertTrue(wait_until(lambda: refused in self.notices(), DEADLINE), self.notices())
        time.sleep(2.5)  # several attempts
        self.assertEqual([refused], self.notices())
        self.assertIsNone(self.processes["ndislog"].poll(), "following goes on")
        self.start_centre()
        self.assertTrue(wait_until(lambda: len(self.stored()) >= 40, DEADLINE), "records did not follow")
        self.assert_arrived_once_in_order(self.stored(), self.expected())
        # The centre writes a record before it answers: the notice may come a moment later.
        told = [refused, f"ndislog: records reach 127.0.0.1:{self.port} again"]
        self.assertTrue(wait_until(lambda: self.notices() == told, DEADLINE), self.notices())
        self.assert_nothing_printed()

    def test_the_companion_killed_repeats_at_most_one_piece_and_stopped_repeats_nothing(self):
        self.start_centre()
        write_log(self.log, 1, 12000)
        self.start_companion("killed")
        self.assertTrue(wait_until(lambda: len(self.stored()) >= 2500, DEADLINE), "records did not reach the centre")
        self.stop("killed", signal.SIGKILL)
        self.start_companion("stopped")
        self.assertTrue(wait_until(lambda: len(self.stored()) >= 6000, DEADLINE), "records did not reach the centre")
        # SIGINT: Ctrl+C natively, the console's Ctrl+C event under Wine.
        self.assertEqual(0, self.stop("stopped", signal.SIGINT))
        stopped_at = len(self.stored())
        self.start_companion("last")
        expected = self.expected()
        self.assertTrue(wait_until(lambda: len(self.stored()) >= len(expected), DEADLINE), "records were lost")
        time.sleep(0.5)  # nothing more may come
        arrived = self.stored()
        numbers = [record["record"] for record in arrived]
        rewinds = [i for i in range(1, len(numbers)) if numbers[i] != numbers[i - 1] + 1]
        self.assertLessEqual(len(rewinds), 1, f"only the kill repeats: rewinds at {rewinds}")
        self.assertTrue(all(i < stopped_at for i in rewinds), "the stop repeats nothing")
        if rewinds:
            resumed = rewinds[0]
            repeated = arrived[numbers[resumed] - 1:resumed]
            size = sum(len(json.dumps(r, ensure_ascii=False, separators=(",", ":"))) + 1 for r in repeated)
            self.assertLessEqual(size, PIECE_BYTES + 512, f"{len(repeated)} records repeated")
            print(f"the kill repeated {len(repeated)} records", file=sys.stderr)
            arrived = arrived[:numbers[resumed] - 1] + arrived[resumed:]
        self.assert_arrived_once_in_order(arrived, expected)
        for name in ("stopped", "last"):
            self.assert_nothing_printed(name)

    def test_a_centre_answering_500_or_garbage_or_closing_mid_frame_gets_a_clean_reconnect(self):
        told = {"500": "answered 500", "garbage": "the answer is no RELP", "mid-frame": "connection closed by the centre"}
        for fault, text in told.items():
            with self.subTest(fault=fault):
                store = self.work / "store" / f"{fault}.jsonl"
                fake = FakeCentre(fault, store)
                self.fakes.append(fake)
                self.log.unlink(missing_ok=True)
                self.state.unlink(missing_ok=True)
                write_log(self.log, 1, 20)
                name = f"ndislog-{fault}"
                self.start_companion(name, fake.port)
                told = [f"ndislog: cannot deliver to 127.0.0.1:{fake.port} ({text}); trying again",
                        f"ndislog: records reach 127.0.0.1:{fake.port} again"]
                self.assertTrue(wait_until(lambda: self.notices(name) == told, DEADLINE), self.notices(name))
                self.assertIsNone(self.processes[name].poll(), "following goes on")
                time.sleep(0.5)  # nothing more may come
                self.stop(name, signal.SIGKILL)
                self.assertEqual(2, fake.sessions, "one clean reconnect")
                self.assert_arrived_once_in_order(read_objects(store), self.expected())
                self.assert_nothing_printed(name)
                store.unlink()

    def test_a_stop_ends_the_companion_in_time_while_the_centre_answers_a_byte_every_half_second(self):
        fake = FakeCentre("trickle", self.work / "store" / "trickle.jsonl")
        self.fakes.append(fake)
        write_log(self.log, 1, 20)
        self.start_companion(port=fake.port)
        self.assertTrue(wait_until(lambda: fake.syslog_seen, DEADLINE), "no record was sent")
        time.sleep(2.5)  # bytes trickle in meanwhile
        stopped = time.monotonic()
        self.assertEqual(0, self.stop("ndislog", signal.SIGINT))
        self.assertLess(time.monotonic() - stopped, 2.5, "the stop waited for the centre")
        self.assert_nothing_printed()


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    CENTRE_CONF, STANDIN_DRIVER, NDISLOG = sys.argv[1:4]
    WINE_STATE = sys.argv[4] if len(sys.argv) == 5 else None
    unittest.main(argv=sys.argv[:1], verbosity=2)
