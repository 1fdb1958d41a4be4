#!/usr/bin/env python3
"""Eight korvanel processes program eight simulated chargers at the same
time, each with a file of its own: every run must succeed, and every charger
must have received exactly its own file, however the runs interleave.

  parallel_chargers.py --korvanel PATH --sim PATH
"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stress_support as support  # noqa: E402

PORTS = range(1, 9)
RUN_BOUND = 60
# Lines after the end-of-file record: korvanel must neither read nor send them.
TRAILER = ":0400000005000000F7\r\nnot a record\r\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--korvanel", required=True)
    parser.add_argument("--sim", required=True)
    args = parser.parse_args()

    failures = []
    with tempfile.TemporaryDirectory(prefix="korvanel-parallel-") as work:
        env = dict(os.environ, KORVANEL_COMDIR=work)
        images = {}
        sims = []
        runs = []
        try:
            for port in PORTS:
                # Record sizes differ per charger, so the files differ in
                # length as well as in data.
                lines = support.hex_lines(seed=port * 7919, data_records=28, sizes=(8, 16, 16, 32, port))
                path = os.path.join(work, "fw%d.hex" % port)
                support.write_hex(path, lines, trailer=TRAILER)
                images[port] = lines
                sims.append(support.start_sim(args.sim, work, port, os.path.join(work, "record%d.bin" % port)))
            for port in PORTS:
                out = open(os.path.join(work, "out%d.txt" % port), "wb")
                proc = subprocess.Popen([args.korvanel, os.path.join(work, "fw%d.hex" % port), "/T%d" % port],
                                        stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT, env=env)
                out.close()
                proc.stdin.write(b"P")
                proc.stdin.close()
                runs.append((port, proc))
            for port, proc in runs:
                try:
                    status, _ = support.wait_for(proc, RUN_BOUND)
                except RuntimeError as error:
                    failures.append("COM%d: %s" % (port, error))
                    continue
                if status != 0:
                    failures.append("COM%d: korvanel exited with %d:\n%s" % (
                        port, status, support.read_bytes(os.path.join(work, "out%d.txt" % port)).decode(
                            "latin-1")))
        finally:
            for proc in (p for _, p in runs if p.poll() is None):
                proc.kill()
                proc.wait()
            stopped = {sim.port: support.stop_sim(sim) for sim in sims}

        for sim in sims:
            status, err = stopped[sim.port]
            if status != 0:
                failures.append("charger-sim COM%d exited with %d: %s" % (sim.port, status, err.decode()))
            received = support.read_bytes(sim.record_path)
            expected = support.expected_record(images[sim.port])
            if received != expected:
                at = next((i for i, (a, b) in enumerate(zip(received, expected)) if a != b),
                          min(len(received), len(expected)))
                failures.append("COM%d received %d bytes, expected %d; first difference at byte %d:\n"
                                "  got      %r\n  expected %r" % (
                                    sim.port, len(received), len(expected), at,
                                    received[max(0, at - 20):at + 40], expected[max(0, at - 20):at + 40]))

    for failure in failures:
        print("FAIL " + failure)
    if failures:
        return 1
    print("8 chargers programmed in parallel, each with exactly its own file")
    return 0


if __name__ == "__main__":
    sys.exit(main())
