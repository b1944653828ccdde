#!/usr/bin/env python3
"""The rsyslog recipe of contrib/rsyslog under faults, with two real rsyslogd processes.

The stand-in driver writes a live log, `ndislog report --follow --json --state` appends its
records to a JSON Lines file, an edge rsyslogd reads that file and forwards each line to a
central rsyslogd, which writes every object to a file per sending machine. Each scenario
runs that pipeline afresh through one fault (an outage of the centre, the edge stopped or
killed, the companion killed, the centre restarted again and again, a burst, a backlog) and
then checks, with Python's JSON parser, that the centre holds every record of every
generation exactly once, in order, unchanged: records are known by generation and record
number. Where RELP cannot help it (the edge ends while records it sent await confirmation),
only those few records, named by the scenario, may be missing. A line of figures per
scenario (sent, lost, repeated, out of order) goes to standard output.

Each rsyslogd runs through contrib/rsyslog/ndislog-rsyslogd with its own config, folders,
pid file and a free port on 127.0.0.1; every process started here is ended here, by its pid,
on every path.

    test_rsyslog.py SOURCE_DIR NDISLOG

NDISLOG_RECIPE=FOLDER in the environment tests the recipe in FOLDER instead (its starter
and configs), to compare another recipe under the same faults.
"""

import bisect
import errno
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from pipeline_support import case_failed, show_outputs
from waiting import wait_until

SOURCE = NDISLOG = None
INTERVAL_MS = 200      # the companion's follow interval
RATE = 200             # records a second the driver writes, unless a scenario says otherwise
PIECE_BYTES = 64 * 1024  # the companion's output piece: what a kill of it may repeat at most
RELP_WINDOW = 2        # records the edge sends before it waits for the centre's confirmation
DEADLINE = 40          # for any one thing to happen, in seconds
FULL_SECONDS = 20      # how long the centre's store stays full
GENERATION = re.compile(r"[0-9a-f]{16}")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def read_lines(path):
    """The whole lines of `path`, as bytes without their LF."""
    return path.read_bytes().split(b"\n")[:-1] if path.exists() else []


def count_lines(path):
    return path.read_bytes().count(b"\n") if path.exists() else 0


def is_json(line):
    try:
        json.loads(line)
        return True
    except ValueError:
        return False


def keys_of(lines):
    """Each line's (generation, record): what names a record of one machine."""
    return [(obj.get("generation"), obj["record"]) for obj in map(json.loads, lines)]


def tally(stored, printed):
    """What the centre holds against what the companion printed, record by record: the
    figures, and the keys of the records lost on the way, in the order printed."""
    order = {}
    for key in keys_of(printed):
        order.setdefault(key, len(order))
    seen, repeated, out_of_order, latest = set(), 0, 0, -1
    for key in keys_of(stored):
        if key in seen:
            repeated += 1
            continue
        seen.add(key)
        place = order.get(key, len(order))  # a record never printed counts as out of order
        out_of_order += place < latest or key not in order
        latest = max(latest, place)
    lost = [key for key in order if key not in seen]
    return {"sent": len(order), "lost": len(lost), "repeated": repeated, "out of order": out_of_order}, lost


class RsyslogRecipe(unittest.TestCase):
    def setUp(self):
        self.recipe = Path(os.environ.get("NDISLOG_RECIPE", SOURCE / "contrib/rsyslog"))
        self.starter = self.recipe / "ndislog-rsyslogd"
        self.work = Path(tempfile.mkdtemp(prefix="ndislog-rsyslog-"))
        self.processes = {}
        self.mounted = []
        self.log = self.work / "ndislog.txt"
        self.json_file = self.work / "json/ndislog.jsonl"
        self.state_file = self.work / "ndislog.state"
        self.torn_written = []  # half lines the test left in the JSON file, as a kill leaves them
        self.store = self.work / "store"
        self.env = dict(os.environ,
                        NDISLOG_JSON_FILE=str(self.json_file), NDISLOG_EDGE_WORK=str(self.work / "edge"),
                        NDISLOG_CENTRE_HOST="127.0.0.1", NDISLOG_CENTRE_PORT=str(free_port()),
                        NDISLOG_CENTRE_ADDRESS="127.0.0.1", NDISLOG_CENTRE_STORE=str(self.store))

    def tearDown(self):
        for name in list(self.processes):
            self.stop(name, signal.SIGKILL)
        for folder in self.mounted:
            subprocess.run(["umount", str(folder)], check=True, timeout=DEADLINE)
        if case_failed(self):
            show_outputs(self.work, tail=4000)
        shutil.rmtree(self.work, ignore_errors=True)

    # Processes, each known by a name and ended by its pid.

    def start(self, name, command, stdout=None):
        """Starts `command` as `name`; its output goes to NAME.out unless `stdout` is named."""
        with open(self.work / f"{name}.out", "ab") as output, open(stdout or os.devnull, "ab") as named:
            self.processes[name] = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                                    stdout=named if stdout else output, stderr=output)
        return self.processes[name]

    def stop(self, name, how=signal.SIGTERM):
        process = self.processes.pop(name)
        if process.poll() is None:
            os.kill(process.pid, how)
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.kill(process.pid, signal.SIGKILL)
                process.wait()
        return process.returncode

    def start_rsyslogd(self, role):
        pid_file = self.work / f"{role}.pid"
        process = self.start(role, [str(self.starter), role, str(pid_file)])
        # The starter becomes rsyslogd, which writes its pid once its inputs run; a pid file
        # a killed rsyslogd left behind holds another pid.
        started = lambda: pid_file.exists() and pid_file.read_text().strip() == str(process.pid)
        self.assertTrue(wait_until(lambda: started() or process.poll() is not None, DEADLINE),
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

    def start_companion(self):
        self.start("companion", [NDISLOG, "report", "--follow", "--json", "--state", str(self.state_file),
                                 "--interval", str(INTERVAL_MS), "--output", str(self.json_file), str(self.log)])

    def tear_last_line(self):
        """Leaves half an object at the end of the JSON file, cut inside a UTF-8 character, as
        a kill between two writes of a piece would."""
        half = read_lines(self.json_file)[-1][:-40] + "回".encode()[:2]
        with open(self.json_file, "ab") as output:
            output.write(half)
        self.torn_written.append(half)

    def start_driver(self, rate=RATE, count=0):
        self.start("driver", [str(SOURCE / "tools/standin-driver"), "--rate", str(rate), "--count", str(count),
                              "--seed", "8", "--odd-bytes", str(self.log)])

    def start_pipeline(self, rate=RATE, count=0):
        """The centre, the edge, the driver writing RATE records a second and the companion."""
        self.json_file.parent.mkdir()
        self.start_rsyslogd("centre")
        self.start_rsyslogd("edge")
        self.start_driver(rate, count)
        self.start_companion()

    # What arrived.

    def stored_file(self):
        files = list(self.store.glob("*.jsonl"))
        self.assertLessEqual(len(files), 1, "the centre writes one file for the one sending machine")
        return files[0] if files else self.store / "none.jsonl"

    def wait_for_centre(self, count):
        self.assertTrue(wait_until(lambda: count_lines(self.stored_file()) >= count, DEADLINE),
                        f"fewer than {count} records reached the centre")

    def stop_centre_while_records_arrive(self):
        """Stops the centre the moment its file grows, so that records are on their way to
        it; returns the key of the last record it held."""
        self.wait_for_centre(1)
        size = [self.stored_file().stat().st_size]

        def growing():
            now = self.stored_file().stat().st_size
            grew, size[0] = now > size[0], now
            return grew
        self.assertTrue(wait_until(growing, DEADLINE, step=0.002), "records do not flow")
        self.stop("centre")
        return keys_of(read_lines(self.stored_file())[-1:])[0]

    def finish(self, scenario, in_flight_at=None, in_flight=0, companion_kills=0):
        """Ends the driver, lets everything arrive, ends the pipeline and checks what the
        companion printed and what the centre holds. The centre may lack at most `in_flight`
        records, those printed right after the record `in_flight_at`; the companion may repeat
        one piece of output after each of its `companion_kills`."""
        if "driver" in self.processes:
            self.assertEqual(0, self.stop("driver"), "the driver ended cleanly")
        report = [json.loads(line) for line in subprocess.run(
            [NDISLOG, "report", "--json", str(self.log)], check=True, capture_output=True,
            timeout=DEADLINE).stdout.split(b"\n")[:-1]]
        last_printed = lambda: keys_of(read_lines(self.json_file)[-1:])[0][1]
        self.assertTrue(wait_until(lambda: last_printed() == len(report), DEADLINE),
                        "the companion did not print every record")
        # The centre is done once it holds as much as the companion printed and nothing more
        # comes for a while (a recipe that repeats records goes on after that point).
        printed_count = lambda: count_lines(self.json_file) - len(self.torn_written)
        wait_until(lambda: count_lines(self.stored_file()) >= printed_count() - in_flight, DEADLINE)
        settled = [count_lines(self.stored_file()), time.monotonic()]

        def quiet():
            now = count_lines(self.stored_file())
            if now != settled[0]:
                settled[:] = [now, time.monotonic()]
            return time.monotonic() - settled[1] >= 3
        wait_until(quiet, DEADLINE)
        for name in ("companion", "edge", "centre"):
            self.assertEqual(0, self.stop(name), f"{name} ended cleanly on SIGTERM")

        printed, stored = read_lines(self.json_file), read_lines(self.stored_file())
        # A half line stands alone, ended by the companion's start; whole records follow it.
        self.assertEqual(self.torn_written, [line for line in printed if not is_json(line)],
                         "each half line the kill left is a line of its own")
        printed = [line for line in printed if is_json(line)]
        torn = [line for line in stored if not is_json(line)]
        stored = [line for line in stored if is_json(line)]
        figures, lost = tally(stored, printed)
        figures["torn"] = len(torn)
        print(f"{scenario}: " + ", ".join(f"{k} {v}" for k, v in figures.items()), flush=True)
        self.assertEqual([], [line[:200] for line in torn], f"no torn line at the centre: {figures}")
        self.check_printed(printed, report, companion_kills)
        keys = list(dict.fromkeys(keys_of(printed)))
        may_lose = keys[keys.index(in_flight_at) + 1:][:in_flight] if in_flight_at else []
        self.assertEqual([], [key for key in lost if key not in may_lose],
                         f"every record of every generation reached the centre: {figures}")
        self.assertEqual([line for line, key in zip(printed, keys_of(printed)) if key not in lost], stored,
                         f"the centre holds each line the companion printed once, in order, unchanged: {figures}")

    def check_printed(self, printed, report, companion_kills):
        """The companion printed each record of the log under one generation, in order;
        after each of its kills it repeated at most one piece of output (whole records)."""
        generations = {key[0] for key in keys_of(printed)}
        self.assertEqual(1, len(generations), "one generation: the state file kept it")
        self.assertTrue(GENERATION.fullmatch(generations.pop()), "a generation of 16 hex digits")
        runs, seen, first = [], set(), {}
        for line, (_, record) in zip(printed, keys_of(printed)):
            obj = json.loads(line)
            del obj["generation"]
            self.assertEqual(report[record - 1], obj, f"record {record} as the report has it")
            if record in seen:
                if not runs or runs[-1][-1] != record - 1:
                    runs.append([])
                runs[-1].append(record)
            seen.add(record)
            first.setdefault(record, line)
        self.assertEqual(list(range(1, len(report) + 1)), list(first), "every record once, in order")
        self.assertLessEqual(len(runs), companion_kills, f"repeats only after a kill: {runs}")
        for run in runs:
            self.assertLessEqual(sum(len(first[r]) + 1 for r in run[:-1]), PIECE_BYTES,
                                 f"a kill repeats one piece of output at most: {run[0]}..{run[-1]}")

    def pause(self, seconds):
        time.sleep(seconds)
        for name, process in self.processes.items():
            self.assertIsNone(process.poll(), f"{name} ended during the scenario")

    # The scenarios.

    def test_the_starter_refuses_settings_that_do_not_hold(self):
        broken = self.work / "broken"
        broken.mkdir()
        shutil.copy(self.starter, broken)
        (broken / "ndislog-edge.conf").write_text('module(load="omrelp-that-is-not-installed")\n')
        unset = None
        cases = [  # starter, role, variable, its value, what the starter says
            (self.starter, "edge", "NDISLOG_EDGE_WORK", unset, "NDISLOG_EDGE_WORK is not set"),
            (self.starter, "edge", "NDISLOG_EDGE_WORK", "", "NDISLOG_EDGE_WORK is not set"),
            (self.starter, "edge", "NDISLOG_JSON_FILE", "json/ndislog.jsonl", "must be an absolute path"),
            (self.starter, "edge", "NDISLOG_CENTRE_HOST", unset, "NDISLOG_CENTRE_HOST is not set"),
            (self.starter, "edge", "NDISLOG_CENTRE_PORT", "65536", "from 1 to 65535"),
            (self.starter, "centre", "NDISLOG_CENTRE_PORT", "2514x", "must be a port number"),
            (self.starter, "centre", "NDISLOG_CENTRE_ADDRESS", unset, "NDISLOG_CENTRE_ADDRESS is not set"),
            (self.starter, "centre", "NDISLOG_CENTRE_STORE", "/proc/ndislog-store", "cannot create the folder"),
            (self.starter, "centre", "NDISLOG_CENTRE_STORE", "/tmp/ndislog store", "must not contain spaces"),
            (self.starter, "centre", "NDISLOG_CENTRE_WRITER", "/proc/no-writer", "NDISLOG_CENTRE_WRITER is no program"),
            (broken / "ndislog-rsyslogd", "edge", None, None, "rsyslogd does not accept"),
        ]
        for starter, role, name, value, message in cases:
            with self.subTest(role=role, name=name, value=value):
                env = {k: v for k, v in self.env.items() if k != name}
                if name and value is not unset:
                    env[name] = value
                checked = subprocess.run([str(starter), "--check", role], env=env, capture_output=True,
                                         timeout=DEADLINE)
                self.assertEqual(1, checked.returncode, checked.stderr)
                self.assertIn(message, checked.stderr.decode())
        run = subprocess.run([str(self.starter), "edge", "edge.pid"], env=self.env, capture_output=True,
                             timeout=DEADLINE)
        self.assertEqual((1, True), (run.returncode, b"must be an absolute path" in run.stderr), run.stderr)
        for role in ("edge", "centre"):
            self.assertEqual(0, subprocess.run([str(self.starter), "--check", role], env=self.env,
                                               timeout=DEADLINE).returncode)
        self.assertTrue((self.work / "edge").is_dir() and self.store.is_dir() and self.json_file.parent.is_dir(),
                        "the starter created the folders")

    def test_the_store_writer_keeps_whole_lines_inside_the_store(self):
        writer = os.environ.get("NDISLOG_CENTRE_WRITER", str(SOURCE / "build/native/centre/ndislog-store-writer"))
        cases = [  # host, the file before, its name, the file after
            ("pc1", None, "pc1.jsonl", b'{"n":2}\n'),
            ("pc1", b'{"n":1}\n', "pc1.jsonl", b'{"n":1}\n{"n":2}\n'),
            # a writer killed in the middle of a line left it unfinished: never confirmed
            ("pc1", b'{"n":1}\n{"n":', "pc1.jsonl", b'{"n":1}\n{"n":2}\n'),
            ("pc1", b'{"n":' + b"x" * 5000, "pc1.jsonl", b'{"n":2}\n'),
            ("../pc1", None, ".._pc1.jsonl", b'{"n":2}\n'),
        ]
        for host, before, name, after in cases:
            with self.subTest(host=host, before=before and before[:20]):
                store = Path(tempfile.mkdtemp(dir=self.work))
                if before is not None:
                    (store / name).write_bytes(before)
                done = subprocess.run([writer, str(store)], input=f'{host} {{"n":2}}\n'.encode(),
                                      capture_output=True, timeout=DEADLINE)
                self.assertEqual((0, b"OK\nOK\n"), (done.returncode, done.stdout), done.stderr)
                self.assertEqual([name], [path.name for path in store.iterdir()])
                self.assertEqual(after, (store / name).read_bytes())

    def test_a_burst_of_1000_records_a_second_for_10_s_keeps_its_order(self):
        self.start_pipeline(rate=1000, count=10_000)
        started = time.monotonic()
        arrivals = []  # (records at the centre, seconds since the start), as seen

        def arrived_all():
            arrivals.append((count_lines(self.stored_file()), time.monotonic() - started))
            return arrivals[-1][0] >= 10_000
        self.assertTrue(wait_until(arrived_all, 10 + DEADLINE, step=0.02), "the burst did not arrive")
        self.assertEqual(0, self.processes["driver"].wait(timeout=DEADLINE))
        # Record n was written about n/1000 s after the start and arrived when the centre was
        # first seen holding n records.
        counts = [count for count, _ in arrivals]
        latencies = [arrivals[bisect.bisect_left(counts, n)][1] - n / 1000 for n in range(1, 10_001)]
        print(f"burst: latency median {statistics.median(latencies):.2f} s, max {max(latencies):.2f} s, "
              f"all at the centre {arrivals[-1][1]:.1f} s after the start", flush=True)
        self.finish("1,000 records/s for 10 s")

    def test_a_backlog_of_20000_records_arrives_in_order(self):
        # The companion printed a long log before the edge started: the edge works it off at
        # its own pace, which is the recipe's throughput.
        self.json_file.parent.mkdir()
        self.start_driver(rate=100_000, count=20_000)
        self.assertEqual(0, self.processes["driver"].wait(timeout=DEADLINE))
        self.start_companion()
        self.assertTrue(wait_until(lambda: count_lines(self.json_file) >= 20_000, DEADLINE))
        self.start_rsyslogd("centre")
        started = time.monotonic()
        self.start_rsyslogd("edge")
        self.assertTrue(wait_until(lambda: count_lines(self.stored_file()) >= 20_000, 2 * DEADLINE, step=0.02),
                        "the backlog did not arrive")
        print(f"backlog: {20_000 / (time.monotonic() - started):.0f} records/s", flush=True)
        self.finish("backlog of 20,000")

    def test_the_centre_down_for_30_s(self):
        self.start_pipeline()
        self.wait_for_centre(100)
        self.stop_centre_while_records_arrive()
        self.pause(30)
        self.start_rsyslogd("centre")
        self.pause(2)
        self.finish("centre down 30 s")

    def edge_ended_while_the_centre_is_down(self, how, in_flight):
        self.start_pipeline()
        self.wait_for_centre(100)
        last_stored = self.stop_centre_while_records_arrive()
        self.pause(3)
        self.stop("edge", how)
        self.pause(2)
        self.start_rsyslogd("edge")
        self.pause(3)
        self.start_rsyslogd("centre")
        self.pause(2)
        self.finish(f"edge {how.name} while the centre is down", last_stored, in_flight)

    def test_the_edge_stopped_while_the_centre_is_down(self):
        # Stopped, the edge also drops the record it was retrying: rsyslog ends that worker.
        self.edge_ended_while_the_centre_is_down(signal.SIGTERM, RELP_WINDOW + 1)

    def test_the_edge_killed_while_the_centre_is_down(self):
        # The records the edge had sent but the centre had not confirmed when it went away.
        self.edge_ended_while_the_centre_is_down(signal.SIGKILL, RELP_WINDOW)

    def companion_ended_and_started_again(self, how):
        self.start_pipeline()
        for _ in range(3):
            self.pause(2)
            self.stop("companion", how)
            if how == signal.SIGKILL:
                self.tear_last_line()
            self.pause(1)
            self.start_companion()
        self.pause(2)
        self.finish(f"companion {how.name} and started again", companion_kills=3 if how == signal.SIGKILL else 0)

    def test_the_companion_stopped_and_started_again(self):
        self.companion_ended_and_started_again(signal.SIGTERM)

    def test_the_companion_killed_and_started_again(self):
        self.companion_ended_and_started_again(signal.SIGKILL)

    def test_a_full_store_at_the_centre_loses_nothing_once_space_returns(self):
        # The store on a small disk of its own that fills while records arrive; once it grows
        # again, every record must be there once, and no line half written.
        self.assertEqual(0, os.geteuid(), "mounting the centre's small store needs root (CI runs as root)")
        self.store.mkdir()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(self.store)], check=True, timeout=DEADLINE)
        self.mounted.append(self.store)
        self.start_pipeline()
        self.wait_for_centre(100)
        with open(self.store / "filler", "wb", buffering=0) as filler:
            try:
                while True:
                    filler.write(bytes(4096))
            except OSError as full:
                self.assertEqual(errno.ENOSPC, full.errno)
        self.pause(FULL_SECONDS)
        subprocess.run(["mount", "-o", "remount,size=64m", str(self.store)], check=True, timeout=DEADLINE)
        self.finish(f"store full {FULL_SECONDS} s")

    def test_the_centre_restarted_twelve_times_in_a_row(self):
        self.start_pipeline(rate=1000)
        self.wait_for_centre(100)
        for _ in range(12):
            self.stop_centre_while_records_arrive()
            self.start_rsyslogd("centre")
            self.pause(1)
        self.finish("centre restarted 12 times")


if __name__ == "__main__":
    SOURCE, NDISLOG = Path(sys.argv[1]), sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
