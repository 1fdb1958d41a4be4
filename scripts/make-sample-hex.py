#!/usr/bin/env python3
"""Writes the demo firmware image: Intel HEX records with valid checksums,
CR LF line ends, as a charger's firmware file usually comes."""
import random
import sys


def record(address, record_type, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, record_type]) + bytes(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "samples/demo-firmware.hex"
    rng = random.Random(1714)  # fixed seed: the same file every time
    lines = [record(0, 0x04, [0x00, 0x00])]
    for address in range(0x0000, 0x0C00, 16):
        lines.append(record(address, 0x00, [rng.randrange(256) for _ in range(16)]))
    lines.append(record(0, 0x01, []))
    with open(out, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
