"""What the stress tests and the benchmark share: HEX files to send, the
simulated charger started and stopped, and the bytes the charger must have
received for one programming run."""

import os
import random
import select
import signal
import subprocess

SIM_READY_BOUND = 10
SIM_STOP_BOUND = 5

# korvanel sends each version query as its four characters and three NULs.
VERSION_COMMAND = b"ver\r\0\0\0"
ERASE_COMMAND = b"erase\r"
END_OF_FILE_RECORD = ":00000001FF"


def record(address, record_type, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, record_type]) + bytes(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


def hex_lines(seed, data_records, sizes=(16,)):
    """The records of one firmware image, up to and with its end-of-file
    record; the seed makes every image different and repeatable."""
    rng = random.Random(seed)
    lines = [record(0, 0x04, [0x00, seed & 0xFF])]
    address = 0
    for _ in range(data_records):
        size = rng.choice(sizes)
        lines.append(record(address & 0xFFFF, 0x00, [rng.randrange(256) for _ in range(size)]))
        address += size
    lines.append(record(0, 0x01, []))
    return lines


def write_hex(path, lines, line_end="\r\n", trailer=""):
    """Writes the records as a charger's firmware file usually comes (CR LF);
    trailer is text after the end-of-file record, which is never sent."""
    with open(path, "w", newline="") as f:
        f.write("".join(line + line_end for line in lines) + trailer)


def sent_lines(lines):
    """The bytes of the transfer: each line with an LF, as read in text mode."""
    return b"".join(line.encode("ascii") + b"\n" for line in lines)


def expected_record(lines):
    """Everything a charger receives in one programming run: the version
    query, the erase, the file up to its end-of-file record, and the version
    query after it."""
    return VERSION_COMMAND + ERASE_COMMAND + sent_lines(lines) + VERSION_COMMAND


class Sim:
    def __init__(self, proc, port, record_path):
        self.proc = proc
        self.port = port
        self.record_path = record_path


def start_sim(sim_path, device_dir, port, record_path=None, extra=()):
    command = [sim_path, "--dir", device_dir, "--port", str(port)]
    if record_path:
        command += ["--record", record_path]
    command += list(extra)
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    ready, _, _ = select.select([proc.stdout], [], [], SIM_READY_BOUND)
    line = proc.stdout.readline() if ready else b""
    if not line.startswith(b"ready COM%d " % port):
        proc.kill()
        _, err = proc.communicate()
        raise RuntimeError("charger-sim on COM%d did not start: %r %r" % (port, line, err))
    return Sim(proc, port, record_path)


def stop_sim(sim):
    """Ends the simulated charger; returns its exit status and stderr."""
    if sim.proc.poll() is None:
        sim.proc.send_signal(signal.SIGTERM)
    try:
        _, err = sim.proc.communicate(timeout=SIM_STOP_BOUND)
    except subprocess.TimeoutExpired:
        sim.proc.kill()
        _, err = sim.proc.communicate()
        err += b"(did not end within %d s of SIGTERM)" % SIM_STOP_BOUND
    return sim.proc.returncode, err


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def wait_for(proc, bound):
    """Waits for proc to end, at most bound seconds, then kills it. Returns
    (exit status, rusage of proc alone); raises when it overstayed."""
    fd = os.pidfd_open(proc.pid)
    try:
        ended, _, _ = select.select([fd], [], [], bound)
    finally:
        os.close(fd)
    if not ended:
        proc.kill()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if not ended:
        raise RuntimeError("%s did not end within %d s" % (proc.args[0], bound))
    return proc.returncode, usage
