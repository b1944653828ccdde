"""What the tests that run real processes share: how a test case ended, the output its
processes left when it failed, and the Wine prefix the end-to-end setup made."""

import os
import subprocess
import sys


def case_failed(case):
    """True unless the unittest case `case` has passed so far (asked in tearDown)."""
    outcome = getattr(case, "_outcome", None)
    result = getattr(outcome, "result", None)
    return result is None or not result.wasSuccessful()


def show_outputs(work, tail=None):
    """Prints every WORK/*.out file to standard error, the last `tail` characters of each."""
    for output in sorted(work.glob("*.out")):
        text = output.read_text(errors="replace")
        print(f"--- {output.name}\n{text[-tail:] if tail else text}", file=sys.stderr)


def load_wine_state(state_dir):
    """The prefix and display the end-to-end setup wrote to STATE_DIR/env as shell assignments."""
    values = {}
    with open(os.path.join(state_dir, "env"), encoding="utf-8") as env:
        for line in env:
            name, _, value = line.strip().partition("=")
            values[name] = value.strip("'\"")
    return values


def wine_command(state, program):
    """The command line start of `program` under the loader of the prefix's architecture."""
    return [state["WINE_LOADER"], program]


def wine_environment(state):
    """The environment that runs Windows programs in that prefix, of its architecture."""
    env = dict(os.environ, WINEPREFIX=state["PREFIX"], DISPLAY=state["DISPLAY_NAME"],
               WINEARCH=state["WINE_ARCH"], WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               LC_ALL="ja_JP.UTF-8")
    env["PATH"] = env.get("PATH", "") + ":/usr/lib/wine"
    return env


def companion_does_not_run(command, env=None):
    """Why the companion `command` (a list) shows no sign of running, or None when its --help
    printed the usage: a Wine that cannot start a program exits 0 without a word."""
    try:
        done = subprocess.run([*command, "--help"], stdin=subprocess.DEVNULL, capture_output=True,
                              env=env, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as error:
        return f"{' '.join(command)} could not be run: {error}"
    if done.returncode == 0 and done.stdout.startswith(b"usage: ndislog "):
        return None
    return (f"{' '.join(command)} did not run: --help gave exit code {done.returncode} and "
            f"{len(done.stdout)} bytes without the usage; it said {done.stderr[-300:]!r}")
