#!/usr/bin/env python3
"""Runs the Windows companion ndislog.exe under Wine, in the prefix the end-to-end setup made,
and compares what it prints with the native companion built from the same sources: the report
of a file byte for byte, the report of the driver log in the Windows directory when no file is
named, the cause lookup's texts and catalogue listing, the JSON Lines of both, the failure
messages and the exit codes.

Usage: companion_test.py STATE_DIR ndislog.exe NATIVE_NDISLOG SAMPLE_LOG
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pipeline"))
from pipeline_support import companion_does_not_run, load_wine_state, wine_command, wine_environment  # noqa: E402

EXIT_OK, EXIT_CANNOT_READ, EXIT_BAD_USAGE = 0, 1, 2
WINE_TIMEOUT = 60


def run(command, env=None, cwd=None):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, env=env,
                          cwd=cwd, timeout=WINE_TIMEOUT)
    return done.returncode, done.stdout, done.stderr


def mixed_log():
    """CR LF, LF and a lone CR, a long line that the reader cuts into pieces, and a record
    after Ctrl-Z, which ends the log and must not be shown."""
    long_line = b"0031.Long line," + b"0x4E4E4F43," * 120 + b"0x00000010"
    return (b"0012.Call setup,0x4E4E4F43,0x00000010\r\n"
            b"0013.Disconnect,0x00000010\n"
            b"no record on this line\r\n"
            b"0014.PPP up,0x20505050\r0015.After a lone CR,0x00000003\r\n"
            + long_line + b"\r\n"
            b"0016.Last before Ctrl-Z,0x44434241\r\n"
            b"\x1a0017.After Ctrl-Z,0x00000001\r\n")


def odd_log():
    """Bytes that code page 932 has no character for, the single bytes only Windows' table
    maps, control bytes, quotes and backslashes, for the JSON Lines and --utf8: the Windows
    converter must give the same characters and give up the same bytes as the native one."""
    return ("0017.回線切断,0x43534944\r\n".encode("cp932")
            + b"\x80\xa0.m\x01\t\x82\xfe\xff,0x\xfd1234567\r\n"
            + b'h\\.\x85\x40"q",0x207F5C22\r\n'
            + "ﾁｬﾈﾙ.\x7f,0x12\r".encode("cp932") + b"\r\n")


def follow_until_saved(command, env, state_file, offset):
    """Runs `report --follow` until its state file has reached `offset`, then ends it; its
    standard output."""
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, env=env)
        try:
            deadline = time.monotonic() + WINE_TIMEOUT
            while time.monotonic() < deadline and f"offset {offset}\n" not in read_text(state_file):
                time.sleep(0.1)
        finally:
            process.kill()
            process.wait()
        out.seek(0)
        return out.read()


def read_text(path):
    try:
        with open(path, encoding="ascii", errors="replace") as file:
            return file.read()
    except OSError:
        return ""


def code_log(codes):
    """The byte sequences as the messages of records, 480 two-byte codes to a line."""
    text = b"".join(codes)
    return b"".join(b"t." + text[at:at + 960] + b",\r\n" for at in range(0, len(text), 960))


def decodes(code):
    try:
        code.decode("cp932")
        return True
    except UnicodeDecodeError:
        return False


# Every lead byte with every trail byte, assigned or not; and every character beyond ASCII
# that Windows' code page 932 has, as Python's 'cp932' codec holds its table (the single
# bytes put in pairs with themselves, so that no line cuts a pair).
PAIRS = [bytes([lead, trail]) for lead in [*range(0x81, 0xA0), *range(0xE0, 0xFD)]
         for trail in [*range(0x40, 0x7F), *range(0x80, 0xFD)]]
CHARACTERS = [bytes([byte, byte]) for byte in range(0x80, 0x100) if decodes(bytes([byte]))] + \
             [pair for pair in PAIRS if decodes(pair)]


def lines(data):
    """Text output compared line by line: the Windows runtime writes CR LF in text mode."""
    return data.replace(b"\r\n", b"\n")


class Check:
    def __init__(self):
        self.count = 0
        self.failures = 0

    def equal(self, name, expected, actual):
        self.count += 1
        if expected != actual:
            self.failures += 1
            print(f"FAILED {name}:\n  expected {expected!r}\n  actual   {actual!r}")


def main(state_dir, program, native, sample):
    state = load_wine_state(state_dir)
    env = wine_environment(state)
    for command, command_env in (([native], None), (wine_command(state, program), env)):
        reason = companion_does_not_run(command, command_env)
        if reason:
            print(f"FAILED: {reason}")
            return 1
    windows_dir = os.path.join(state["PREFIX"], "drive_c", "windows")
    driver_log = os.path.join(windows_dir, "ndislog.txt")
    work = tempfile.mkdtemp(prefix="companion-", dir=os.path.join(state["PREFIX"], "drive_c"))
    check = Check()
    try:
        logs = {"sample": open(sample, "rb").read(), "mixed": mixed_log(), "empty": b"", "odd": odd_log(),
                "pairs": code_log(PAIRS), "characters": code_log(CHARACTERS)}
        for name, data in logs.items():
            with open(os.path.join(work, name + ".txt"), "wb") as log:
                log.write(data)
        folder = "C:\\" + os.path.basename(work) + "\\"

        def wine(*arguments):
            return run([*wine_command(state, program), *arguments], env=env)

        def native_run(*arguments):
            return run([native, *arguments])

        # The report of a named file: the very bytes of the native report, for every log.
        reference = native_run("report", os.path.join(work, "mixed.txt"))[1]
        check.equal("the reference report holds the records before Ctrl-Z only",
                    (True, False), (b"Last before Ctrl-Z" in reference, b"After Ctrl-Z" in reference))
        for name in logs:
            for options in ([], ["--utf8"], ["--json"]):
                expected = native_run("report", *options, os.path.join(work, name + ".txt"))
                actual = wine("report", *options, folder + name + ".txt")
                check.equal(f"report {' '.join(options)} {name}", expected, actual)

        # --output appends in binary: the report's CR LF kept as they are, a torn last line
        # ended with LF first, the report once more after the first one.
        torn = b"001. 1\r"
        with open(os.path.join(work, "out.txt"), "wb") as output:
            output.write(torn)
        for _ in range(2):
            status, out, err = wine("report", "--output", folder + "out.txt", folder + "mixed.txt")
            check.equal("report --output: nothing printed", (0, b"", b""), (status, out, err))
        with open(os.path.join(work, "out.txt"), "rb") as output:
            check.equal("report --output appended twice after the torn line", torn + b"\n" + reference * 2,
                        output.read())

        # The one table of both: Windows' own.
        report = native_run("report", os.path.join(work, "characters.txt"))[1]
        check.equal("--utf8 of every character, as Windows' table gives it",
                    report.decode("cp932").encode("utf-8"),
                    wine("report", "--utf8", folder + "characters.txt")[1])

        # No file named: the driver log in the Windows directory.
        shutil.copyfile(os.path.join(work, "mixed.txt"), driver_log)
        check.equal("report of the driver log", native_run("report", driver_log), wine("report"))
        os.remove(driver_log)
        status, out, err = wine("report")
        check.equal("report without a driver log",
                    (EXIT_CANNOT_READ, b"", b"Can't Open C:\\windows\\ndislog.txt\n"),
                    (status, out, lines(err)))

        status, out, err = wine("report", folder + "missing.txt")
        check.equal("report of a missing file",
                    (EXIT_CANNOT_READ, b"", f"Can't Open {folder}missing.txt\n".encode("ascii")),
                    (status, out, lines(err)))

        # A folder opens on Linux but cannot be read; Windows cannot open it: exit 1 either way.
        status, out, err = wine("report", folder)
        check.equal("report of a folder", (EXIT_CANNOT_READ, b"", f"Can't Open {folder}\n".encode("ascii")),
                    (status, out, lines(err)))
        # A file name comes in the ANSI code page: printed as such, or converted for --utf8.
        missing = folder + "ログ.txt"
        for options, encoding in (([], "cp932"), (["--utf8"], "utf-8")):
            status, out, err = wine("report", *options, missing)
            check.equal(f"report {' '.join(options)} of a missing Japanese name",
                        (EXIT_CANNOT_READ, b"", f"Can't Open {missing}\n".encode(encoding)),
                        (status, out, lines(err)))

        # The cause lookup: the dialog's texts, as the native companion prints them.
        # Codes that start with '-' follow "--"; a Japanese one comes in the ANSI code page
        # on Windows and in UTF-8 natively, and "input" must show it alike.
        codes = ["10", "0x1f", "ff00", "zz", "FFFF", "0101", " 1F", "--", "-1", "ログ"]
        for options in ([], ["--english"], ["--utf8"]):
            status, out, err = native_run("cause", *options, *codes)
            expected = (status, out, err)
            status, out, err = wine("cause", *options, *codes)
            check.equal(f"cause {' '.join(options)}", expected, (status, lines(out), lines(err)))
        # JSON Lines and the catalogue listing: the same bytes, LF line ends included.
        for arguments in (["cause", "--json", *codes], ["cause", "--list"], ["cause", "--list", "--json"],
                          ["cause", "--list", "--english", "--json"]):
            expected = native_run(*arguments)
            status, out, err = wine(*arguments)
            if "--json" not in arguments:
                out = lines(out)
            check.equal(" ".join(arguments[:3]), expected, (status, out, err))
        status, out, _ = wine("cause", "zz", "0101")
        check.equal("cause texts in code page 932",
                    [("理由表示 : 不明な理由コード").encode("cp932"),
                     ("理由表示 : 理由表示情報要素なし").encode("cp932")],
                    lines(out).split(b"\n")[:2])

        # The follower's state file goes from one platform to the other and back: each
        # companion prints only the record that came since the other stopped, in the same
        # generation.
        log, state_file = os.path.join(work, "followed.txt"), os.path.join(work, "state")
        records = [b"1.A,\r\n", b"2.B,0x4E4E4F43\r\n", b"3.C,\r\n", b"4.D,\r\n"]
        followed = []
        for count, windows in ((2, False), (3, True), (4, False)):
            with open(log, "wb") as file:
                file.write(b"".join(records[:count]))
            size = len(b"".join(records[:count]))
            command = ([*wine_command(state, program), "report", "--follow", "--json", "--interval", "100", "--state",
                        folder + "state", folder + "followed.txt"] if windows else
                       [native, "report", "--follow", "--json", "--interval", "100", "--state", state_file, log])
            followed.append(follow_until_saved(command, env if windows else None, state_file, size))
        objects = [json.loads(line) for out in followed for line in out.decode("utf-8").splitlines()]
        check.equal("records followed across platforms", [1, 2, 3, 4], [o["record"] for o in objects])
        check.equal("one generation across platforms", 1, len({o["generation"] for o in objects}))

        # A state file that is the log by another name (a hard link; the driver log, the
        # default FILE, spelt otherwise) is refused before anything is written.
        os.link(log, os.path.join(work, "linked.txt"))
        shutil.copyfile(log, driver_log)
        for arguments in ([folder + "linked.txt", folder + "followed.txt"], ["C:\\WINDOWS\\NDISLOG.TXT"]):
            status, out, err = wine("report", "--follow", "--state", *arguments)
            check.equal(f"state file that is the log: {arguments}", (EXIT_BAD_USAGE, b"", b" would overwrite the log "),
                        (status, out, err[len(b"ndislog: --state ") + len(arguments[0]):][:25]))
        check.equal("the log after a refused state file", (b"".join(records),) * 2,
                    (open(log, "rb").read(), open(driver_log, "rb").read()))
        os.remove(driver_log)

        # Windows' own lock keeps a second follower off the state file; the log replaced by a
        # new file of the same bytes is a new log to the first.
        follow = [*wine_command(state, program), "report", "--follow", "--interval", "100", "--state",
                  folder + "held", folder + "followed.txt"]
        with tempfile.TemporaryFile() as first_err:
            first = subprocess.Popen(follow, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=first_err,
                                     env=env)
            try:
                deadline = time.monotonic() + WINE_TIMEOUT
                while time.monotonic() < deadline and f"offset {len(b''.join(records))}\n" not in read_text(
                        os.path.join(work, "held")):
                    time.sleep(0.1)
                check.equal("second follower on one state file",
                            (EXIT_CANNOT_READ, b"", f"ndislog: {folder}held is in use by another ndislog\n".encode()),
                            (lambda r: (r[0], r[1], lines(r[2])))(run(follow, env=env)))
                shutil.copyfile(log, log + ".new")
                os.replace(log + ".new", log)
                restart = b"starting again from record 001"
                while time.monotonic() < deadline and restart not in (first_err.seek(0) or first_err.read()):
                    time.sleep(0.1)
                check.equal("log replaced by a new file while following", True,
                            restart in (first_err.seek(0) or first_err.read()))
            finally:
                first.kill()
                first.wait()

        # Usage: help on standard output, bad usage on standard error with exit code 2.
        check.equal("help", native_run("--help"), tuple(lines(part) if isinstance(part, bytes)
                                                         else part for part in wine("--help")))
        for arguments in ([], ["cause"], ["report", "--bogus"], ["report", "a.txt", "b.txt"],
                          ["frobnicate"], ["cause", "-list"]):
            status, out, err = wine(*arguments)
            check.equal(f"bad usage {arguments}", (EXIT_BAD_USAGE, b"", True),
                        (status, out, lines(err).startswith(b"ndislog: ")))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if os.path.exists(driver_log):
            os.remove(driver_log)
    print(f"{check.count} checks, {check.failures} failure(s)")
    return 1 if check.failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    for path in sys.argv[2:]:
        if not os.path.isfile(path):
            print(f"companion_test: {path} is missing", file=sys.stderr)
            sys.exit(1)
    sys.exit(main(*sys.argv[1:]))
