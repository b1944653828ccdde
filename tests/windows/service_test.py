#!/usr/bin/env python3
"""ndislog.exe as a service under Wine's service manager, sc.exe and net.exe, in a prefix of
its own without a display, of the program's architecture (win32 for i686, win64 for x86_64). Wine's ReportEventW writes each event to the debug channel
eventlog (errors as err:, warnings as warn:, information as trace:) on the service manager's
standard error, which the prefix's boot log keeps. The centre is ended by its pid, the
prefix's processes with `wineserver -k`, also when the setup fails.

    service_test.py CENTRE_CONF ndislog.exe win32|win64

with the centre's store writer in NDISLOG_CENTRE_WRITER (the config runs it).
"""

import json
import os
import re
import signal
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pipeline"))
import test_relp  # noqa: E402
from pipeline_support import case_failed, companion_does_not_run, show_outputs  # noqa: E402
from waiting import wait_until  # noqa: E402

PROGRAM = WINE_ARCH = None
DEADLINE = 60
EXIT_BAD_USAGE = 2
EVENT_CHANNELS = "-all,err+eventlog,warn+eventlog,trace+eventlog"
STOP_WAIT_HINT_S = 5  # what the service announces for a stop
FOLDER = "nd log"  # a space, so that the service's command line must be quoted


class Prefix:
    """A Wine prefix of `arch` without a display whose service manager (and so each service)
    writes the event log's channel to `boot_log`."""

    def __init__(self, arch):
        self.path = Path(tempfile.mkdtemp(prefix="ndislog-service-"))
        self.env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        self.env.update(WINEPREFIX=str(self.path), WINEARCH=arch, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="ja_JP.UTF-8",
                        PATH=self.env.get("PATH", "") + ":/usr/lib/wine")
        # Debian's `wine` is the 32-bit loader; a 64-bit program and the 64-bit prefix's own
        # tools (sc, net, reg) run under wine64.
        self.loader = "wine64" if arch == "win64" else "wine"
        self.boot_log = self.path / "boot.log"

    def boot(self):
        """Starts the prefix as a machine starts: the service manager and the automatic services."""
        with open(self.boot_log, "ab") as log:
            for command in (["wineserver", "-p"], ["wineboot"]):
                subprocess.run(command, env=dict(self.env, WINEDEBUG=EVENT_CHANNELS), stdin=subprocess.DEVNULL,
                               stdout=log, stderr=log, timeout=DEADLINE, check=True)

    def make(self):
        """Makes the prefix's folders and registry, then ends what that started."""
        self.run("wineboot", "-i")
        self.end()

    def remove(self):
        self.end()
        shutil.rmtree(self.path, ignore_errors=True)

    def end(self):
        """Ends every process of the prefix, services included."""
        for option in ("-k", "-w"):
            subprocess.run(["wineserver", option], env=self.env, capture_output=True, timeout=DEADLINE)

    def run(self, *command, output="cp932"):
        """Runs a program of the prefix; its exit code, output (in `output`) and errors."""
        done = subprocess.run([self.loader, *command] if command[0] != "wineboot" else list(command), env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=DEADLINE)
        return done.returncode, done.stdout.decode(output, "replace"), done.stderr.decode("cp932", "replace")

    def events(self):
        """(type, text) of every event reported so far: type err, warn or trace."""
        text = self.boot_log.read_text(encoding="utf-8", errors="replace")
        return [(kind, body.replace("\\\\", "\\"))
                for kind, body in re.findall(r'^[0-9a-f]+:(err|warn|trace):eventlog:ReportEventW L"(.*)"$', text, re.M)]


class Service(unittest.TestCase):
    # The centre as the RELP test runs it, and its checks of what arrived.
    start, stop, find_centre, start_centre, centre_listens, stored, assert_arrived_once_in_order = (
        getattr(test_relp.RelpShipping, name) for name in
        ("start", "stop", "find_centre", "start_centre", "centre_listens", "stored", "assert_arrived_once_in_order"))

    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix(WINE_ARCH)
        cls.addClassCleanup(cls.prefix.remove)
        cls.prefix.make()
        cls.prefix.boot()
        cls.folder = cls.prefix.path / "drive_c" / FOLDER
        cls.folder.mkdir()
        shutil.copyfile(PROGRAM, cls.folder / "ndislog.exe")
        # Every case waits on the service: a program that Wine never runs fails here, by name.
        reason = companion_does_not_run([cls.prefix.loader, str(cls.folder / "ndislog.exe")], cls.prefix.env)
        if reason:
            raise AssertionError(reason)

    def setUp(self):
        self.find_centre()
        self.work = Path(tempfile.mkdtemp(prefix="work-", dir=self.folder))
        # The centre's store takes no space in its path, unlike the service's folder.
        self.store = Path(tempfile.mkdtemp(prefix="ndislog-service-store-"))
        self.port = test_relp.free_port()
        self.env = dict(os.environ, NDISLOG_CENTRE_ADDRESS="127.0.0.1", NDISLOG_CENTRE_PORT=str(self.port),
                        NDISLOG_CENTRE_STORE=str(self.store))
        self.processes, self.installed = {}, []
        self.log = self.work / "ndislog.txt"

    def tearDown(self):
        for name in self.installed:
            self.ndislog("service", "uninstall", "--name", name)
        for name in list(self.processes):
            self.stop(name, signal.SIGKILL)
        if case_failed(self):
            show_outputs(self.work)
            print(self.prefix.boot_log.read_text(errors="replace")[-3000:], file=sys.stderr)
        shutil.rmtree(self.work, ignore_errors=True)
        shutil.rmtree(self.store, ignore_errors=True)

    def windows_path(self, path):
        return "C:\\" + str(path.relative_to(self.prefix.path / "drive_c")).replace("/", "\\")

    def ndislog(self, *arguments, output="cp932"):
        return self.prefix.run(self.windows_path(self.folder / "ndislog.exe"), *arguments, output=output)

    def install(self, name, *report):
        status, out, err = self.ndislog("service", "install", "--name", name, "--", "report", "--follow", *report)
        self.assertEqual((0, ""), (status, err), out)
        self.installed.append(name)
        return out

    def shipping(self):
        return ["--json", "--relp", f"127.0.0.1:{self.port}", "--interval", "200",
                "--state", self.windows_path(self.work / "ndislog.state"), self.windows_path(self.log)]

    def query(self, name):
        """The service's state and exit codes as `sc query` shows them; None when there is none."""
        status, out, _ = self.prefix.run("sc", "query", name)
        fields = dict(re.findall(r"^\s+(STATE|WIN32_EXIT_CODE|SERVICE_EXIT_CODE)\s+:\s+(\d+)", out, re.M))
        if status != 0 or "STATE" not in fields:
            return None
        return int(fields["STATE"]), int(fields["WIN32_EXIT_CODE"]), int(fields["SERVICE_EXIT_CODE"])

    def net_stop(self, name):
        """`net stop NAME`, then waits until the service has stopped; the seconds it took."""
        started = time.monotonic()
        self.assertEqual(0, self.prefix.run("net", "stop", name)[0])
        self.assertTrue(wait_until(lambda: self.query(name)[0] == 1, DEADLINE), "the service did not stop")
        return time.monotonic() - started

    def registered(self, key):
        return self.prefix.run("reg", "query", key)[0] == 0

    def assert_all_arrived_once_in_order(self):
        status, out, err = self.ndislog("report", "--json", self.windows_path(self.log), output="utf-8")
        self.assertEqual(0, status, err)
        expected = [json.loads(line) for line in out.split("\n")[:-1]]
        self.assertTrue(wait_until(lambda: len(self.stored()) >= len(expected), DEADLINE), "records were lost")
        time.sleep(0.5)  # nothing more may come
        self.assert_arrived_once_in_order(self.stored(), expected)

    # --- the cases

    def test_installed_started_stopped_started_with_the_machine_and_removed(self):
        name, key = "ndislog-ship", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\"
        self.start_centre()
        test_relp.write_log(self.log, 1, 300)
        said = self.install(name, *self.shipping())
        self.assertIn(f'"{self.windows_path(self.folder)}\\ndislog.exe" service run --name {name} -- report', said)
        self.assertEqual(1, self.query(name)[0], "installed, not yet started")
        status, out, _ = self.prefix.run("reg", "query", key + name)
        self.assertEqual(0, status)
        self.assertRegex(out, r"Start\s+REG_DWORD\s+0x2\b")  # automatic
        self.assertRegex(out, r"ObjectName\s+REG_SZ\s+LocalSystem")
        self.assertTrue(self.registered(key + "EventLog\\Application\\" + name))

        self.assertEqual(0, self.prefix.run("net", "start", name)[0])
        self.assertEqual(4, self.query(name)[0])
        self.assert_all_arrived_once_in_order()
        test_relp.write_log(self.log, 301, 400)
        self.assertTrue(wait_until(lambda: len(self.stored()) >= 400, DEADLINE), "records did not follow")

        # A stop ends after the current line with the place saved, within the announced wait.
        self.assertLess(self.net_stop(name), STOP_WAIT_HINT_S)
        self.assertEqual((1, 0, 0), self.query(name), "stopped, no failure")
        self.assertIn(f"offset {self.log.stat().st_size}\n", (self.work / "ndislog.state").read_text())
        test_relp.write_log(self.log, 401, 450)
        self.assertEqual(0, self.prefix.run("net", "start", name)[0])
        self.assert_all_arrived_once_in_order()

        # The machine stopped cleanly and started again: the service starts with it.
        self.net_stop(name)
        self.prefix.end()
        test_relp.write_log(self.log, 451, 500)
        self.prefix.boot()
        self.assertTrue(wait_until(lambda: (self.query(name) or (0,))[0] == 4, DEADLINE), "not started with Wine")
        self.assert_all_arrived_once_in_order()

        status, out, err = self.ndislog("service", "uninstall", "--name", name)
        self.assertEqual((0, ""), (status, err))
        self.assertIn(f"removed the service {name}", out)
        self.installed.remove(name)
        self.assertIsNone(self.query(name))
        self.assertFalse(self.registered(key + name))
        self.assertFalse(self.registered(key + "EventLog\\Application\\" + name))

    def test_bad_arguments_and_foreign_services_change_nothing(self):
        state = self.windows_path(self.work / "state")
        bad = [  # the parser's cases are tested natively; here: nothing of them reaches the registry
            ["--", "report", "--follow", "--json", "--relp", "127.0.0.1:1", "--state", "state"],
            ["--", "report", "--follow", "--json", "--state", state],
            ["--", "cause", "10"],
        ]
        for arguments in bad:
            with self.subTest(arguments=arguments):
                status, out, err = self.ndislog("service", "install", "--name", "ndislog-bad", *arguments)
                self.assertEqual((EXIT_BAD_USAGE, ""), (status, out))
                self.assertTrue(err.startswith("ndislog: "), err)
                self.assertIsNone(self.query("ndislog-bad"), "nothing registered")
        self.assertFalse(self.registered("HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ndislog-bad"))

        # Another program's service is neither replaced nor removed; a missing one is named.
        self.assertEqual(0, self.prefix.run("sc", "create", "ndislog-other", "binPath=",
                                            "C:\\windows\\system32\\notepad.exe")[0])
        told = {("install", "--", "report", "--follow", *self.shipping()): "a service of that name exists already",
                ("uninstall",): "it does not run ndislog; nothing was changed"}
        for arguments, reason in told.items():
            status, out, err = self.ndislog("service", arguments[0], "--name", "ndislog-other", *arguments[1:])
            self.assertEqual((1, ""), (status, out))
            self.assertIn(reason, err)
        self.assertEqual(1, self.query("ndislog-other")[0], "the other service stays")
        self.assertEqual(0, self.prefix.run("sc", "delete", "ndislog-other")[0])
        status, _, err = self.ndislog("service", "uninstall", "--name", "ndislog-none")
        self.assertEqual(1, status)
        self.assertIn("ndislog: cannot remove the service ndislog-none: there is no such service", err)

    def test_notices_go_to_the_event_log_with_their_type_and_a_failure_is_told_from_a_stop(self):
        test_relp.write_log(self.log, 1, 20)
        self.install("ndislog-events", *self.shipping())
        self.assertEqual(0, self.prefix.run("net", "start", "ndislog-events")[0])
        outage = ("warn", f"ndislog: cannot deliver to 127.0.0.1:{self.port} (connection refused); trying again")
        self.assertTrue(wait_until(lambda: outage in self.prefix.events(), DEADLINE), self.prefix.events())
        self.start_centre()
        back = ("trace", f"ndislog: records reach 127.0.0.1:{self.port} again")
        self.assertTrue(wait_until(lambda: back in self.prefix.events(), DEADLINE), self.prefix.events())
        self.assert_all_arrived_once_in_order()
        self.net_stop("ndislog-events")

        # A device cannot be followed: the service ends by itself, with an error event and an
        # exit code that the service manager counts as a failure.
        self.install("ndislog-device", *self.shipping()[:-1], "\\\\.\\NUL")
        self.assertEqual(0, self.prefix.run("net", "start", "ndislog-device")[0])
        self.assertTrue(wait_until(lambda: (self.query("ndislog-device") or (0,))[0] == 1, DEADLINE))
        self.assertEqual((1, 1066, 1), self.query("ndislog-device"))  # ERROR_SERVICE_SPECIFIC_ERROR, exit 1
        self.assertIn(("err", "ndislog: cannot follow \\\\.\\NUL: not a regular file"), self.prefix.events())


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[3] not in ("win32", "win64"):
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    test_relp.CENTRE_CONF, PROGRAM, WINE_ARCH = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
