#!/usr/bin/env python3
"""Shows that tools/make-release fails loudly and leaves no zip behind when a MinGW-w64
toolchain is missing: it runs the command with a PATH that holds every program of /usr/bin
but the cross compilers of one architecture.

Usage: test_make_release.py
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (architecture whose tools are hidden, text expected on standard error)
CASES = [
    ("i686-w64-mingw32-", "i686-w64-mingw32-g++-win32 is not installed"),
    ("x86_64-w64-mingw32-", "x86_64-w64-mingw32-g++-win32 is not installed"),
]


def path_without(hidden, folder):
    """A PATH in which the programs of /usr/bin named hidden* are missing."""
    for name in os.listdir("/usr/bin"):
        if not name.startswith(hidden):
            os.symlink(os.path.join("/usr/bin", name), os.path.join(folder, name))
    others = [entry for entry in os.environ.get("PATH", "").split(":")
              if entry and os.path.realpath(entry) not in ("/usr/bin", "/bin")]
    return ":".join([folder] + others)


def main():
    failures = 0
    for hidden, expected in CASES:
        with tempfile.TemporaryDirectory() as bin_folder, tempfile.TemporaryDirectory() as output:
            env = dict(os.environ, PATH=path_without(hidden, bin_folder))
            done = subprocess.run([os.path.join(ROOT, "tools", "make-release"), output], env=env,
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
            left = sorted(name for name in os.listdir(output)
                          if name.endswith(".zip") or name.startswith("SHA256SUMS"))
            stderr = done.stderr.decode("utf-8", "replace")
            if done.returncode == 0 or expected not in stderr:
                failures += 1
                print(f"FAILED {hidden}: status {done.returncode}, stderr {stderr!r}")
            if left:
                failures += 1
                print(f"FAILED {hidden}: left behind: {left}")
    print(f"{len(CASES)} cases checked, {failures} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
