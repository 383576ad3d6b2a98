# SPDX-License-Identifier: MIT
"""Runs every benchmark against one tq820-sim and prints the one table.

  run_all.py --build DIR [--rounds N] [--quick] [--out DIR]

DIR is a build with -DTQ_BUILD_BENCH=ON (./scripts/bench uses the release
preset). The round trips run in rounds: each round runs tq820-bench (its
rows interleaved at random) and PyVISA, in alternating order, so that a
slow moment of the machine falls on every row alike; the samples of all
rounds are pooled. The simulator runs on one processor and the clients on
another; the TCP rows run once more from the simulator's own processor, the
cheapest round trip there is, against which the control's own cost shows
most. Start-up and peak memory are measured from outside, on a
private Xvfb, against a second simulator that keeps a transcript (the first
keeps none, as a transcript costs a write per line).
"""
import argparse
import os
import random
import select
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
TITLE = "Corvalen Control Example"
DESIGN_ADDRESS = "GPIB0::9::INSTR"
# The list's inside, in window pixels: the list box at (25, 96), 289 x 147,
# less its frame and the horizontal scroll bar that the second line brings.
LIST_AREA = ("28", "99", "283", "120")
RUN_BUTTON = ("169", "72")
EXIT_BUTTON = ("169", "272")
READINGS = 40
# The I/O library's aliases.conf comes from here, a folder that holds none,
# never from the user's own ~/.config.
NO_CONFIG = os.path.join(tempfile.gettempdir(), "tq-bench-no-config")


class BenchError(RuntimeError):
    pass


def read_line(stream, timeout, what):
    """One line from a child's pipe within timeout seconds."""
    fd = stream.fileno()
    data = b""
    deadline = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise BenchError(f"waited {timeout:g} s for {what}")
        chunk = os.read(fd, 1)
        if not chunk:
            raise BenchError(f"no answer while waiting for {what}")
        data += chunk
    return data.decode().strip()


def stop(process, grace=5.0):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(grace)


def pinned(cpu):
    """A preexec_fn that puts the child on one processor (None: anywhere)."""
    if cpu is None:
        return None
    return lambda: os.sched_setaffinity(0, {cpu})


def placement():
    """(simulator's CPU, clients' CPU): two different processors, so that
    every row meets the same wake-up path; (None, None) on one processor.
    Left to the scheduler, each connection lands by chance on one CPU or
    two, and the two cost 20 or 60 us a round trip on an idle machine."""
    cpus = sorted(os.sched_getaffinity(0))
    return (cpus[0], cpus[1]) if len(cpus) >= 2 else (None, None)


class Simulator:
    def __init__(self, path, speed, transcript=None, cpu=None):
        command = [path, "--tcp", "0", "--pty", "--prologix-tcp", "0", "--speed", str(speed)]
        if transcript:
            command += ["--transcript", transcript]
        self.transcript = transcript
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, preexec_fn=pinned(cpu))
        self.tcp = self.pty = self.prologix = None
        for _ in range(3):
            kind, _, where = read_line(self.process.stdout, 20, "tq820-sim's start-up lines").partition(" ")
            if kind == "TCP":
                self.tcp = where
            elif kind == "PTY":
                self.pty = where
            elif kind == "PRLGX-TCP":
                self.prologix = where
        if not self.tcp or not self.pty or not self.prologix:
            raise BenchError("tq820-sim did not report its TCP port, its pty and its Prologix TCP port")

    def resource(self):
        host, _, port = self.tcp.rpartition(":")
        return f"TCPIP::{host}::{port}::SOCKET"

    def received(self):
        with open(self.transcript, encoding="ascii", errors="replace") as lines:
            return [line.rstrip("\n").split(" ", 2) for line in lines if line.endswith("\n")]

    def close(self):
        stop(self.process)
        self.process.stdout.close()


class Xvfb:
    """A private X server; -displayfd picks a free display number."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            self.display = ":" + read_line(pipe, 30, "Xvfb to report its display")

    def close(self):
        stop(self.process)


def round_trips(args, sim, cpus, out_dir, round_number):
    """One round: tq820-bench and PyVISA from the clients' CPU, and the TCP
    rows once more from the simulator's own CPU; each round starts with
    another of them."""
    sim_cpu, client_cpu = cpus
    files = []

    def native(name, cpu, *extra):
        samples = os.path.join(out_dir, f"{name}-{round_number}.txt")
        log = os.path.join(out_dir, f"{name}-{round_number}.log")
        command = [os.path.join(args.build, "bench", "tq820-bench"), "--tcp", sim.tcp, "--pty", sim.pty,
                   "--prologix-tcp", sim.prologix.rpartition(":")[2],
                   "--round-trips", str(args.round_trips), "--repetitions", str(args.repetitions),
                   "--runs", str(args.runs), "--samples", samples,
                   "--benchmark_enable_random_interleaving=true", *extra]
        if sim_cpu is not None:
            command += ["--server-cpu", str(sim_cpu)]
        with open(log, "w") as console:
            done = subprocess.run(command, env=dict(os.environ, QT_QPA_PLATFORM="offscreen",
                                                    XDG_CONFIG_HOME=NO_CONFIG), stdout=console,
                                  stderr=subprocess.STDOUT, timeout=900, preexec_fn=pinned(cpu))
        if done.returncode != 0 or "ERROR OCCURRED" in open(log).read():
            raise BenchError(f"tq820-bench failed; see {log}")
        files.append(samples)

    def apart():
        native("bench", client_cpu)

    def together():
        native("bench-same-cpu", sim_cpu, "--row-prefix", "same-cpu/",
               "--benchmark_filter=^same-cpu/tcp/interleaved/")

    def pyvisa():
        samples = os.path.join(out_dir, f"pyvisa-{round_number}.txt")
        subprocess.run([sys.executable, os.path.join(HERE, "pyvisa_round_trips.py"), "--tcp", sim.tcp,
                        "--pty", sim.pty, "--round-trips", str(args.round_trips * args.repetitions),
                        "--samples", samples], check=True, timeout=900, preexec_fn=pinned(client_cpu))
        files.append(samples)

    steps = [apart, pyvisa] + ([together] if sim_cpu is not None else [])
    first = round_number % len(steps)
    for step in steps[first:] + steps[:first]:
        step()
    return files


# One query from process start to exit, the reply checked.
PYVISA_ONE_SHOT = ("import pyvisa, sys\n"
                   "rm = pyvisa.ResourceManager('@py')\n"
                   "dev = rm.open_resource(sys.argv[1], read_termination='\\n', write_termination='\\n')\n"
                   "print(dev.query('*IDN?'))\n")


def one_shot_queries(args, sim, cpus, out_dir):
    """corvalen query, lxi scpi and a python3 -c PyVISA script, each started
    args.one_shots times for one "*IDN?" on the simulator's socket, in a
    shuffled order every time so that a slow moment falls on all alike; the
    sample file of the microseconds from spawn to exit."""
    host, _, port = sim.tcp.rpartition(":")
    commands = {
        "oneshot/corvalen": [os.path.join(args.build, "tools", "corvalen"), "query", sim.resource(), "*IDN?"],
        "oneshot/lxi": ["lxi", "scpi", "--address", host, "--port", port, "--raw", "*IDN?"],
        "oneshot/pyvisa": [sys.executable, "-c", PYVISA_ONE_SHOT, sim.resource()],
    }
    env = dict(os.environ, XDG_CONFIG_HOME=NO_CONFIG)
    env.pop("CORVALEN_IO_ALIASES", None)
    samples = os.path.join(out_dir, "oneshot.txt")
    shuffler = random.Random(1)
    with open(samples, "w", encoding="ascii") as out:
        for _ in range(args.one_shots):
            rows = list(commands)
            shuffler.shuffle(rows)
            for row in rows:
                started = time.monotonic()
                done = subprocess.run(commands[row], capture_output=True, text=True, timeout=60, env=env,
                                      preexec_fn=pinned(cpus[1]))
                elapsed = time.monotonic() - started
                if done.returncode != 0 or "TQ820A" not in done.stdout:
                    raise BenchError(f"{row} failed ({done.returncode}): {done.stdout}{done.stderr}")
                out.write(f"{row} {elapsed * 1e6:.1f}\n")
    return [samples]


def vxi11_round_trips(args, cpus, out_dir):
    """The VXI-11 rows, against a simulator with its portmapper on port 111
    in a network namespace of their own; the sample files it wrote."""
    command = [os.path.join(HERE, "..", "tests", "support", "in-netns"), sys.executable,
               os.path.join(HERE, "vxi11_round_trips.py"), "--build", os.path.abspath(args.build), "--out", out_dir,
               "--rounds", str(args.rounds), "--round-trips", str(args.round_trips * args.repetitions // 3)]
    if cpus[0] is not None:
        command += ["--sim-cpu", str(cpus[0]), "--client-cpu", str(cpus[1])]
    done = subprocess.run(command, stdout=subprocess.PIPE, text=True, timeout=900,
                          env=dict(os.environ, XDG_CONFIG_HOME=NO_CONFIG))
    if done.returncode != 0:
        raise BenchError("the VXI-11 round trips failed")
    return done.stdout.split()


def visa_round_trips(args, cpus, out_dir):
    """The VISA C API's rows (PyVISA on libcorvalen-visa and on pyvisa-py, a
    C program, the C++ API; TCP and VXI-11), in a network namespace of their
    own for the portmapper; the sample files it wrote."""
    command = [os.path.join(HERE, "..", "tests", "support", "in-netns"), sys.executable,
               os.path.join(HERE, "visa_round_trips.py"), "--build", os.path.abspath(args.build), "--out", out_dir,
               "--rounds", str(args.rounds), "--round-trips", str(args.round_trips * args.repetitions // 6)]
    if cpus[0] is not None:
        command += ["--sim-cpu", str(cpus[0]), "--client-cpu", str(cpus[1])]
    done = subprocess.run(command, stdout=subprocess.PIPE, text=True, timeout=1800,
                          env=dict(os.environ, XDG_CONFIG_HOME=NO_CONFIG))
    if done.returncode != 0:
        raise BenchError("the VISA round trips failed")
    return done.stdout.split()


def program_env(display, resource):
    # XDG_CONFIG_HOME: the I/O library's aliases.conf from an empty folder,
    # never the user's own.
    env = dict(os.environ, DISPLAY=display, CORVALEN_IO_ALIASES=f"{DESIGN_ADDRESS}={resource}",
               XDG_CONFIG_HOME=NO_CONFIG)
    for name in ("QT_QPA_PLATFORM", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "CORVALEN_IO_TRACE"):
        env.pop(name, None)
    return env


def start_watched(args, env, out_dir):
    """Starts tq820-scan with the probe watching; returns the process, the
    milliseconds from spawn to the three lines shown, and the window id."""
    probe = subprocess.Popen([os.path.join(args.build, "bench", "tq820-window-probe"), TITLE, *LIST_AREA,
                              "3", "20000"], stdout=subprocess.PIPE, env=env)
    try:
        read_line(probe.stdout, 20, "the window probe")
        with open(os.path.join(out_dir, "scan-stderr.txt"), "ab") as errors:
            spawned = time.monotonic()
            program = subprocess.Popen([os.path.join(args.build, "tq820-scan")], env=env,
                                       stdout=subprocess.DEVNULL, stderr=errors)
        fields = read_line(probe.stdout, 25, "the painted window").split()
        painted, window = float(fields[3]), fields[5]
        return program, (painted - spawned) * 1000.0, window
    finally:
        stop(probe)
        probe.stdout.close()


def run_complete(events):
    """The run has ended once, after the last reading was taken out, the
    error queue's answer went out."""
    removals = [i for i, e in enumerate(events) if len(e) == 3 and e[1] == "RX" and e[2] == "DATA:REMove? 1"]
    if len(removals) < READINGS:
        return False
    last = events[removals[-1]:]
    return any(e[1] == "RX" and e[2] == "SYSTem:ERRor?" for e in last) and last[-1][1] == "TX"


def peak_memory_mib(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    raise BenchError("no VmHWM in /proc/PID/status")


def from_outside(args, out_dir):
    """Start-up times of fresh programs, then the peak memory of one after
    a whole run."""
    xvfb = Xvfb()
    sim = Simulator(os.path.join(args.build, "sim", "tq820-sim"), 1000, os.path.join(out_dir, "transcript.txt"))
    try:
        env = program_env(xvfb.display, sim.resource())
        startups = []
        for _ in range(args.starts):
            program, millis, _ = start_watched(args, env, out_dir)
            startups.append(millis)
            stop(program)
        program, _, window = start_watched(args, env, out_dir)
        try:
            subprocess.run(["xdotool", "mousemove", "--window", window, *RUN_BUTTON, "click", "1"],
                           env=env, check=True, timeout=20)
            deadline = time.monotonic() + 60
            while not run_complete(sim.received()):
                if time.monotonic() > deadline or program.poll() is not None:
                    raise BenchError("the run through the window did not complete; see transcript.txt")
                time.sleep(0.01)
            time.sleep(0.5)  # the list's last lines get painted
            peak = peak_memory_mib(program.pid)
            subprocess.run(["xdotool", "mousemove", "--window", window, *EXIT_BUTTON, "click", "1"],
                           env=env, check=True, timeout=20)
            if program.wait(20) != 0:
                raise BenchError(f"tq820-scan ended with {program.returncode} after Exit")
        finally:
            stop(program)
        return startups, peak
    finally:
        sim.close()
        xvfb.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", help="where samples and logs go (default: a fresh folder in DIR)")
    parser.add_argument("--rounds", type=int, default=10)
    # Many short repetitions, interleaved: a burst of other work then lands
    # on every row alike instead of on one row's long stretch.
    parser.add_argument("--round-trips", type=int, default=100, help="per repetition of a row")
    parser.add_argument("--repetitions", type=int, default=30, help="of each row in a round")
    parser.add_argument("--runs", type=int, default=3, help="whole runs per round")
    parser.add_argument("--starts", type=int, default=10)
    parser.add_argument("--one-shots", type=int, default=50, help="starts of each one-shot query client")
    parser.add_argument("--quick", action="store_true", help="few samples: checks that everything runs")
    args = parser.parse_args()
    if args.quick:
        args.rounds, args.round_trips, args.repetitions, args.runs, args.starts = 1, 100, 3, 2, 2
        args.one_shots = 5
    out_dir = args.out or tempfile.mkdtemp(prefix="bench-", dir=args.build)
    os.makedirs(out_dir, exist_ok=True)

    load_before = os.getloadavg()[0]
    cpus = placement()
    sim = Simulator(os.path.join(args.build, "sim", "tq820-sim"), 10000, cpu=cpus[0])
    try:
        files = []
        for number in range(1, args.rounds + 1):
            files += round_trips(args, sim, cpus, out_dir, number)
        files += one_shot_queries(args, sim, cpus, out_dir)
    finally:
        sim.close()
    files += vxi11_round_trips(args, cpus, out_dir)
    files += visa_round_trips(args, cpus, out_dir)
    startups, peak = from_outside(args, out_dir)
    load_after = os.getloadavg()[0]

    rows = {}
    for name in files:
        with open(name, encoding="ascii") as lines:
            report.read_samples(lines, rows)
    print(f"tq820 benchmarks: {os.cpu_count()} cores, load average {load_before:.2f} before, "
          f"{load_after:.2f} after; simulator at --speed 10000; samples in {out_dir}")
    if cpus[0] is not None:
        print(f"simulator on CPU {cpus[0]}, clients on CPU {cpus[1]} (the rows marked so: on CPU {cpus[0]} too)")
    else:
        print("one processor: client and simulator share it")
    print(report.format_table(rows, startups, peak))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (BenchError, subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        print(f"bench: {error}", file=sys.stderr)
        sys.exit(1)
