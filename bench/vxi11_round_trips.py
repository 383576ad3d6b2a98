# SPDX-License-Identifier: MIT
"""VXI-11 round trips of "DATA:POINts?" against one tq820-sim that serves
VXI-11 with its portmapper on port 111 and a raw TCP port beside it: our
control, liblxi and the floor (tq820-vxi11-bench), and PyVISA with
pyvisa-py, in alternating order round by round. Run it in a network
namespace of its own (tests/support/in-netns), where port 111 is free.

  vxi11_round_trips.py --build DIR --out DIR [--rounds N] [--round-trips N]
                       [--sim-cpu C --client-cpu C]

Writes vxi11-N.txt files of "row microseconds" lines into --out and prints
their paths, one a line.
"""
import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pyvisa_round_trips  # noqa: E402
from run_all import BenchError, pinned, read_line, stop  # noqa: E402


def start_simulator(build, cpu):
    command = [os.path.join(build, "sim", "tq820-sim"), "--tcp", "127.0.0.1:0", "--vxi11", "127.0.0.1:0",
               "--portmapper", "--speed", "10000"]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, preexec_fn=pinned(cpu))
    seen = {}
    while not {"TCP", "VXI11", "PORTMAPPER"} <= seen.keys():
        kind, _, where = read_line(process.stdout, 20, "tq820-sim's start-up lines").partition(" ")
        seen[kind] = where
    return process, seen["TCP"], seen["VXI11"]


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

    import pyvisa
    sim, tcp, vxi = start_simulator(args.build, args.sim_cpu)
    manager = pyvisa.ResourceManager("@py")
    try:
        instrument = manager.open_resource("TCPIP::127.0.0.1::inst0::INSTR", read_termination="\n",
                                           write_termination="\n", timeout=5000)
        for number in range(1, args.rounds + 1):
            samples = os.path.join(args.out, f"vxi11-{number}.txt")

            def native():
                log = os.path.join(args.out, f"vxi11-bench-{number}.log")
                with open(log, "w") as console:
                    done = subprocess.run([os.path.join(args.build, "bench", "tq820-vxi11-bench"), "--tcp", tcp,
                                           "--vxi11", vxi, "--rounds", "1", "--round-trips",
                                           str(args.round_trips), "--samples", samples + ".native"],
                                          stdout=console, stderr=subprocess.STDOUT, timeout=600)
                if done.returncode != 0:
                    raise BenchError(f"tq820-vxi11-bench failed; see {log}")

            def python():
                values = pyvisa_round_trips.time_round_trips(instrument, args.round_trips)
                with open(samples + ".pyvisa", "w") as out:
                    out.writelines(f"vxi11/pyvisa {value:.3f}\n" for value in values)

            steps = [native, python]
            for step in steps[number % 2:] + steps[:number % 2]:
                step()
            with open(samples, "w") as out:
                for part in (".native", ".pyvisa"):
                    with open(samples + part) as lines:
                        out.write(lines.read())
                    os.remove(samples + part)
            print(samples, flush=True)
        instrument.close()
    finally:
        manager.close()
        stop(sim)
        sim.stdout.close()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (BenchError, subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        print(f"vxi11 bench: {error}", file=sys.stderr)
        sys.exit(1)
