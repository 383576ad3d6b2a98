#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The search for instruments against simulators in a network of its own.

Run inside tests/support/in-netns: makes a veth pair with both ends in this
namespace (10.231.0.1/24 and 10.231.0.2/24), starts two simulators that answer
the VXI-11 broadcast (A: inst0 on .1 and a Prologix controller on loopback;
B: a LAN/GPIB gateway on .2), then runs the dialog's tests (find_tests) and
lxi-tools' "lxi discover" against them. Where an Avahi daemon can be started
(on a D-Bus bus and a /run of the test's own), the simulators announce
themselves and the mDNS path is tested too, with "lxi discover --mdns".
Nothing is sent outside loopback and this namespace.
  find_in_netns.py TQ820_SIM FIND_TESTS
  find_in_netns.py TQ820_SIM TQ820_FIND_BENCH --bench   (the figures, no checks)
  find_in_netns.py TQ820_SIM TQ820_FIND_BENCH --bench --screenshot docs/select-io.png
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


def start_simulator(path, workdir, name, options, lines, env):
    """The simulator and its first `lines` start-up lines, by first word."""
    with open(os.path.join(workdir, name + "-stderr.txt"), "wb") as stderr:
        process = subprocess.Popen([path, "--transcript", os.path.join(workdir, name + ".txt")] + options,
                                   stdout=subprocess.PIPE, stderr=stderr, env=env)
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


DBUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={bus}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

AVAHI_CONFIG = """[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=v0,v1
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
"""


def wait_for_text(path, text, bound):
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        with open(path, encoding="utf-8", errors="replace") as log:
            if text in log.read():
                return True
        time.sleep(0.1)
    return False


def start_avahi(workdir):
    """An Avahi daemon on a D-Bus system bus of the test's own, with /run of
    its own (a mount namespace), so that nothing of the machine's is touched.
    Returns the processes and the bus address, or None and why not."""
    bus = os.path.join(workdir, "system_bus")
    with open(os.path.join(workdir, "dbus.conf"), "w") as config:
        config.write(DBUS_CONFIG.format(bus=bus))
    with open(os.path.join(workdir, "avahi.conf"), "w") as config:
        config.write(AVAHI_CONFIG)
    address = "unix:path=" + bus
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
    log_path = os.path.join(workdir, "avahi.log")
    with open(os.path.join(workdir, "dbus.log"), "wb") as log:
        dbus = subprocess.Popen(["dbus-daemon", "--nofork", "--config-file=" + os.path.join(workdir, "dbus.conf")],
                                stdout=log, stderr=log)
    deadline = time.monotonic() + 5
    while not os.path.exists(bus) and time.monotonic() < deadline:
        time.sleep(0.05)
    with open(log_path, "wb") as log:
        avahi = subprocess.Popen(
            ["unshare", "--mount", "sh", "-c",
             "mount -t tmpfs tmpfs /run && mkdir -p /run/avahi-daemon && exec avahi-daemon --no-drop-root "
             "--no-chroot --no-rlimits -f " + os.path.join(workdir, "avahi.conf")],
            stdout=log, stderr=log, env=env)
    if wait_for_text(log_path, "Server startup complete", 10):
        return [avahi, dbus], address
    for process in (avahi, dbus):
        process.kill()
        process.wait(timeout=10)
    with open(log_path, encoding="utf-8", errors="replace") as log:
        return None, "no Avahi daemon could be started here: " + log.read()[-300:]


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


def lxi_discover_mdns(env, raw_port):
    """lxi-tools' mDNS discovery sees what the simulator announces."""
    done = subprocess.run(["lxi", "discover", "--mdns", "-t", "2"], capture_output=True, text=True, env=env,
                          timeout=30)
    print(done.stdout, done.stderr, sep="\n")
    if f"scpi-raw service on port {raw_port}" in done.stdout and NET_A in done.stdout:
        return []
    return [f"lxi discover --mdns did not list the raw socket {NET_A}:{raw_port}"]


def stop(processes):
    for process in processes:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


def main():
    sim, find_tests = sys.argv[1], sys.argv[2]
    bench = "--bench" in sys.argv[3:]
    make_network()
    with tempfile.TemporaryDirectory(prefix="tq-find-") as workdir:
        avahi, bus = start_avahi(workdir)
        if avahi is None:
            print("mDNS left untested:", bus)
        env = dict(os.environ, XDG_CONFIG_HOME=workdir)
        if avahi is not None:
            env["DBUS_SYSTEM_BUS_ADDRESS"] = bus
        processes = list(avahi or [])
        try:
            a, a_lines = start_simulator(sim, workdir, "sim-a", [
                "--vxi11", NET_A + ":0", "--portmapper", "--idn", IDN_A, "--tcp", NET_A + ":0", "--announce",
                "--prologix-tcp", "127.0.0.1:0"], 4, env)
            processes.append(a)
            b, _ = start_simulator(sim, workdir, "sim-b", [
                "--vxi11", NET_B + ":0", "--portmapper", "--gateway", "--idn", IDN_B, "--announce"], 2, env)
            processes.append(b)
            raw_port = port_of(a_lines["TCP"])
            test_env = dict(env, QT_QPA_PLATFORM="offscreen",
                            TQ_FIND_INST0=NET_A, TQ_FIND_GATEWAY=NET_B, TQ_FIND_IDN_A=IDN_A, TQ_FIND_IDN_B=IDN_B,
                            CORVALEN_IO_ALIASES=";".join([
                                f"GPIB0::INTFC=PRLGX-TCPIP::127.0.0.1::{port_of(a_lines['PRLGX-TCP'])}::INTFC",
                                f"GPIB1::INTFC=TCPIP::{NET_B}::gpib0::INTFC"]))
            if avahi is not None:
                test_env["TQ_FIND_MDNS"] = f"TCPIP0::{NET_A}::{raw_port}::SOCKET"
            command = [find_tests] + sys.argv[sys.argv.index("--screenshot"):] if "--screenshot" in sys.argv else [find_tests]
            status = subprocess.run(command, env=test_env, timeout=120).returncode
            failures = []
            if not bench:
                failures += lxi_discover(os.path.join(workdir, "sim-b.txt"))
                if avahi is not None:
                    failures += lxi_discover_mdns(env, raw_port)
        finally:
            stop(reversed(processes))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if status != 0 or failures else 0


if __name__ == "__main__":
    sys.exit(main())
