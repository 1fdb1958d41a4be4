#!/usr/bin/env python3
"""Runs end-to-end scenarios of korvanel against charger-sim.

korvanel runs for real: its standard input is a pseudo-terminal on which the
port number and the key presses are typed once the text they answer has
appeared, its standard output a pipe that is compared byte for byte, and
every COM port it sees is a charger-sim on a pseudo-terminal of its own.

  run_e2e.py --list
  run_e2e.py --korvanel PATH --sim PATH --scenario NAME [--scenario NAME ...]
  run_e2e.py --wine --korvanel-exe PATH --wineprefix DIR --sim PATH --scenario NAME
  run_e2e.py --wine-setup --korvanel-exe PATH --wineprefix DIR   (before a session of Wine runs)
  run_e2e.py --wine-cleanup --wineprefix DIR    (after it)

--scenario all runs the whole table one scenario after another.
Exit status: 0 passed, 1 failed, 77 skipped (Wine or korvanel.exe missing).
"""

import argparse
import contextlib
import fcntl
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

# The source tree stays as it is: no bytecode cache beside the table.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenarios as table  # noqa: E402

SKIPPED = 77
SIM_READY_BOUND = 10
SIM_STOP_BOUND = 5
# Under Wine no event tells when the program has thrown away the keys typed
# ahead of a prompt; a key that found no reaction in this time is typed again.
WINE_RETYPE_AFTER = 1.0
WINE_RETYPE_TIMES = 10
WINE_COMMAND_BOUND = 180

TIOCPKT = getattr(termios, "TIOCPKT", 0x5420)
TIOCPKT_FLUSHREAD = getattr(termios, "TIOCPKT_FLUSHREAD", 1)

# ---------------------------------------------------------------------------
# charger-sim


def sim_text(data):
    """Bytes as a charger-sim TEXT argument, with its escapes."""
    out = []
    for byte in data:
        if byte == 0x5C:
            out.append("\\\\")
        elif 0x20 <= byte < 0x7F:
            out.append(chr(byte))
        else:
            out.append("\\x%02X" % byte)
    return "".join(out)


def sim_options(charger):
    c = charger
    args = ["--ver", sim_text(c.ver), "--ver-delay", str(c.ver_delay),
            "--ver-silent-first", str(c.ver_silent_first), "--btv", sim_text(c.btv),
            "--erasing-lines", str(c.erasing_lines), "--erase-start-delay", str(c.erase_start_delay),
            "--erase-gap", str(c.erase_gap), "--begin", sim_text(c.begin),
            "--line-reply", sim_text(c.line_reply), "--final", sim_text(c.final)]
    if c.erase_echo:
        args.append("--erase-echo")
    if c.erase_first:
        args += ["--erase-first", sim_text(c.erase_first)]
    if c.erase_silent:
        args.append("--erase-silent")
    for piece, text in sorted(c.reply_at.items()):
        args += ["--reply-at", str(piece), sim_text(text)]
    if c.hangup_after:
        args += ["--hangup-after", str(c.hangup_after)]
    if c.exit_after_final:
        args.append("--exit-after-final")
    return args


class Sim:
    def __init__(self, charger, proc, record, stats):
        self.charger = charger
        self.proc = proc
        self.record = record
        self.stats = stats
        self.slave = None
        self.stdout = b""
        self.stderr = b""
        self.wine_link = None
        self.held_fd = None


def start_sim(sim_path, charger, device_dir, work):
    record = os.path.join(work, "com%d.record" % charger.port)
    stats = os.path.join(work, "com%d.stats" % charger.port)
    proc = subprocess.Popen(
        [sim_path, "--dir", device_dir, "--port", str(charger.port), "--record", record, "--stats", stats]
        + sim_options(charger),
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    sim = Sim(charger, proc, record, stats)
    deadline = time.monotonic() + SIM_READY_BOUND
    while b"\n" not in sim.stdout:
        left = deadline - time.monotonic()
        ready, _, _ = select.select([proc.stdout, proc.stderr], [], [], max(left, 0))
        if not ready:
            raise HarnessError("charger-sim on COM%d gave no ready line within %d s" % (charger.port, SIM_READY_BOUND))
        for stream in ready:
            chunk = os.read(stream.fileno(), 4096)
            if stream is proc.stdout:
                if not chunk:
                    proc.wait(SIM_STOP_BOUND)
                    raise HarnessError("charger-sim on COM%d ended before it was ready: %r"
                                       % (charger.port, proc.stderr.read()))
                sim.stdout += chunk
            else:
                sim.stderr += chunk
    line = sim.stdout.split(b"\n")[0].decode()
    match = re.fullmatch(r"ready COM(\d+) (\S+)", line)
    if not match or int(match.group(1)) != charger.port:
        raise HarnessError("charger-sim said %r instead of its ready line" % line)
    sim.slave = match.group(2)
    return sim


def stop_sim(sim):
    """Ends the sim (if it has not ended by itself) and collects what it
    received and counted."""
    if sim.held_fd is not None:
        os.close(sim.held_fd)
        sim.held_fd = None
    if sim.proc.poll() is None:
        sim.proc.send_signal(signal.SIGTERM)
    try:
        out, err = sim.proc.communicate(timeout=SIM_STOP_BOUND)
    except subprocess.TimeoutExpired:
        sim.proc.kill()
        out, err = sim.proc.communicate()
        sim.stderr += b"(did not end within %d s of SIGTERM)" % SIM_STOP_BOUND
    sim.stdout += out
    sim.stderr += err
    sim.received = read_file(sim.record)
    sim.counters = {}
    for line in read_file(sim.stats).decode(errors="replace").splitlines():
        key, _, value = line.partition("=")
        if value.isdigit():
            sim.counters[key] = int(value)


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def hold_port(sim, device_dir):
    """Opens the sim's port and keeps it, as another program would."""
    fd = os.open(os.path.join(device_dir, "com%d" % sim.charger.port), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    sim.held_fd = fd


class HarnessError(Exception):
    pass


# ---------------------------------------------------------------------------
# Wine


def wine_missing():
    for tool in ("wine", "wineserver"):
        if shutil.which(tool) is None:
            return "%s is not installed" % tool
    return None


def wine_env(prefix):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "KORVANEL_COMDIR"):
        env.pop(name, None)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    return env


def quiet_run(command, env, bound=WINE_COMMAND_BOUND):
    return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=bound).returncode


@contextlib.contextmanager
def locked(path):
    with open(path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


def dosdevices(prefix):
    return os.path.join(prefix, "dosdevices")


def remove_com_links(prefix):
    """Leaves the prefix without COM ports: Wine maps the machine's serial
    devices (COM1 to /dev/ttyS0 ...) on its own, and a run's ports are the
    scenario's chargers only."""
    folder = dosdevices(prefix)
    if not os.path.isdir(folder):
        return
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if re.fullmatch(r"com\d+", name) and os.path.islink(path):
            os.unlink(path)


def prepare_wine(prefix):
    """Creates the prefix on first use, keeps a Wine server running for the
    session and takes away Wine's own COM ports. Serialized by a lock file,
    so parallel first runs create the prefix once."""
    env = wine_env(prefix)
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    with locked(os.path.abspath(prefix) + ".lock"):
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            create_env = dict(env, WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
            if quiet_run(["wine", "wineboot", "--init"], create_env) != 0:
                raise HarnessError("creating the Wine prefix %s failed" % prefix)
            # The server that created the prefix is not a persistent one.
            quiet_run(["wineserver", "-w"], env)
        if quiet_run(["wineserver", "-p"], env) == 0:
            # A fresh server: one program brings up Wine's services, which
            # map the machine's serial ports; they are taken away below.
            quiet_run(["wine", "cmd", "/c", "exit"], env)
        remove_com_links(prefix)


# ---------------------------------------------------------------------------
# One run of korvanel


class Console:
    """korvanel's side of the run: the pipe it writes to, the terminal it
    reads keys from, and what has been typed so far."""

    def __init__(self, proc, master, wine):
        self.proc = proc
        self.master = master
        self.wine = wine
        self.out = b""
        self.err = b""
        self.flushes = 0
        self.retyped = 0
        self.exit_code = None


class Retype:
    """A key typed under Wine that has not yet found its reaction."""

    def __init__(self, data, output_length, typed_at):
        self.data = data
        self.output_length = output_length
        self.typed_at = typed_at


def open_terminal(wine):
    master, slave = os.openpty()
    settings = termios.tcgetattr(slave)
    if wine:
        # Wine takes the terminal into raw mode only when the program first
        # reads it; a CR typed earlier must reach it as CR, its Enter key.
        settings[0] &= ~termios.ICRNL
        termios.tcsetattr(slave, termios.TCSANOW, settings)
    else:
        # Packet mode reports each time the program throws away the keys
        # waiting on its terminal.
        fcntl.ioctl(master, TIOCPKT, struct.pack("i", 1))
    os.set_blocking(master, False)
    return master, slave


def read_available(fd):
    """What a non-blocking descriptor holds now; None at its end."""
    data = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            return data
        except OSError:
            return data if data else None
        if not chunk:
            return data if data else None
        data += chunk


def type_bytes(console, data):
    try:
        os.write(console.master, data)
    except OSError:
        pass


def converse(console, scenario, sims, deadline):
    """Types each answer once its text has appeared and collects the output
    until the program ends. Returns a failure text or None."""
    out_fd = console.proc.stdout.fileno()
    err_fd = console.proc.stderr.fileno()
    for fd in (out_fd, err_fd):
        os.set_blocking(fd, False)
    try:
        exit_fd = os.pidfd_open(console.proc.pid)
    except (AttributeError, OSError):
        exit_fd = None
    watched = {out_fd: "out", err_fd: "err", console.master: "tty"}
    if exit_fd is not None:
        watched[exit_fd] = "exit"
    for sim in sims:
        watched[sim.proc.stdout.fileno()] = sim
        os.set_blocking(sim.proc.stdout.fileno(), False)

    step = 0
    search_from = 0
    discards = 0
    retype = None
    try:
        while True:
            while step < len(scenario.typed):
                typed = scenario.typed[step]
                found = console.out.find(typed.after, search_from)
                if found < 0:
                    break
                if typed.discard and not console.wine and console.flushes < discards + 1:
                    break
                type_bytes(console, typed.data)
                if typed.discard:
                    discards += 1
                    if console.wine:
                        retype = Retype(typed.data, len(console.out), time.monotonic())
                search_from = found + len(typed.after)
                step += 1

            now = time.monotonic()
            if retype is not None:
                if len(console.out) > retype.output_length:
                    retype = None
                elif now - retype.typed_at >= WINE_RETYPE_AFTER and console.retyped < WINE_RETYPE_TIMES:
                    type_bytes(console, retype.data)
                    retype.typed_at = now
                    console.retyped += 1

            if console.exit_code is not None:
                return None
            if now >= deadline:
                waiting = ("for %r before typing %r" % (scenario.typed[step].after, scenario.typed[step].data)
                           if step < len(scenario.typed) else "for the program to end")
                return "timed out after %.0f s waiting %s" % (scenario.bound, waiting)

            wait = deadline - now
            if retype is not None:
                wait = min(wait, WINE_RETYPE_AFTER)
            ready, _, _ = select.select(list(watched), [], [], wait)
            for fd in ready:
                what = watched.get(fd)
                if what == "exit":
                    console.exit_code = console.proc.wait()
                    del watched[fd]
                    for stream, name in ((out_fd, "out"), (err_fd, "err")):
                        data = read_available(stream) or b""
                        setattr(console, name, getattr(console, name) + data)
                    continue
                if what == "tty":
                    if not read_terminal(console):
                        del watched[fd]
                    continue
                data = read_available(fd)
                if data is None:
                    del watched[fd]
                    if what == "out" and exit_fd is None:
                        console.exit_code = console.proc.wait(max(deadline - time.monotonic(), 0.1))
                    elif isinstance(what, Sim):
                        sim_ended(what)
                    continue
                if what == "out":
                    console.out += data
                elif what == "err":
                    console.err += data
                else:
                    what.stdout += data
    finally:
        if exit_fd is not None:
            os.close(exit_fd)


def read_terminal(console):
    """Reads what the terminal gives back (echo, and natively the packet
    mode's status reports) packet by packet. False once it has ended."""
    while True:
        try:
            packet = os.read(console.master, 4096)
        except BlockingIOError:
            return True
        except OSError:
            return False
        if not packet:
            return False
        # A packet is data after a 0 byte, or one status byte; FLUSHREAD in
        # it tells that the keys waiting on the terminal were thrown away.
        if not console.wine and packet[0] != 0 and packet[0] & TIOCPKT_FLUSHREAD:
            console.flushes += 1


def sim_ended(sim):
    """A charger that ends by itself takes its port away; under Wine the
    harness made the port's name, so it takes that away too."""
    if sim.wine_link and os.path.islink(sim.wine_link) and os.readlink(sim.wine_link) == sim.slave:
        os.unlink(sim.wine_link)


# ---------------------------------------------------------------------------
# Checking the outcome


def describe_difference(expected, actual, at):
    return ("output differs at byte %d:\n  expected %r\n  got      %r"
            % (at, expected[:80], actual[at:at + 80]))


def match_output(expect, actual):
    """Compares the output with the expected pieces. Returns a failure text
    or None."""
    at = 0
    for part in expect:
        if isinstance(part, table.Elapsed):
            found = re.compile(rb"(\d{2,}):(\d{2}):(\d{2})").match(actual, at)
            if not found:
                return describe_difference(b"hh:mm:ss", actual, at)
            hours, minutes, seconds = (int(g) for g in found.groups())
            total = hours * 3600 + minutes * 60 + seconds
            if minutes > 59 or seconds > 59 or not part.lo <= total <= part.hi:
                return ("elapsed time %s at byte %d is not within %d..%d s"
                        % (found.group(0).decode(), at, part.lo, part.hi))
            at = found.end()
            continue
        if actual[at:at + len(part)] != part:
            same = 0
            while same < len(part) and at + same < len(actual) and actual[at + same] == part[same]:
                same += 1
            return describe_difference(part[same:], actual, at + same)
        at += len(part)
    if at != len(actual):
        return "unexpected output after byte %d: %r" % (at, actual[at:at + 200])
    return None


def undo_text_mode(raw):
    """Takes away the one CR that the C runtime's text mode writes before
    each LF; an LF without it is a failure, not something to smooth over."""
    lines = raw.split(b"\n")
    for number, line in enumerate(lines[:-1]):
        if not line.endswith(b"\r"):
            return None, "LF number %d of the output has no CR before it" % (number + 1)
    return b"\n".join([line[:-1] for line in lines[:-1]] + [lines[-1]]), None


def check(scenario, console, sims, duration):
    failures = []
    output = console.out
    if console.wine:
        output, problem = undo_text_mode(output)
        if problem:
            failures.append(problem)
            output = console.out
    problem = match_output(scenario.expect, output)
    if problem:
        failures.append(problem)
    if console.exit_code != scenario.exit_code:
        failures.append("exit code %s, expected %d" % (console.exit_code, scenario.exit_code))
    if console.err:
        failures.append("standard error is not empty: %r" % console.err[:500])
    if scenario.last_percent is not None:
        shown = re.findall(rb"\rProgramming = (\d+)% ", output)
        if not shown or int(shown[-1]) != scenario.last_percent:
            failures.append("last progress %s%%, expected %d%%"
                            % (shown[-1].decode() if shown else "none", scenario.last_percent))
    if scenario.duration is not None:
        lo, hi = scenario.duration
        if not lo <= duration <= hi:
            failures.append("the run took %.1f s, expected %g..%g s" % (duration, lo, hi))
    for sim in sims:
        port = sim.charger.port
        if port in scenario.received and sim.received != scenario.received[port]:
            failures.append("COM%d received %r,\n  expected %r" % (port, sim.received, scenario.received[port]))
        for key, value in scenario.counters.get(port, {}).items():
            if sim.counters.get(key) != value:
                failures.append("COM%d counted %s=%s, expected %d" % (port, key, sim.counters.get(key), value))
        if sim.proc.returncode != 0 or sim.stderr:
            failures.append("charger-sim on COM%d ended with %s: %r" % (port, sim.proc.returncode, sim.stderr))
    return failures


def expected_text(expect):
    return b"".join(b"hh:mm:ss" if isinstance(p, table.Elapsed) else p for p in expect)


# ---------------------------------------------------------------------------


def run_scenario(scenario, args):
    wine = args.wine
    with tempfile.TemporaryDirectory(prefix="korvanel-e2e-") as work:
        device_dir = os.path.join(work, "ports")
        run_dir = os.path.join(work, "run")
        os.mkdir(device_dir)
        os.mkdir(run_dir)
        for name, content in scenario.files.items():
            with open(os.path.join(run_dir, name), "wb") as f:
                f.write(content)

        if wine:
            prepare_wine(args.wineprefix)
            remove_com_links(args.wineprefix)
            env = wine_env(args.wineprefix)
            command = ["wine", args.korvanel_exe] + scenario.argv
        else:
            env = dict(os.environ, KORVANEL_COMDIR=device_dir)
            command = [args.korvanel] + scenario.argv

        sims = []
        master = None
        console = None
        try:
            for charger in scenario.chargers:
                sim = start_sim(args.sim, charger, device_dir, work)
                sims.append(sim)
                if wine:
                    sim.wine_link = os.path.join(dosdevices(args.wineprefix), "com%d" % charger.port)
                    os.symlink(sim.slave, sim.wine_link)
                if charger.held:
                    hold_port(sim, device_dir)

            master, slave = open_terminal(wine)
            started = time.monotonic()
            try:
                proc = subprocess.Popen(command, stdin=slave, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        cwd=run_dir, env=env)
            finally:
                os.close(slave)
            console = Console(proc, master, wine)
            problem = converse(console, scenario, sims, started + scenario.bound)
            duration = time.monotonic() - started
        finally:
            if console is not None and console.exit_code is None:
                console.proc.kill()
                console.exit_code = console.proc.wait()
            if console is not None:
                console.proc.stdout.close()
                console.proc.stderr.close()
            for sim in sims:
                stop_sim(sim)
                sim_ended(sim)
            if master is not None:
                os.close(master)

        failures = ([problem] if problem else []) + check(scenario, console, sims, duration)
        mode = "wine" if wine else "native"
        if not failures:
            retyped = " (keys typed again: %d)" % console.retyped if console.retyped else ""
            print("PASS %s (%s) in %.1f s%s" % (scenario.name, mode, duration, retyped))
            return True
        print("FAIL %s (%s) after %.1f s" % (scenario.name, mode, duration))
        for failure in failures:
            print("  - " + failure)
        print("  command: %s" % " ".join(command))
        print("  expected output: %r" % expected_text(scenario.expect))
        print("  actual output:   %r" % console.out)
        for sim in sims:
            print("  COM%d received: %r" % (sim.charger.port, sim.received))
        return False


def list_scenarios():
    for scenario in table.SCENARIOS:
        modes = "native" if scenario.native_only else "native,wine"
        print("%s\t%s\t%d" % (scenario.name, modes, int(scenario.bound)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="list the scenarios: name, modes, bound in seconds")
    parser.add_argument("--scenario", action="append", default=[])
    parser.add_argument("--korvanel", help="the native korvanel")
    parser.add_argument("--sim", help="charger-sim")
    parser.add_argument("--wine", action="store_true", help="run korvanel.exe under Wine")
    parser.add_argument("--korvanel-exe", help="korvanel.exe, for --wine")
    parser.add_argument("--wineprefix", help="the tests' own Wine prefix")
    parser.add_argument("--wine-setup", action="store_true")
    parser.add_argument("--wine-cleanup", action="store_true")
    args = parser.parse_args()

    if args.list:
        list_scenarios()
        return 0

    if args.wine or args.wine_setup or args.wine_cleanup:
        if not args.wineprefix:
            parser.error("Wine runs need --wineprefix")
        args.wineprefix = os.path.abspath(args.wineprefix)
        missing = wine_missing()
        if missing is None and not args.wine_cleanup and not os.path.isfile(args.korvanel_exe or ""):
            missing = "korvanel.exe is not built (%s)" % args.korvanel_exe
        if missing:
            print("SKIPPED: " + missing)
            return SKIPPED
        if args.wine_setup:
            prepare_wine(args.wineprefix)
            return 0
        if args.wine_cleanup:
            remove_com_links(args.wineprefix)
            quiet_run(["wineserver", "-k"], wine_env(args.wineprefix))
            return 0
    elif not args.korvanel:
        parser.error("give --korvanel, or --wine with --korvanel-exe")
    if not args.sim:
        parser.error("give --sim")

    for name in ("korvanel", "sim", "korvanel_exe"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    names = [s.name for s in table.SCENARIOS] if args.scenario == ["all"] else args.scenario
    if not names:
        parser.error("give --scenario NAME (or all)")
    passed = True
    for name in names:
        scenario = table.by_name(name)
        if scenario is None:
            parser.error("no scenario named %s" % name)
        if args.wine and scenario.native_only:
            print("SKIPPED %s under Wine: %s" % (name, table.NATIVE_ONLY[scenario.native_only]))
            if len(names) == 1:
                return SKIPPED
            continue
        try:
            passed = run_scenario(scenario, args) and passed
        except HarnessError as error:
            print("FAIL %s: %s" % (name, error))
            passed = False
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
