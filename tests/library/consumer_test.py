#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Installs libcorvalen into a temporary prefix, builds the examples outside
the tree once with pkg-config and once with find_package(Corvalen), checks
that neither sees Qt, and runs the query example against the simulator over
a socket, VXI-11 (through the portmapper: run it in a network namespace) and
a GPIB board bound to the simulator's Prologix controller.

    consumer_test.py BUILD_DIR SOURCE_DIR TQ820_SIM
"""

import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

BUILD, SOURCE, SIM = sys.argv[1:4]
failures = []


def run(args, env=None, timeout=120, cwd=None):
    done = subprocess.run(args, capture_output=True, text=True, env=env, timeout=timeout, cwd=cwd)
    if done.returncode != 0:
        raise SystemExit("FAIL: %s exited %d\n%s%s" % (" ".join(args), done.returncode, done.stdout, done.stderr))
    return done.stdout


def check(what, ok, detail=""):
    print("%s: %s%s" % ("ok" if ok else "FAIL", what, (" (" + detail + ")") if detail and not ok else ""))
    if not ok:
        failures.append(what)


def start_simulator():
    """tq820-sim with a socket, VXI-11 behind the portmapper, and a Prologix
    controller over TCP; returns the process and its start-up lines."""
    process = subprocess.Popen([SIM, "--tcp", "0", "--vxi11", "127.0.0.1:0", "--portmapper", "--prologix-tcp", "0"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = {}
    seen = b""
    deadline = time.monotonic() + 10
    # Read the descriptor itself: a buffered readline would hide lines from select.
    while seen.count(b"\n") < 4 and time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(process.stdout.fileno(), 4096) if ready else b""
        if not chunk:
            break
        seen += chunk
    for line in seen.decode().splitlines():
        kind, _, where = line.partition(" ")
        lines[kind] = where
    if len(lines) < 4:
        process.kill()
        raise SystemExit("FAIL: the simulator did not start: %r" % lines)
    return process, lines


def no_qt_in(text):
    return re.search(r"qt6|Qt6|libQt", text) is None


with tempfile.TemporaryDirectory() as scratch:
    prefix = os.path.join(scratch, "prefix")
    for component in ("corvalen", "corvalen-dev"):
        run(["cmake", "--install", BUILD, "--prefix", prefix, "--component", component])
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(prefix, "lib", "pkgconfig"), XDG_CONFIG_HOME=scratch)
    env.pop("CORVALEN_IO_ALIASES", None)

    flags = run(["pkg-config", "--cflags", "--libs", "corvalen"], env=env).split()
    check("pkg-config names no Qt", no_qt_in(" ".join(flags)), " ".join(flags))
    by_pkg_config = os.path.join(scratch, "query-pkg-config")
    run(["g++", "-std=c++17", "-Wall", "-Werror", os.path.join(SOURCE, "examples", "query.cpp"), "-o", by_pkg_config]
        + flags, env=env)

    examples = os.path.join(scratch, "examples")
    run(["cmake", "-S", os.path.join(SOURCE, "examples"), "-B", examples, "-DCMAKE_PREFIX_PATH=" + prefix,
         "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"], env=env)
    run(["cmake", "--build", examples], env=env)
    with open(os.path.join(examples, "compile_commands.json")) as commands:
        check("find_package(Corvalen) puts no Qt on the include path", no_qt_in(commands.read()))
    by_cmake = os.path.join(examples, "query")

    runtime = dict(env, LD_LIBRARY_PATH=os.path.join(prefix, "lib"))
    for program in (by_pkg_config, by_cmake, os.path.join(examples, "find")):
        linked = run(["ldd", program], env=runtime)
        check("no Qt library in ldd of " + os.path.basename(program), no_qt_in(linked), linked)
        check(os.path.basename(program) + " uses the installed libcorvalen",
              os.path.join(prefix, "lib", "libcorvalen.so.0") in linked, linked)

    simulator, lines = start_simulator()
    try:
        socket_port = lines["TCP"].rsplit(":", 1)[1]
        prologix_port = lines["PRLGX-TCP"].rsplit(":", 1)[1]
        bound = dict(runtime, CORVALEN_IO_ALIASES="GPIB0::INTFC=PRLGX-TCPIP::127.0.0.1::%s::INTFC" % prologix_port)
        cases = [
            ("socket", "TCPIP::127.0.0.1::%s::SOCKET" % socket_port, runtime),
            ("VXI-11", "TCPIP::127.0.0.1::inst0::INSTR", runtime),
            ("Prologix-bound board", "GPIB0::9::INSTR", bound),
        ]
        for program in (by_pkg_config, by_cmake):
            for name, resource, environment in cases:
                done = subprocess.run([program, resource], capture_output=True, text=True, env=environment,
                                      timeout=30)
                reply = done.stdout.splitlines()
                ok = done.returncode == 0 and len(reply) == 2 and "TQ820A" in reply[0] and reply[1].startswith("+0")
                check("%s over %s" % (os.path.basename(program), name), ok, repr((done.returncode, done.stdout,
                                                                                   done.stderr)))
        refused = subprocess.run([by_cmake, "TCPIP::127.0.0.1::1::SOCKET"], capture_output=True, text=True,
                                 env=runtime, timeout=30)
        check("a refused connection is an IoError naming the resource",
              refused.returncode == 1 and "TCPIP0::127.0.0.1::1::SOCKET" in refused.stderr, refused.stderr)
    finally:
        simulator.terminate()
        simulator.wait(10)

if failures:
    sys.exit("%d failed: %s" % (len(failures), ", ".join(failures)))
print("all passed")
