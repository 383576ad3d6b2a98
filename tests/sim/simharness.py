# SPDX-License-Identifier: MIT
"""Starts tq820-sim as a process and talks to it the way the measurement
program does. Shared by the process tests."""

import os
import select
import socket
import subprocess
import time

# The measurement program's dialogue up to the start of the scan, with the
# replies a correctly configured instrument gives (None: not checked here).
SETUP = [
    ("*IDN?", None),
    ("SYSTem:CTYPe? 100", "CORVALEN,TQ711A,0,1.0"),
    ("INSTrument:DMM:INSTalled?", "1"),
    ("INSTrument:DMM?", "1"),
    ("ABORt", None),
    ("SYSTem:ERRor?", '+0,"No error"'),
    ("*RST;*OPC?", "1"),
    ("CONFigure:TEMPerature TCouple, J, (@101:110)", None),
    ("UNIT:TEMPerature C, (@101:110)", None),
    ("SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)", None),
    ("CONFigure:VOLTage:DC 10, (@111:120)", None),
    ("SENSe:VOLTage:NPLC 1,(@111:120)", None),
    ("ROUTe:SCAN (@101:120)", None),
    ("ROUTe:CHANnel:DELay 0.25, (@101:120)", None),
    ("TRIGger:COUNt 2", None),
    ("TRIGger:SOURce TIMer", None),
    ("TRIGger:TIMer 10", None),
    ("FORMat:READing:TIME:TYPE RELative", None),
    ("FORMat:READing:TIME ON", None),
    ("FORMat:READing:CHANnel ON", None),
    ("*OPC?", "1"),
    ("ROUTe:SCAN:SIZE?", "+20"),
    ("TRIGger:COUNt?", "+2"),
    ("ROUTe:CHANnel:DELay? (@101)", "+2.50000000E-01"),
    ("TRIGger:TIMer?", "+1.00000000E+01"),
    ("SYSTem:ERRor?", '+0,"No error"'),
    ("INITiate", None),
    ("SYSTem:DATE?", None),
    ("SYSTem:TIME?", None),
]


class Simulator:
    """tq820-sim on a free port; stopped by close()."""

    def __init__(self, binary, *options, transcript=None, tcp=True):
        args = [binary]
        if tcp:
            args += ["--tcp", "0"]
        args += list(options)
        if transcript:
            args += ["--transcript", transcript]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.port = None
        self.pty = None
        wanted = (1 if tcp else 0) + (1 if "--pty" in options else 0)
        for _ in range(wanted):
            line = self.process.stdout.readline().strip()
            if line.startswith("TCP "):
                host, port = line[4:].rsplit(":", 1)
                assert host == "127.0.0.1", line
                self.port = int(port)
            elif line.startswith("PTY "):
                self.pty = line[4:]
            else:
                raise AssertionError("unexpected start-up line %r (stderr %r)" % (line, self.process.stderr.read()))

    def connect(self):
        return Link(socket.create_connection(("127.0.0.1", self.port), timeout=5))

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


class Link:
    """A line-oriented client over a socket or a file descriptor."""

    def __init__(self, sock=None, fd=None):
        self.sock = sock
        self.fd = fd
        self.buffer = b""

    def fileno(self):
        return self.sock.fileno() if self.sock else self.fd

    def send(self, line):
        data = line.encode("latin-1") + b"\n" if isinstance(line, str) else line
        if self.sock:
            self.sock.sendall(data)
        else:
            os.write(self.fd, data)

    def receive_bytes(self, timeout):
        ready, _, _ = select.select([self.fileno()], [], [], timeout)
        if not ready:
            return None
        chunk = self.sock.recv(65536) if self.sock else os.read(self.fd, 65536)
        return chunk

    def read_line(self, timeout=5.0):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no line end after %r" % self.buffer)
            chunk = self.receive_bytes(left)
            if chunk is None:
                continue
            if chunk == b"":
                raise EOFError("closed after %r" % self.buffer)
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.decode("latin-1")

    def ask(self, line, timeout=5.0):
        self.send(line)
        return self.read_line(timeout)

    def close(self):
        if self.sock:
            self.sock.close()
        elif self.fd is not None:
            os.close(self.fd)


def run_program_dialogue(test, link, expected_readings=40):
    """The whole run; returns the readings and every count seen while waiting."""
    for command, expected in SETUP:
        if "?" in command:
            reply = link.ask(command)
            if expected is not None:
                test.assertEqual(reply, expected, command)
        else:
            link.send(command)
    counts = []
    deadline = time.monotonic() + 30
    while True:
        counts.append(int(link.ask("DATA:POINTS?")))
        if counts[-1] == expected_readings:
            break
        test.assertLess(time.monotonic(), deadline, "readings never reached %d" % expected_readings)
    readings = [link.ask("DATA:REMove? 1") for _ in range(expected_readings)]
    test.assertEqual(link.ask("SYSTem:ERRor?"), '+0,"No error"')
    return readings, counts


def check_readings(test, readings):
    for number, reading in enumerate(readings):
        value, stamp, channel = reading.split(",")
        test.assertEqual(int(channel), 101 + number % 20, reading)
        test.assertRegex(value, r"^[+-]\d\.\d{8}E[+-]\d\d$")
        test.assertRegex(stamp, r"^\+\d{9}\.\d{3}$")
        if int(channel) <= 110:
            test.assertTrue(20.0 < float(value) < 24.0, reading)
        else:
            test.assertTrue(abs(float(value)) < 10.0, reading)
    stamps = [float(r.split(",")[1]) for r in readings]
    test.assertEqual(stamps, sorted(stamps))
    # The second pass starts one timer interval after the first.
    test.assertAlmostEqual(stamps[20] - stamps[0], 10.0, places=3)
