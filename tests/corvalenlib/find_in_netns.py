#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The search for instruments against simulators in a network of its own.

Run inside tests/support/in-netns: makes a veth pair with both ends in this
namespace (10.231.0.1/24 and 10.231.0.2/24), starts two simulators that answer
the VXI-11 broadcast (A: inst0 on .1 and a Prologix controller on loopback;
B: a LAN/GPIB gateway on .2), then runs the dialog's tests (find_tests) and
lxi-tools' "lxi discover" against them. Nothing is sent outside loopback and
this namespace.
  find_in_netns.py TQ820_SIM FIND_TESTS
"""
import os
import select
import subprocess
import sys
import tempfile
import time

NET_A, NET_B = "10.231.0.1", "10.231.0.2"
IDN_A = "CORVALEN,TQ820A,SIM-A,1.0"
IDN_B = "CORVALEN,TQ820A,SIM-B,1.0"
START_BOUND = 10  # seconds for a simulator to print its start-up lines


def run(*command):
    subprocess.run(command, check=True, timeout=10)


def make_network():
    run("ip", "link", "add", "v0", "type", "veth", "peer", "name", "v1")
    run("ip", "addr", "add", NET_A + "/24", "brd", "+", "dev", "v0")
    run("ip", "addr", "add", NET_B + "/24", "brd", "+", "dev", "v1")
    run("ip", "link", "set", "v0", "up")
    run("ip", "link", "set", "v1", "up")


def start_simulator(path, workdir, name, options, lines):
    """The simulator and its first `lines` start-up lines, by first word."""
    with open(os.path.join(workdir, name + "-stderr.txt"), "wb") as stderr:
        process = subprocess.Popen([path, "--transcript", os.path.join(workdir, name + ".txt")] + options,
                                   stdout=subprocess.PIPE, stderr=stderr)
    found, pending = {}, b""
    deadline = time.monotonic() + START_BOUND
    while len(found) < lines and time.monotonic() < deadline:
        if not select.select([process.stdout], [], [], 0.2)[0]:
            continue
        chunk = os.read(process.stdout.fileno(), 4096)
        if not chunk:
            break
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            kind, _, where = line.decode().partition(" ")
            found[kind] = where
    if len(found) < lines:
        process.kill()
        sys.exit(f"{name}: start-up lines missing, got {found}; see {workdir}")
    return process, found


def port_of(where):
    return where.rpartition(":")[2]


def gateway_refusals(transcript):
    with open(transcript, encoding="ascii", errors="replace") as lines:
        return sum('link to "inst0" refused' in line for line in lines)


def lxi_discover(gateway_transcript):
    """lxi-tools' discovery, as an operator runs it. It names what answers
    "*IDN?" at inst0; a gateway has no inst0, so lxi reaching it shows only in
    the gateway's transcript, as a refused link."""
    before = gateway_refusals(gateway_transcript)
    done = subprocess.run(["lxi", "discover"], capture_output=True, text=True, timeout=30)
    print(done.stdout, done.stderr, sep="\n")
    failures = []
    if not any(NET_A in line and IDN_A in line for line in done.stdout.splitlines()):
        failures.append(f"lxi discover did not list {IDN_A} at {NET_A}")
    if gateway_refusals(gateway_transcript) == before:
        failures.append(f"lxi discover did not reach the gateway at {NET_B}")
    return failures


def main():
    sim, find_tests = sys.argv[1], sys.argv[2]
    make_network()
    with tempfile.TemporaryDirectory(prefix="tq-find-") as workdir:
        a, a_lines = start_simulator(sim, workdir, "sim-a", [
            "--vxi11", NET_A + ":0", "--portmapper", "--idn", IDN_A,
            "--prologix-tcp", "127.0.0.1:0"], 3)
        b, _ = start_simulator(sim, workdir, "sim-b", [
            "--vxi11", NET_B + ":0", "--portmapper", "--gateway", "--idn", IDN_B], 2)
        try:
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=workdir,
                       TQ_FIND_INST0=NET_A, TQ_FIND_GATEWAY=NET_B, TQ_FIND_IDN_A=IDN_A, TQ_FIND_IDN_B=IDN_B,
                       CORVALEN_IO_ALIASES=";".join([
                           f"GPIB0::INTFC=PRLGX-TCPIP::127.0.0.1::{port_of(a_lines['PRLGX-TCP'])}::INTFC",
                           f"GPIB1::INTFC=TCPIP::{NET_B}::gpib0::INTFC"]))
            status = subprocess.run([find_tests], env=env, timeout=120).returncode
            failures = lxi_discover(os.path.join(workdir, "sim-b.txt"))
        finally:
            for process in (a, b):
                process.terminate()
                process.wait(timeout=10)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if status != 0 or failures else 0


if __name__ == "__main__":
    sys.exit(main())
