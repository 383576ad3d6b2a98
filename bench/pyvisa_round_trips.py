# SPDX-License-Identifier: MIT
"""Round trips of "DATA:POINts?" through PyVISA with the pyvisa-py backend,
the peer a user would pick instead of our control, against a running
tq820-sim. Writes every sample as "row microseconds" lines, as tq820-bench
does, for the rows tcp/pyvisa and serial/pyvisa.

Usage: pyvisa_round_trips.py --tcp HOST:PORT [--pty PATH] --round-trips N
                             --samples FILE
"""
import argparse
import sys
import time

import pyvisa

QUERY = "DATA:POINts?"
WARM_UP = 50


def time_round_trips(instrument, count):
    """count round trips; each sample in microseconds. The reply becomes a
    number, as the control's Enter into an integer does."""
    for _ in range(WARM_UP):
        int(instrument.query(QUERY))
    samples = []
    clock = time.perf_counter_ns
    for _ in range(count):
        start = clock()
        int(instrument.query(QUERY))
        samples.append((clock() - start) / 1000.0)
    return samples


def measure(manager, resource, count):
    instrument = manager.open_resource(resource, read_termination="\n", write_termination="\n",
                                       timeout=5000)
    try:
        return time_round_trips(instrument, count)
    finally:
        instrument.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tcp", required=True, help="HOST:PORT of the simulator")
    parser.add_argument("--pty", help="the simulator's pseudo-terminal")
    parser.add_argument("--round-trips", type=int, default=2000)
    parser.add_argument("--samples", required=True)
    args = parser.parse_args()
    host, _, port = args.tcp.rpartition(":")
    manager = pyvisa.ResourceManager("@py")
    rows = {"tcp/pyvisa": measure(manager, f"TCPIP0::{host}::{port}::SOCKET", args.round_trips)}
    if args.pty:
        rows["serial/pyvisa"] = measure(manager, f"ASRL{args.pty}::INSTR", args.round_trips)
    manager.close()
    with open(args.samples, "w", encoding="ascii") as out:
        for row, samples in rows.items():
            out.writelines(f"{row} {micros:.3f}\n" for micros in samples)
    return 0


if __name__ == "__main__":
    sys.exit(main())
