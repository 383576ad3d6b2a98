# SPDX-License-Identifier: MIT
"""Round trips of "DATA:POINts?" through the VISA C API against one
tq820-sim serving TCP and VXI-11 (its portmapper on port 111: run it in a
network namespace of its own, tests/support/in-netns): PyVISA on
libcorvalen-visa, PyVISA on pyvisa-py, a VISA C program and the public C++
API, on each transport, in an order shuffled round by round.

  visa_round_trips.py --build DIR --out DIR [--rounds N] [--round-trips N]
                      [--sim-cpu C --client-cpu C]

Writes visa-N.txt files of "row microseconds" lines into --out and prints
their paths, one a line.
"""
import argparse
import os
import random
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pyvisa_round_trips  # noqa: E402
from run_all import BenchError  # noqa: E402
from vxi11_round_trips import start_simulator  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--round-trips", type=int, default=1000, help="per row and round")
    parser.add_argument("--sim-cpu", type=int)
    parser.add_argument("--client-cpu", type=int)
    args = parser.parse_args()
    if args.client_cpu is not None:
        os.sched_setaffinity(0, {args.client_cpu})
    library = os.path.join(args.build, "visa", "libcorvalen-visa.so.0")

    import pyvisa
    sim, tcp, _ = start_simulator(args.build, args.sim_cpu)
    host, _, port = tcp.rpartition(":")
    resources = {"tcp": f"TCPIP0::{host}::{port}::SOCKET", "vxi11": f"TCPIP::{host}::inst0::INSTR"}
    managers = {"pyvisa-corvalen": pyvisa.ResourceManager(library), "pyvisa-py": pyvisa.ResourceManager("@py")}
    env = dict(os.environ, CORVALEN_IO_ALIASES="")
    try:
        for number in range(1, args.rounds + 1):
            lines = []

            def program(binary, row, resource):
                samples = os.path.join(args.out, f"visa-{number}-{row.replace('/', '-')}.part")
                done = subprocess.run([os.path.join(args.build, "bench", binary), resource, row,
                                       str(args.round_trips), samples], env=env, capture_output=True, text=True,
                                      timeout=600)
                if done.returncode != 0:
                    raise BenchError(f"{binary} failed: {done.stderr.strip()}")
                with open(samples) as part:
                    lines.extend(part.readlines())
                os.remove(samples)

            # The simulator serves one TCP client at a time: each step opens its own.
            def python(kind, name):
                values = pyvisa_round_trips.measure(managers[name], resources[kind], args.round_trips)
                lines.extend(f"visa/{kind}/{name} {value:.3f}\n" for value in values)

            steps = []
            for kind, resource in resources.items():
                steps.append(lambda k=kind, r=resource: program("tq820-api-round-trips", f"visa/{k}/api", r))
                steps.append(lambda k=kind, r=resource: program("tq820-visa-c-round-trips", f"visa/{k}/c", r))
                for name in managers:
                    steps.append(lambda k=kind, n=name: python(k, n))
            random.shuffle(steps)
            for step in steps:
                step()
            samples = os.path.join(args.out, f"visa-{number}.txt")
            with open(samples, "w") as out:
                out.writelines(lines)
            print(samples, flush=True)
    finally:
        for manager in managers.values():
            manager.close()
        sim.terminate()
        sim.wait(5)
        sim.stdout.close()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (BenchError, subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        print(f"visa bench: {error}", file=sys.stderr)
        sys.exit(1)
