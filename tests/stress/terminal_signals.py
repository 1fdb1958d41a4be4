#!/usr/bin/env python3
"""korvanel takes its key presses raw from the terminal: no echo, no Enter.
Whether the wait for a key ends by a key or by SIGINT, SIGTERM or SIGHUP,
the terminal must be left exactly as it was, or the user's shell is left
without echo.

korvanel's standard input is a pseudo-terminal. Its master is in packet mode
and the terminal has EXTPROC set, so that every change of the terminal's
settings arrives at the master as an event: the test knows without guessing
when korvanel has switched to raw keys, and only then sends the signal.

  terminal_signals.py --korvanel PATH --sim PATH
"""

import argparse
import collections
import fcntl
import os
import pty
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stress_support as support  # noqa: E402

PORT = 1
BOUND = 30
TIOCPKT = getattr(termios, "TIOCPKT", 0x5420)
TIOCPKT_IOCTL = 0x40
EXTPROC = getattr(termios, "EXTPROC", 0o200000)
LFLAG = 3

Case = collections.namedtuple("Case", "name args prompt action expected")

CONFIRMATION = b"? > "
CLOSING = b"Press Any Key to Continue"

CASES = [
    Case("SIGINT at the confirmation", ["fw.hex", "/T%d" % PORT], CONFIRMATION, signal.SIGINT, -signal.SIGINT),
    Case("SIGHUP at the confirmation", ["fw.hex", "/T%d" % PORT], CONFIRMATION, signal.SIGHUP, -signal.SIGHUP),
    Case("SIGTERM at the closing wait", ["/V", "/C%d" % PORT], CLOSING, signal.SIGTERM, -signal.SIGTERM),
    Case("a key other than P at the confirmation", ["fw.hex", "/T%d" % PORT], CONFIRMATION, b"q", 9),
    Case("a key at the closing wait", ["/V", "/C%d" % PORT], CLOSING, b"x", 0),
]


def on_off(flag):
    return "on" if flag else "off"


def read_until(fd, text, deadline, seen):
    """Reads the pipe until text has appeared; False at end or time-out."""
    while text not in seen:
        remaining = deadline - time.monotonic()
        ready, _, _ = select.select([fd], [], [], max(0.0, remaining))
        if not ready:
            return False
        chunk = os.read(fd, 4096)
        if not chunk:
            return False
        seen += chunk
    return True


def wait_raw_keys(master, slave, deadline):
    """Waits for the terminal change that switches to raw keys; returns the
    settings then in force, or None."""
    while True:
        remaining = deadline - time.monotonic()
        ready, _, _ = select.select([master], [], [], max(0.0, remaining))
        if not ready:
            return None
        packet = os.read(master, 256)
        if packet and packet[0] & TIOCPKT_IOCTL:
            settings = termios.tcgetattr(slave)
            if not settings[LFLAG] & termios.ICANON:
                return settings


def run_case(case, args, work, env):
    master, slave = pty.openpty()
    proc = None
    try:
        settings = termios.tcgetattr(slave)
        settings[LFLAG] |= termios.ICANON | termios.ECHO | termios.ISIG | EXTPROC
        termios.tcsetattr(slave, termios.TCSANOW, settings)
        saved = termios.tcgetattr(slave)
        fcntl.ioctl(master, TIOCPKT, struct.pack("i", 1))

        command = [args.korvanel] + [os.path.join(work, a) if a.endswith(".hex") else a for a in case.args]
        proc = subprocess.Popen(command, stdin=slave, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                                start_new_session=True)
        deadline = time.monotonic() + BOUND
        seen = bytearray()
        if not read_until(proc.stdout.fileno(), case.prompt, deadline, seen):
            return "no %r within %d s; output:\n%s" % (case.prompt, BOUND, seen.decode("latin-1"))
        raw = wait_raw_keys(master, slave, deadline)
        if raw is None:
            return "the terminal was not switched to raw keys at %r" % case.prompt
        if raw[LFLAG] & termios.ECHO:
            return "echo still on while waiting for the key"

        if isinstance(case.action, bytes):
            os.write(master, case.action)
        else:
            proc.send_signal(case.action)
        status, _ = support.wait_for(proc, max(1.0, deadline - time.monotonic()))
        rest = proc.stdout.read()
        if status != case.expected:
            return "exit status %d, expected %d; output:\n%s" % (status, case.expected,
                                                                  (bytes(seen) + rest).decode("latin-1"))
        after = termios.tcgetattr(slave)
        if after != saved:
            return "terminal settings not restored (ICANON %s, ECHO %s):\n  before %r\n  after  %r" % (
                on_off(after[LFLAG] & termios.ICANON), on_off(after[LFLAG] & termios.ECHO), saved, after)
        return None
    finally:
        if proc is not None and proc.poll() is None:
            proc.kill()
            proc.wait()
        if proc is not None:
            proc.stdout.close()
        os.close(master)
        os.close(slave)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--korvanel", required=True)
    parser.add_argument("--sim", required=True)
    args = parser.parse_args()

    failures = 0
    with tempfile.TemporaryDirectory(prefix="korvanel-signals-") as work:
        support.write_hex(os.path.join(work, "fw.hex"), support.hex_lines(seed=3, data_records=4))
        env = dict(os.environ, KORVANEL_COMDIR=work)
        sim = support.start_sim(args.sim, work, PORT)
        try:
            for case in CASES:
                problem = run_case(case, args, work, env)
                print("%s %s%s" % ("FAIL" if problem else "ok  ", case.name, ": " + problem if problem else ""))
                failures += problem is not None
        finally:
            status, err = support.stop_sim(sim)
        if status != 0:
            print("FAIL charger-sim exited with %d: %s" % (status, err.decode()))
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
