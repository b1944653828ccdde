"""Deadline-based waiting for the pipeline tests: a wait never races a fixed sleep."""

import time


def wait_until(condition, seconds, step=0.05):
    """Polls `condition` until it holds or `seconds` have passed; its last answer."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()
