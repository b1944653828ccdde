"""What the tests that run real processes share: how a test case ended, the output its
processes left when it failed, and the Wine prefix the end-to-end setup made."""

import os
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
