#!/usr/bin/env python3
"""Checks contrib/systemd/ndislog-follow.service: `systemd-analyze verify` takes a copy that
starts the built companion without a word (an unknown or misspelt setting is only a warning
there, so any output fails), its state file lies in the one folder the service may write, and
its ExecStart, with the unit's own variables, starts a follower that the unit's stop signal
ends in order (exit code 0). A missing systemd-analyze is a failure.

Usage: test_systemd_unit.py UNIT_FILE NDISLOG
"""
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

from waiting import wait_until

INSTALLED_PROGRAM = "/usr/local/bin/ndislog"


def settings(unit_text, key):
    return [line.split("=", 1)[1] for line in unit_text.splitlines() if line.startswith(key + "=")]


def main(unit_file, ndislog):
    analyze = shutil.which("systemd-analyze", path=os.environ.get("PATH", "") + ":/usr/bin:/bin")
    if not analyze:
        print("FAILED: systemd-analyze is not installed (tools/setup-debian installs systemd)")
        return 1
    text = Path(unit_file).read_text()
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        unit = work / Path(unit_file).name
        unit.write_text(text.replace(INSTALLED_PROGRAM, ndislog))
        done = subprocess.run([analyze, "verify", "--man=no", str(unit)], capture_output=True, text=True)
        if done.returncode != 0 or done.stdout or done.stderr:
            print(f"FAILED: systemd-analyze verify: exit code {done.returncode}\n{done.stdout}{done.stderr}")
            return 1

        [command] = settings(text, "ExecStart")
        state_folder = f"/var/lib/{settings(text, 'StateDirectory')[0]}/"
        if f"--state {state_folder}" not in command:
            print(f"FAILED: the state file is not in {state_folder}, the only folder the service may write")
            return 1
        # The unit's variables, with the centre on a port nobody listens on and a log here.
        variables = dict(setting.split("=", 1) for setting in settings(text, "Environment"))
        (work / "ndislog.txt").write_bytes(b"0012.Call setup,0x4E4E4F43\r\n")
        (work / "state").mkdir()
        variables.update(NDISLOG_CENTRE="127.0.0.1:9", NDISLOG_LOG=str(work / "ndislog.txt"))
        command = re.sub(r"\$\{(\w+)\}", lambda name: variables[name.group(1)], command)
        arguments = shlex.split(command.replace(INSTALLED_PROGRAM, ndislog).replace(state_folder, f"{work}/state/"))
        with open(work / "notices", "wb") as notices:
            follower = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=notices)
        try:
            told = lambda: b"cannot deliver to 127.0.0.1:9" in (work / "notices").read_bytes()  # noqa: E731
            following = wait_until(lambda: told() or follower.poll() is not None, 30) and follower.poll() is None
            follower.send_signal(getattr(signal, settings(text, "KillSignal")[0]))
            status = follower.wait(timeout=10)
        finally:
            if follower.poll() is None:
                follower.kill()
                follower.wait()
        said = (work / "notices").read_text(errors="replace")
        if not following or status != 0:
            print(f"FAILED: ExecStart {arguments}: following {following}, exit code {status}\n{said}")
            return 1
    print("the unit verifies, and its command follows and stops in order")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], os.path.abspath(sys.argv[2])))
