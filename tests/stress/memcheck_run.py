#!/usr/bin/env python3
"""A whole programming run of korvanel under valgrind memcheck: no invalid
read or write, no use of an uninitialised value, no leaked block, and the
charger still receives exactly the file. Exit 77 (skipped) without valgrind.

  memcheck_run.py --korvanel PATH --sim PATH
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stress_support as support  # noqa: E402

SKIPPED = 77
VALGRIND_ERRORS = 99
PORT = 1
RUN_BOUND = 120


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--korvanel", required=True)
    parser.add_argument("--sim", required=True)
    args = parser.parse_args()

    valgrind = shutil.which("valgrind")
    if valgrind is None:
        print("valgrind is not installed: skipped")
        return SKIPPED

    with tempfile.TemporaryDirectory(prefix="korvanel-memcheck-") as work:
        lines = support.hex_lines(seed=11, data_records=40, sizes=(16, 32))
        hex_path = os.path.join(work, "fw.hex")
        support.write_hex(hex_path, lines)
        log_path = os.path.join(work, "valgrind.log")
        out_path = os.path.join(work, "out.txt")
        env = dict(os.environ, KORVANEL_COMDIR=work)
        command = [valgrind, "--error-exitcode=%d" % VALGRIND_ERRORS, "--leak-check=full",
                   "--errors-for-leak-kinds=definite,indirect", "--track-origins=yes", "--log-file=" + log_path,
                   args.korvanel, hex_path, "/T%d" % PORT]
        sim = support.start_sim(args.sim, work, PORT, os.path.join(work, "record.bin"))
        try:
            with open(out_path, "wb") as out:
                proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT, env=env)
            proc.stdin.write(b"P")
            proc.stdin.close()
            status, _ = support.wait_for(proc, RUN_BOUND)
        finally:
            sim_status, sim_err = support.stop_sim(sim)

        failures = []
        if status != 0:
            failures.append("korvanel under valgrind exited with %d%s\n--- output\n%s\n--- valgrind\n%s" % (
                status, " (memcheck found errors)" if status == VALGRIND_ERRORS else "",
                support.read_bytes(out_path).decode("latin-1"), support.read_bytes(log_path).decode("latin-1")))
        if sim_status != 0:
            failures.append("charger-sim exited with %d: %s" % (sim_status, sim_err.decode()))
        if support.read_bytes(sim.record_path) != support.expected_record(lines):
            failures.append("the charger did not receive exactly the file")

    for failure in failures:
        print("FAIL " + failure)
    if failures:
        return 1
    print("memcheck: a full programming run without errors or leaks")
    return 0


if __name__ == "__main__":
    sys.exit(main())
