#!/usr/bin/env python3
"""Checks charger-sim from the port side, the way korvanel talks to it.

usage: check_sim.py PATH/TO/charger-sim

Each check starts its own simulator in a scratch directory, opens the linked
port like korvanel does (exclusive, locked, raw, both queues flushed) and
talks the bootloader protocol. Prints one line per check; exits 1 if any
check fails.
"""

import errno
import fcntl
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import tty

SIM = None
WORK = None
failures = []

VER_REPLY = b"Charger Firmware Version 4.12 (2026-05-20)\r\n"
BTV_REPLY = b"Bootloader Version 1.7\r\n"
BEGIN = b"Begin file transfer...\r\n"
FINAL = b"System will now start new program.\r\n"
HEX_DATA = b":10000000000102030405060708090A0B0C0D0E0F78\n"
HEX_EOF = b":00000001ff\n"


class CheckFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CheckFailed(what)


def run_check(name, function):
    try:
        function()
    except CheckFailed as failure:
        failures.append(name)
        print(f"FAIL {name}: {failure}")
        return
    print(f"ok   {name}")


# --- the simulator ---------------------------------------------------------

def start_sim(*options, port=5):
    """Starts charger-sim and waits (5 s at most) for its ready line."""
    process = subprocess.Popen([SIM, "--dir", WORK, "--port", str(port), *options],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    line = read_ready_line(process)
    if line is None:
        process.kill()
        process.wait()
        if os.path.islink(link_path(port)):
            os.unlink(link_path(port))  # a killed simulator cannot remove it
        raise CheckFailed("no ready line within 5 s: " + process.stderr.read().decode(errors="replace"))
    return process, line


def read_ready_line(process, timeout=5.0):
    deadline = time.monotonic() + timeout
    line = b""
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([process.stdout], [], [], left)[0]:
            return None
        byte = os.read(process.stdout.fileno(), 1)
        if not byte:
            return None
        line += byte
    return line.decode()


def stop_sim(process):
    process.send_signal(signal.SIGTERM)
    return wait_exit(process)


def wait_exit(process, timeout=5.0):
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise CheckFailed(f"charger-sim did not exit within {timeout} s")


def link_path(port=5):
    return os.path.join(WORK, f"com{port}")


def read_stats(path):
    with open(path) as file:
        return dict(line.strip().split("=", 1) for line in file if "=" in line)


# --- the port, opened as korvanel opens it ----------------------------------

def open_port(port=5):
    fd = os.open(link_path(port), os.O_RDWR | os.O_NOCTTY)
    fcntl.ioctl(fd, termios.TIOCEXCL)
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    tty.setraw(fd)
    termios.tcflush(fd, termios.TCIOFLUSH)
    return fd


def close_port(fd):
    fcntl.ioctl(fd, termios.TIOCNXCL)
    os.close(fd)


def read_line(fd, timeout=3.0):
    """One line up to LF, or what came before the time-out."""
    deadline = time.monotonic() + timeout
    line = b""
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        line += os.read(fd, 1)
    return line


def read_quiet(fd, quiet):
    """Everything that comes until the line has been quiet for `quiet` s."""
    data = b""
    while select.select([fd], [], [], quiet)[0]:
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        data += chunk
    return data


def ask(fd, command, timeout=3.0):
    os.write(fd, command)
    return read_line(fd, timeout)


def erase_to_begin(fd):
    """Sends erase and returns the lines up to and with the start signal."""
    os.write(fd, b"erase\r")
    lines = []
    while not lines or lines[-1] not in (BEGIN, b""):
        lines.append(read_line(fd))
    return lines


def send_pieces(fd, line):
    """Sends a HEX line as korvanel does, 99 bytes at most a piece, and
    returns the reply to each piece."""
    replies = []
    for start in range(0, len(line), 99):
        os.write(fd, line[start:start + 99])
        replies.append(read_line(fd, 6.0))
    return replies


# --- the checks ------------------------------------------------------------

def check_bad_command_lines():
    cases = [
        [],
        ["--dir", WORK],
        ["--dir", WORK, "--port", "x5"],
        ["--dir", WORK, "--port", "5", "--ver", "a\\q"],
        ["--dir", WORK, "--port", "5", "--ver", "\\x4"],
        ["--dir", WORK, "--port", "5", "--reply-at", "1"],
        ["--dir", WORK, "--port", "5", "--reply-at", "0", "x"],
        ["--dir", WORK, "--port", "5", "--baud"],
        ["--dir", WORK, "--port", "5", "--no-such-option"],
        ["--dir", WORK, "--port", "5", "stray"],
    ]
    for arguments in cases:
        result = subprocess.run([SIM, *arguments], capture_output=True, timeout=5)
        expect(result.returncode == 2, f"{arguments}: exit {result.returncode}, wanted 2")
        expect(b"usage" in result.stderr, f"{arguments}: no usage on stderr: {result.stderr!r}")
        expect(result.stdout == b"", f"{arguments}: printed {result.stdout!r} on stdout")
        expect(not os.path.lexists(link_path()), f"{arguments}: left a link")


def check_link_failures():
    result = subprocess.run([SIM, "--dir", os.path.join(WORK, "missing"), "--port", "5"],
                            capture_output=True, timeout=5)
    expect(result.returncode == 1, f"missing dir: exit {result.returncode}")
    expect(b"does not exist" in result.stderr, f"missing dir: {result.stderr!r}")

    with open(link_path(), "w") as file:
        file.write("someone else's")
    try:
        result = subprocess.run([SIM, "--dir", WORK, "--port", "5"], capture_output=True, timeout=5)
        expect(result.returncode == 1, f"existing link: exit {result.returncode}")
        expect(b"exists already" in result.stderr, f"existing link: {result.stderr!r}")
        with open(link_path()) as file:
            expect(file.read() == "someone else's", "the existing file was touched")
    finally:
        os.unlink(link_path())


def check_commands_across_opens():
    record = os.path.join(WORK, "commands.rec")
    stats = os.path.join(WORK, "commands.stats")
    process, ready = start_sim("--record", record, "--stats", stats, port=12)
    try:
        expect(ready.startswith("ready COM12 /dev/"), f"ready line {ready!r}")
        expect(os.readlink(link_path(12)) == ready.split()[2], "the link does not name the slave")
        sent = b""
        for _ in range(3):
            fd = open_port(12)
            expect(ask(fd, b"ver\r\0\0\0") == VER_REPLY, "ver reply")
            expect(read_quiet(fd, 0.2) == b"", "more than one line after ver")
            sent += b"ver\r\0\0\0"
            reply = ask(fd, b"btv\r\0\0\0")
            expect(reply == BTV_REPLY and reply[19:22] == b"1.7", f"btv reply {reply!r}")
            sent += b"btv\r\0\0\0"
            close_port(fd)

        # A reply that comes while the port is closed is line noise that the
        # next open throws away.
        # An observer that never reads sees the reply land while nobody has
        # the port open.
        observer = os.open(link_path(12), os.O_RDWR | os.O_NOCTTY)
        fd = open_port(12)
        os.write(fd, b"\nver\r\0\0\0")
        close_port(fd)
        sent += b"\nver\r\0\0\0"
        landed = select.select([observer], [], [], 3.0)[0]
        os.close(observer)
        expect(landed, "no reply to ver while the port was closed")
        fd = open_port(12)
        expect(read_quiet(fd, 0.2) == b"", "noise survived the flush")
        os.write(fd, b"help\r")
        sent += b"help\r"
        expect(read_quiet(fd, 0.3) == b"", "an unknown command got a reply")
        close_port(fd)
    finally:
        code = stop_sim(process)
    expect(code == 0, f"exit {code} on SIGTERM")
    expect(not os.path.lexists(link_path(12)), "the link is still there")
    with open(record, "rb") as file:
        expect(file.read() == sent, "the record differs from what was sent")
    expect(read_stats(stats) == {"pieces": "0", "bytes_received": str(len(sent)), "erase_commands": "0",
                                 "ver_commands": "4", "btv_commands": "3"}, f"stats {read_stats(stats)}")


def check_programming_run():
    record = os.path.join(WORK, "run.rec")
    stats = os.path.join(WORK, "run.stats")
    long_line = b":" + b"A" * 149 + b"\n"
    process, _ = start_sim("--record", record, "--stats", stats, "--erase-start-delay", "30",
                           "--erase-gap", "20", "--final-delay", "10",
                           "--reply-at", "2", "\\x41\\t\\\\\\0Z\\r\\n")
    try:
        fd = open_port()
        started = time.monotonic()
        lines = erase_to_begin(fd)
        elapsed = time.monotonic() - started
        expect(lines == [b"Erasing...\r\n"] * 3 + [BEGIN], f"erase handshake {lines}")
        expect(0.09 <= elapsed < 1.0, f"erase took {elapsed:.3f} s, wanted 30 + 3 * 20 ms")
        expect(send_pieces(fd, HEX_DATA) == [b"OK\r\n"], "reply to piece 1")
        expect(send_pieces(fd, long_line) == [b"A\t\\\0Z\r\n", b"OK\r\n"], "150-byte line as two pieces")
        expect(send_pieces(fd, HEX_EOF) == [b"OK\r\n"], "reply to the end-of-file record")
        expect(read_line(fd, 6.0) == FINAL, "final acknowledgement")
        expect(ask(fd, b"ver\r\0\0\0") == VER_REPLY, "ver after programming")
        close_port(fd)
    finally:
        code = stop_sim(process)
    expect(code == 0, f"exit {code}")
    sent = b"erase\r" + HEX_DATA + long_line + HEX_EOF + b"ver\r\0\0\0"
    with open(record, "rb") as file:
        expect(file.read() == sent, "the record differs from what was sent")
    expect(read_stats(stats) == {"pieces": "4", "bytes_received": str(len(sent)), "erase_commands": "1",
                                 "ver_commands": "1", "btv_commands": "0"}, f"stats {read_stats(stats)}")


def check_erase_variants():
    stats = os.path.join(WORK, "confirm.stats")
    process, _ = start_sim("--erase-echo", "--erase-first", "Really ERASE?\\r\\n", "--erasing-lines", "1",
                           "--erase-start-delay", "0", "--erase-gap", "0", "--begin", "Go\\r\\n",
                           "--stats", stats)
    try:
        fd = open_port()
        os.write(fd, b"erase\r")
        expect(read_line(fd) == b"erase\r\n", "echo of the first erase")
        expect(read_line(fd) == b"Really ERASE?\r\n", "first line")
        expect(read_quiet(fd, 0.3) == b"", "went on without a second erase")
        os.write(fd, b"ver\r")
        expect(read_quiet(fd, 0.3) == b"", "answered ver at the confirmation prompt")
        os.write(fd, b"erase\r")
        lines = [read_line(fd) for _ in range(3)]
        expect(lines == [b"erase\r\n", b"Erasing...\r\n", b"Go\r\n"], f"after the second erase {lines}")
        close_port(fd)
    finally:
        stop_sim(process)
    expect(read_stats(stats)["erase_commands"] == "2", f"stats {read_stats(stats)}")

    process, _ = start_sim("--erase-silent")
    try:
        fd = open_port()
        os.write(fd, b"erase\r")
        expect(read_quiet(fd, 0.5) == b"", "--erase-silent said something")
        close_port(fd)
    finally:
        stop_sim(process)


def check_hangup():
    stats = os.path.join(WORK, "hangup.stats")
    process, _ = start_sim("--hangup-after", "2", "--erase-start-delay", "0", "--erase-gap", "0",
                           "--stats", stats)
    fd = open_port()
    try:
        erase_to_begin(fd)
        expect(send_pieces(fd, HEX_DATA) == [b"OK\r\n"], "reply to piece 1")
        os.write(fd, HEX_DATA)
        # The port dies: a read ends at once with EIO (or end of file).
        expect(select.select([fd], [], [], 3.0)[0], "the port did not wake the reader")
        try:
            data = os.read(fd, 100)
            expect(data == b"", f"read {data!r} after the hang-up")
        except OSError as error:
            expect(error.errno == errno.EIO, f"read failed with {error}")
        try:
            os.write(fd, b"x")
            raise CheckFailed("a write after the hang-up succeeded")
        except OSError as error:
            expect(error.errno == errno.EIO, f"write failed with {error}")
        code = wait_exit(process)
    finally:
        os.close(fd)
        if process.poll() is None:
            stop_sim(process)
    expect(code == 0, f"exit {code} after the hang-up")
    expect(not os.path.lexists(link_path()), "the link is still there")
    expect(read_stats(stats)["pieces"] == "2", f"stats {read_stats(stats)}")

    process, first = start_sim("--hangup-after", "1", "--reopen", "--erase-start-delay", "0", "--erase-gap", "0")
    try:
        fd = open_port()
        erase_to_begin(fd)
        os.write(fd, HEX_DATA)
        second = read_ready_line(process)
        expect(second is not None and second.startswith("ready COM5 /dev/"), f"second ready line {second!r}")
        os.close(fd)
        expect(os.readlink(link_path()) == second.split()[2], "the link does not name the new terminal")
        fd = open_port()
        expect(ask(fd, b"ver\r\0\0\0") == VER_REPLY, "ver on the new terminal")
        close_port(fd)
    finally:
        code = stop_sim(process)
    expect(code == 0 and not os.path.lexists(link_path()), f"exit {code}, link left behind")


def check_exit_after_final():
    process, _ = start_sim("--exit-after-final", "--erase-start-delay", "0", "--erase-gap", "0",
                           "--final-delay", "0")
    fd = open_port()
    try:
        erase_to_begin(fd)
        expect(send_pieces(fd, HEX_EOF) == [b"OK\r\n"], "reply to the end-of-file record")
        expect(read_line(fd) == FINAL, "final acknowledgement")
        code = wait_exit(process, 3.0)
    finally:
        os.close(fd)
        if process.poll() is None:
            stop_sim(process)
    expect(code == 0, f"exit {code}")
    expect(not os.path.lexists(link_path()), "the link is still there")


def check_pacing():
    # 10 bits a byte at 19200 baud: 0.52 ms a byte.
    text = b"V" * 998 + b"\r\n"
    process, _ = start_sim("--baud", "19200", "--ver", text.decode(), "--ver-delay", "0")
    try:
        fd = open_port()
        started = time.monotonic()
        os.write(fd, b"ver\r\0\0\0")
        expect(select.select([fd], [], [], 1.0)[0], "no first byte")
        first = time.monotonic() - started
        data = b""
        while not data.endswith(b"\n") and select.select([fd], [], [], 2.0)[0]:
            data += os.read(fd, 4096)
        whole = time.monotonic() - started
        expect(data == text, "paced reply differs")
        ideal = (4 + len(text)) * 10 / 19200
        expect(first < 0.1, f"first byte after {first:.3f} s: the reply was not sent byte by byte")
        expect(ideal * 0.97 <= whole <= ideal * 1.25, f"{len(text)} bytes took {whole:.3f} s, ideal {ideal:.3f} s")

        # A 99-byte piece takes 51.6 ms to arrive before it can be answered.
        piece = b":" + b"0" * 97 + b"\n"
        os.write(fd, b"erase\r")
        while read_line(fd) not in (BEGIN, b""):
            pass
        started = time.monotonic()
        expect(send_pieces(fd, piece) == [b"OK\r\n"], "reply to a paced piece")
        took = time.monotonic() - started
        expect(0.99 * 103 * 10 / 19200 <= took <= 0.2, f"a 99-byte piece was answered after {took:.3f} s")
        close_port(fd)
    finally:
        stop_sim(process)


def check_idle_cpu():
    process, _ = start_sim()
    try:
        def cpu_ticks():
            with open(f"/proc/{process.pid}/stat") as file:
                fields = file.read().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])
        before = cpu_ticks()
        time.sleep(1.5)  # measuring idle use needs idle time
        used = cpu_ticks() - before
        expect(used <= 2, f"{used} clock ticks of CPU in 1.5 s idle")
    finally:
        stop_sim(process)


def main():
    global SIM, WORK
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    SIM = os.path.abspath(sys.argv[1])
    WORK = tempfile.mkdtemp(prefix="check_sim.")
    try:
        for name, function in [
            ("bad command lines exit 2", check_bad_command_lines),
            ("link failures exit 1", check_link_failures),
            ("ver/btv across opens, noise, record, stats", check_commands_across_opens),
            ("erase, pieces, final, escapes, record, stats", check_programming_run),
            ("erase confirmation, echo, silence", check_erase_variants),
            ("hang-up and --reopen", check_hangup),
            ("--exit-after-final", check_exit_after_final),
            ("--baud pacing", check_pacing),
            ("idle CPU", check_idle_cpu),
        ]:
            run_check(name, function)
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
    print(f"{len(failures)} of 9 checks failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
