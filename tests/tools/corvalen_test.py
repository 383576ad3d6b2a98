#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""corvalen against the simulator, as a user runs it: each command over a
socket, the serial pty, VXI-11 and a GPIB board bound (by corvalen bind) to
the simulator's Prologix controller; each exit status once; the shell
through a pseudo-terminal and as a batch from a pipe; find --json read by
Python's json. Run it inside tests/support/in-netns: it makes a veth pair
for the VXI-11 broadcast and the portmapper takes port 111.

    corvalen_test.py CORVALEN TQ820_SIM
"""
import json
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time

CORVALEN, SIM = sys.argv[1:3]
NET = "10.231.0.1"
failures = []


def check(what, ok, detail=""):
    print("%s: %s%s" % ("ok" if ok else "FAIL", what, (" (" + str(detail) + ")") if not ok else ""), flush=True)
    if not ok:
        failures.append(what)


def make_network():
    """A veth pair with both ends here: a broadcast reaches the simulator."""
    for command in (["ip", "link", "add", "v0", "type", "veth", "peer", "name", "v1"],
                    ["ip", "addr", "add", NET + "/24", "brd", "+", "dev", "v0"],
                    ["ip", "addr", "add", "10.231.0.2/24", "brd", "+", "dev", "v1"],
                    ["ip", "link", "set", "v0", "up"], ["ip", "link", "set", "v1", "up"]):
        subprocess.run(command, check=True, timeout=10)


def start_simulator():
    process = subprocess.Popen([SIM, "--tcp", "0", "--pty", "--vxi11", NET + ":0", "--portmapper",
                                "--prologix-tcp", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    seen, deadline = b"", time.monotonic() + 10
    while seen.count(b"\n") < 5 and time.monotonic() < deadline:
        if select.select([process.stdout], [], [], 0.2)[0]:
            chunk = os.read(process.stdout.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
    lines = dict(line.partition(" ")[::2] for line in seen.decode().splitlines())
    if len(lines) < 5:
        process.kill()
        sys.exit("FAIL: the simulator did not start: %r" % lines)
    return process, lines


def corvalen(*args, env, stdin=None, timeout=30):
    started = time.monotonic()
    done = subprocess.run([CORVALEN, *args], input=stdin, capture_output=True, text=True, env=env,
                          timeout=timeout)
    done.elapsed = time.monotonic() - started
    return done


def one_error_line(done, *names):
    """Standard error is one line naming each of names."""
    lines = done.stderr.splitlines()
    return len(lines) == 1 and all(name in lines[0] for name in names)


def transports(lines):
    port = lambda kind: lines[kind].rpartition(":")[2]  # noqa: E731
    return [("socket", "TCPIP::127.0.0.1::%s::SOCKET" % port("TCP"), "TCPIP0::127.0.0.1::%s::SOCKET" % port("TCP")),
            ("serial pty", "ASRL%s::INSTR" % lines["PTY"], "ASRL%s::INSTR" % lines["PTY"]),
            ("VXI-11", "TCPIP::%s::inst0::INSTR" % NET, "TCPIP0::%s::inst0::INSTR" % NET),
            ("Prologix-bound board", "GPIB0::9::INSTR", "GPIB0::9::INSTR")]


def check_commands(name, resource, canonical, env, bound):
    query = corvalen("query", resource, "*IDN?", "SYST:ERR?", env=env)
    reply = query.stdout.splitlines()
    check("query over " + name, query.returncode == 0 and len(reply) == 2 and "TQ820A" in reply[0]
          and reply[1] == '+0,"No error"', (query.returncode, query.stdout, query.stderr))
    raw = corvalen("query", "--raw", resource, "*IDN?", env=env)
    hexed = corvalen("query", "--hex", resource, "*IDN?", env=env)
    check("query --raw and --hex over " + name, raw.stdout.endswith("\n") and "\n" not in raw.stdout[:-1]
          and bytes.fromhex(hexed.stdout.replace(" ", "").strip()).decode() == raw.stdout, (raw.stdout, hexed.stdout))
    write = corvalen("write", resource, "*CLS", "*ESE 0", env=env)
    check("write over " + name, write.returncode == 0 and write.stdout == "", write.stderr)
    identify = corvalen("identify", resource, env=env)
    route = identify.stdout.splitlines()
    controller = "controller: PRLGX-TCPIP::127.0.0.1::" if bound else "controller: none"
    check("identify over " + name, identify.returncode == 0 and "TQ820A" in route[0]
          and ("resource:   " + canonical) in identify.stdout and controller in identify.stdout, identify.stdout)
    batch = corvalen("shell", resource, env=env, stdin="*IDN?\n# a comment\n\n:timeout 2000\nSYST:ERR?\n")
    check("shell batch over " + name, batch.returncode == 0 and batch.stdout.splitlines()[1:] == ['+0,"No error"']
          and "TQ820A" in batch.stdout.splitlines()[0], (batch.returncode, batch.stdout, batch.stderr))
    # Each open starts with nothing unread, so a reply is read within one
    # shell; the read command alone meets a silent instrument.
    read = corvalen("shell", resource, env=env, stdin="*IDN?;*OPC\n:read\n")
    alone = corvalen("read", "-t", "300", resource, env=env)
    check("read over " + name, read.returncode == 0 and "TQ820A" in read.stdout and alone.returncode == 3
          and one_error_line(alone, canonical, "300 ms"), (read.stdout, read.stderr, alone.stderr))
    if not bound:
        parsed = corvalen("parse", resource, env=env)
        check("parse of the %s resource" % name, parsed.returncode == 0 and parsed.stdout.splitlines()[0] == canonical,
              parsed.stdout)


def check_exit_statuses(socket, env):
    refused = corvalen("query", "TCPIP::127.0.0.1::1::SOCKET", "*IDN?", env=env)
    malformed = corvalen("parse", "GPIB0::99", env=env)
    usage = corvalen("query", socket, env=env)
    silent = corvalen("read", "-t", "300", socket, env=env)
    broken_alias = corvalen("aliases", env=dict(env, CORVALEN_IO_ALIASES="bench"))
    nothing = corvalen("find", "--mdns", "-t", "1", env=env)
    cases = [
        ("1, a refused connection", refused, 1, ["TCPIP0::127.0.0.1::1::SOCKET", "refused"], 5),
        ("2, a malformed resource", malformed, 2, ["GPIB0::99", "expected GPIB"], 5),
        ("2, a usage error", usage, 2, ["query", "--help"], 5),
        ("2, a malformed alias", broken_alias, 2, ["CORVALEN_IO_ALIASES", "bench"], 5),
        ("3, a silent instrument", silent, 3, [socket.replace("TCPIP::", "TCPIP0::"), "300 ms"], 3),
        ("4, nothing found", nothing, 4, ["nothing found"], 5),
    ]
    for what, done, status, names, bound in cases:
        # find also names why mDNS found nothing, on a line of its own.
        ok_lines = one_error_line(done, *names) if status != 4 else names[0] in done.stderr.splitlines()[-1]
        check("exit status " + what, done.returncode == status and ok_lines and done.elapsed < bound,
              (done.returncode, done.stderr, "%.1f s" % done.elapsed))


def check_find_json(env):
    done = corvalen("find", "--lan", "--json", "-t", "3", env=env)
    try:
        entries = [json.loads(line) for line in done.stdout.splitlines()]
    except ValueError as error:
        entries = [error]
    ours = [e for e in entries if isinstance(e, dict) and NET in e.get("resource", "") and "inst0" in e["resource"]]
    check("find --lan --json: each line is JSON, the simulator among them", done.returncode == 0 and len(ours) == 1
          and "TQ820A" in ours[0]["identity"] and ours[0]["how"] == "LAN broadcast" and done.elapsed < 6,
          (done.returncode, done.stdout, done.stderr))


class Terminal:
    """corvalen shell on a pseudo-terminal, driven key by key."""

    def __init__(self, args, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(CORVALEN, [CORVALEN, "shell", *args], env)
        self.seen = b""

    def expect(self, text, bound=10):
        deadline = time.monotonic() + bound
        while text.encode() not in self.seen and time.monotonic() < deadline:
            if select.select([self.fd], [], [], 0.1)[0]:
                try:
                    self.seen += os.read(self.fd, 4096)
                except OSError:
                    break
        found = text.encode() in self.seen
        self.seen = self.seen[self.seen.find(text.encode()) + len(text):] if found else self.seen
        return found

    def wait_for_line_editing(self, bound=10):
        """Waits until the line editor has the terminal (canonical mode off):
        keys typed before that are flushed by it."""
        deadline = time.monotonic() + bound
        while time.monotonic() < deadline:
            if not termios.tcgetattr(self.fd)[3] & termios.ICANON:
                return True
            time.sleep(0.01)
        return False

    def send(self, keys):
        os.write(self.fd, keys.encode())

    def status(self, bound=10):
        deadline = time.monotonic() + bound
        while time.monotonic() < deadline:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                os.close(self.fd)
                return os.waitstatus_to_exitcode(status)
            time.sleep(0.05)
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        return None


def check_terminal_shell(socket, env, state):
    env = dict(env, TERM="xterm")
    first = Terminal([socket], env)
    ok = first.expect(socket + "> ") and first.wait_for_line_editing()
    first.send("*IDN?\r")
    ok = ok and first.expect("TQ820A")
    first.send(":timeout 700\r")
    first.send(":timeout\r")
    ok = ok and first.expect("700 ms")
    first.send(":quit\r")
    check("shell on a terminal: a query and :timeout", ok and first.status() == 0, first.seen[-300:])
    history = os.path.join(state, "corvalen", "history")
    text = open(history, encoding="ascii", errors="replace").read() if os.path.exists(history) else ""
    check("shell history written to $XDG_STATE_HOME/corvalen/history", "*IDN?" in text and "700" in text, text)
    # Ctrl-P three times: ":quit", ":timeout", then ":timeout 700" again.
    second = Terminal([socket], env)
    ok = second.expect(socket + "> ") and second.wait_for_line_editing()
    second.send("\x10")
    ok = ok and second.expect(":quit")
    for shown in ("timeout", "700"):
        second.send("\x10")
        ok = ok and second.expect(shown)
    second.send("\r:timeout\r")
    ok = ok and second.expect("700 ms")
    # Ctrl-D is end of file only to the line editor: typed while the terminal
    # is still in cooked mode between two lines, it would be lost.
    ok = ok and second.wait_for_line_editing()
    second.send("\x04")
    status = second.status()
    check("shell history read back on the next start", ok and status == 0, repr((ok, status, second.seen[-300:])))


def main():
    make_network()
    simulator, lines = start_simulator()
    with tempfile.TemporaryDirectory() as scratch:
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                   XDG_STATE_HOME=os.path.join(scratch, "state"), HOME=scratch,
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(scratch, "no-bus"))
        for name in ("CORVALEN_IO_ALIASES", "CORVALEN_IO_TRACE"):
            env.pop(name, None)
        try:
            controller = "PRLGX-TCPIP::127.0.0.1::%s::INTFC" % lines["PRLGX-TCP"].rpartition(":")[2]
            bind = corvalen("bind", "GPIB0", controller, env=env)
            listed = corvalen("aliases", env=env)
            check("bind writes the aliases file, aliases lists it with file and line",
                  bind.returncode == 0 and listed.stdout.splitlines() == [
                      "GPIB0::INTFC\t%s\t%s/config/corvalen/aliases.conf:1" % (controller, scratch)],
                  (bind.stdout, bind.stderr, listed.stdout))
            for name, resource, canonical in transports(lines):
                check_commands(name, resource, canonical, env, bound=resource.startswith("GPIB"))
            socket = transports(lines)[0][1]
            check_exit_statuses(socket, env)
            check_find_json(env)
            check_terminal_shell(socket, env, os.path.join(scratch, "state"))
            unbind = corvalen("unbind", "GPIB0", env=env)
            check("unbind removes the binding", unbind.returncode == 0 and corvalen("aliases", env=env).stdout == "",
                  unbind.stderr)
        finally:
            simulator.terminate()
            simulator.wait(10)
    if failures:
        sys.exit("%d failed: %s" % (len(failures), ", ".join(failures)))
    print("all passed")


if __name__ == "__main__":
    main()
