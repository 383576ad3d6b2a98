# SPDX-License-Identifier: MIT
"""The real tq820-sim process over TCP and a pseudo-terminal: the program's
whole run checked against the transcript, clients in turn, bad input, and
every fault option. Usage: sim_process_test.py PATH-TO-tq820-sim"""

import os
import random
import re
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simharness import Link, Simulator, check_readings, run_program_dialogue  # noqa: E402

BINARY = None
SPEED = "20"


class WholeRun(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.transcript = os.path.join(self.directory.name, "transcript.txt")

    def tearDown(self):
        self.directory.cleanup()

    def transcript_lines(self):
        with open(self.transcript, encoding="latin-1") as handle:
            return [line.rstrip("\n").split(" ", 2) for line in handle]

    def test_program_run_over_tcp_matches_the_transcript(self):
        sim = Simulator(BINARY, "--speed", SPEED, "--seed", "3", transcript=self.transcript)
        try:
            link = sim.connect()
            readings, counts = run_program_dialogue(self, link)
            link.close()
            check_readings(self, readings)
            # The count rose over time rather than jumping to the end.
            self.assertEqual(counts, sorted(counts))
            self.assertGreater(len(set(counts)), 5)
            time.sleep(0.1)
        finally:
            sim.close()
        lines = self.transcript_lines()
        self.assertEqual(lines[0][1], "OPEN")
        self.assertEqual(lines[-1][1], "CLOSE")
        stamps = [float(line[0]) for line in lines]
        self.assertEqual(stamps, sorted(stamps))
        transmitted = [line[2] for line in lines if line[1] == "TX"]
        self.assertEqual(transmitted[-41:-1], readings)
        received = [line[2] for line in lines if line[1] == "RX"]
        self.assertEqual(received.count("DATA:REMove? 1"), 40)
        self.assertEqual(received.count("DATA:POINTS?"), len(counts))
        # Every query line is followed by its reply line.
        for index, line in enumerate(lines):
            if line[1] == "RX" and line[2].endswith("?"):
                self.assertEqual(lines[index + 1][1], "TX", line)

    def test_program_run_over_a_pty_survives_the_client_reopening(self):
        sim = Simulator(BINARY, "--pty", "--speed", SPEED, transcript=self.transcript, tcp=False)
        try:
            self.assertRegex(sim.pty, r"^/dev/pts/\d+$")
            fd = os.open(sim.pty, os.O_RDWR | os.O_NOCTTY)
            tty.setraw(fd)
            link = Link(fd=fd)
            self.assertEqual(link.ask("SYSTem:REMote;*OPC?"), "1")
            link.close()
            # Nothing echoes and the next client finds the instrument as left.
            fd = os.open(sim.pty, os.O_RDWR | os.O_NOCTTY)
            termios.tcflush(fd, termios.TCIOFLUSH)
            link = Link(fd=fd)
            readings, _ = run_program_dialogue(self, link)
            check_readings(self, readings)
            self.assertIsNone(link.receive_bytes(0.2))
            link.close()
        finally:
            sim.close()

    def test_clients_take_turns_and_share_one_instrument(self):
        sim = Simulator(BINARY)
        try:
            first = sim.connect()
            first.send("TRIGger:COUNt 7")
            second = sim.connect()  # waits until the first has gone
            self.assertIsNone(second.receive_bytes(0.2))
            second.send("TRIG:COUN?")
            self.assertIsNone(second.receive_bytes(0.2))
            self.assertEqual(first.ask("*OPC?"), "1")
            first.close()
            self.assertEqual(second.read_line(), "+7")
            second.close()
        finally:
            sim.close()


class BadInput(unittest.TestCase):
    def test_an_overlong_line_closes_the_connection_and_queues_an_error(self):
        sim = Simulator(BINARY)
        try:
            link = sim.connect()
            link.send(b"A" * (70 * 1024))
            with self.assertRaises((EOFError, ConnectionResetError)):
                link.read_line()
            link.close()
            link = sim.connect()
            self.assertEqual(link.ask("SYST:ERR?"), '-363,"Input buffer overrun"')
            link.close()
        finally:
            sim.close()

    def test_random_bytes_give_errors_and_the_instrument_answers_after(self):
        sim = Simulator(BINARY)
        try:
            link = sim.connect()
            noise = random.Random(5).randbytes(200000).replace(b"?", b"!")
            link.send(noise + b"\n")
            link.send("*CLS")
            self.assertIn("TQ820A", link.ask("*IDN?"))
            self.assertEqual(link.ask("SYST:ERR?"), '+0,"No error"')
            link.close()
        finally:
            sim.close()

    def test_command_line_errors_and_help(self):
        result = subprocess.run([BINARY, "--speed", "zero"], capture_output=True, text=True, timeout=5)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--speed", result.stderr)
        result = subprocess.run([BINARY, "--help"], capture_output=True, text=True, timeout=5)
        self.assertEqual(result.returncode, 0)
        self.assertIn("--missing-field", result.stdout)


class Faults(unittest.TestCase):
    def run_with(self, *options):
        sim = Simulator(BINARY, *options)
        self.addCleanup(sim.close)
        link = sim.connect()
        self.addCleanup(link.close)
        return link

    def test_identity_module_and_dmm(self):
        link = self.run_with("--idn", "OTHER,MODEL9,1,1", "--module", "", "--no-dmm")
        self.assertEqual(link.ask("*IDN?"), "OTHER,MODEL9,1,1")
        self.assertEqual(link.ask("SYSTem:CTYPe? 100"), "OTHER,0,0,0")
        self.assertEqual(link.ask("INSTrument:DMM:INSTalled?"), "0")
        link = self.run_with("--module", "CORVALEN,TQ712A,0,1.0", "--dmm-off")
        self.assertEqual(link.ask("SYSTem:CTYPe? 100"), "CORVALEN,TQ712A,0,1.0")
        self.assertEqual(link.ask("INSTrument:DMM?"), "0")
        link.send("INSTrument:DMM ON")
        self.assertEqual(link.ask("INSTrument:DMM?"), "1")

    def test_errors_queued_at_start(self):
        link = self.run_with("--error", '-113,"Undefined header"', "--error", "+310,System error")
        self.assertEqual(link.ask("SYSTem:ERRor?"), '-113,"Undefined header"')
        self.assertEqual(link.ask("SYSTem:ERRor?"), '+310,"System error"')
        self.assertEqual(link.ask("SYSTem:ERRor?"), '+0,"No error"')

    def test_reply_delay(self):
        link = self.run_with("--reply-delay", "300")
        start = time.monotonic()
        self.assertEqual(link.ask("*OPC?"), "1")
        self.assertGreaterEqual(time.monotonic() - start, 0.3)

    def test_close_after(self):
        link = self.run_with("--close-after", "2")
        self.assertEqual(link.ask("*OPC?"), "1")
        self.assertEqual(link.ask("*OPC?"), "1")
        with self.assertRaises((EOFError, ConnectionResetError, BrokenPipeError)):
            link.ask("*OPC?")

    def test_garbage_and_missing_line_end(self):
        link = self.run_with("--garbage-reply", "2", "--no-line-end", "3")
        self.assertEqual(link.ask("*OPC?"), "1")
        garbage = link.ask("*IDN?")
        self.assertNotIn("TQ820A", garbage)
        self.assertTrue(any(ord(c) > 126 or ord(c) < 32 for c in garbage), repr(garbage))
        with self.assertRaises(TimeoutError):
            link.ask("*IDN?", timeout=0.3)
        self.assertIn("TQ820A", link.buffer.decode())
        link.buffer = b""
        self.assertEqual(link.ask("*OPC?"), "1")

    def test_stall_and_missing_field(self):
        link = self.run_with("--speed", "100", "--stall-at", "5", "--missing-field", "2")
        link.send("ROUT:SCAN (@101:120);:TRIG:COUN 2;:FORM:READ:TIME ON;TIME:TYPE REL;:FORM:READ:CHAN ON;:INIT")
        time.sleep(0.5)  # 50 s of instrument time: the scan would be long done
        self.assertEqual(link.ask("DATA:POINts?"), "+5")
        self.assertEqual(link.ask("DATA:REMove? 1").count(","), 2)
        self.assertEqual(link.ask("DATA:REMove? 1").count(","), 1)
        self.assertEqual(link.ask("DATA:POINts?"), "+3")


def main():
    global BINARY
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
