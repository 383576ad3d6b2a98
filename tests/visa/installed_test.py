#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""libcorvalen-visa as it is installed: into a temporary prefix, a C program
written for VISA built with pkg-config and run against tq820-sim over a
socket and VXI-11; the library exports vi* functions only; pyvisa-shell
with PYVISA_LIBRARY pointing at it lists, opens and queries; ~/.pyvisarc
picks it as PyVISA's default. Runs in a network namespace of its own.

    installed_test.py BUILD_DIR SOURCE_DIR TQ820_SIM
"""

import os
import subprocess
import sys
import tempfile

BUILD, SOURCE, SIM = sys.argv[1:4]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from visa_support import Sim  # noqa: E402

failures = []


def run(args, env=None, timeout=120, stdin=None):
    done = subprocess.run(args, capture_output=True, text=True, env=env, timeout=timeout, input=stdin)
    if done.returncode != 0:
        raise SystemExit("FAIL: %s exited %d\n%s%s" % (" ".join(args), done.returncode, done.stdout, done.stderr))
    return done.stdout


def check(what, ok, detail=""):
    print("%s: %s%s" % ("ok" if ok else "FAIL", what, (" (" + detail + ")") if detail and not ok else ""))
    if not ok:
        failures.append(what)


with tempfile.TemporaryDirectory() as scratch:
    prefix = os.path.join(scratch, "prefix")
    for component in ("corvalen", "corvalen-visa", "corvalen-visa-dev"):
        run(["cmake", "--install", BUILD, "--prefix", prefix, "--component", component])
    lib = os.path.join(prefix, "lib")
    library = os.path.join(lib, "libcorvalen-visa.so.0")
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(lib, "pkgconfig"), XDG_CONFIG_HOME=scratch, HOME=scratch,
               LD_LIBRARY_PATH=lib)
    env.pop("CORVALEN_IO_ALIASES", None)
    env.pop("PYVISA_LIBRARY", None)

    flags = run(["pkg-config", "--cflags", "--libs", "corvalen-visa"], env=env).split()
    check("pkg-config adds the folder of visa.h", "-I" + os.path.join(prefix, "include", "corvalen-visa") in
          [os.path.normpath(f[:2]) + os.path.normpath(f[2:]) if f.startswith("-I") else f for f in flags], " ".join(flags))
    program = os.path.join(scratch, "visa_program")
    run(["cc", "-std=c99", "-Wall", "-Wextra", "-Werror", os.path.join(SOURCE, "tests", "visa", "visa_program.c"),
         "-o", program] + flags, env=env)

    exported = run(["nm", "-D", "--defined-only", library]).split("\n")
    symbols = [line.split()[-1] for line in exported if line.strip()]
    strays = [s for s in symbols if not s.startswith("vi") and s != "CORVALEN_VISA_0"]
    check("only vi* functions are exported (%d)" % len(symbols), not strays, " ".join(strays[:10]))

    simulator = Sim(SIM, "--tcp", "0", "--vxi11", "127.0.0.1:0", "--portmapper")
    try:
        socket = "TCPIP0::127.0.0.1::%d::SOCKET" % simulator.port("TCP")
        for name, resource in (("socket", socket), ("VXI-11", "TCPIP::127.0.0.1::inst0::INSTR")):
            done = subprocess.run([program, resource], capture_output=True, text=True, env=env, timeout=30)
            lines = done.stdout.splitlines()
            ok = done.returncode == 0 and len(lines) == 2 and "TQ820A" in lines[0] and \
                lines[1] == 'count 7 timer 2.5 error 0 "No error"'
            check("the VISA C program over " + name, ok, repr((done.returncode, done.stdout, done.stderr)))
        refused = subprocess.run([program, "TCPIP::127.0.0.1::1::SOCKET"], capture_output=True, text=True, env=env,
                                 timeout=30)
        check("a refused connection is a status with its text",
              refused.returncode == 1 and "VI_ERROR_RSRC_NFOUND" in refused.stderr, refused.stderr)

        # pyvisa-shell reads its commands from standard input.
        vxi11 = "TCPIP0::127.0.0.1::inst0::INSTR"
        shell_env = dict(env, PYVISA_LIBRARY=library, CORVALEN_IO_ALIASES="bench=" + vxi11,
                         CORVALEN_VISA_FIND_TIMEOUT="300")
        commands = "list\nopen bench\nquery *IDN?\nattr VI_ATTR_TCPIP_DEVICE_NAME\nclose\nexit\n"
        shell = subprocess.run(["/usr/bin/pyvisa-shell"], input=commands, capture_output=True, text=True,
                               env=shell_env, timeout=60)
        out = shell.stdout
        check("pyvisa-shell lists the aliased instrument", vxi11 in out and "bench" in out, out)
        check("pyvisa-shell opens and queries it", "has been opened" in out and "TQ820A" in out, out)
        check("pyvisa-shell reads an attribute", "inst0" in out.split("TQ820A", 1)[-1], out)

        with open(os.path.join(scratch, ".pyvisarc"), "w") as rc:
            rc.write("[Paths]\nvisa library = %s\n" % library)
        script = ("import pyvisa; rm = pyvisa.ResourceManager(); print(rm.visalib.library_path.path); "
                  "print(rm.open_resource('%s', read_termination='\\n').query('*IDN?'))" % socket)
        default = subprocess.run(["/usr/bin/python3", "-c", script], capture_output=True, text=True, env=env,
                                 timeout=60)
        check("~/.pyvisarc makes it PyVISA's default library",
              default.returncode == 0 and default.stdout.startswith(library) and "TQ820A" in default.stdout,
              repr((default.stdout, default.stderr[-400:])))
    finally:
        simulator.close()

if failures:
    sys.exit("%d failed: %s" % (len(failures), ", ".join(failures)))
print("all passed")
