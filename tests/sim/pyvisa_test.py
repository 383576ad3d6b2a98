# SPDX-License-Identifier: MIT
"""The instrument dialogue through PyVISA (pyvisa-py, a TCPIP SOCKET
resource) against the real tq820-sim: a client that no one here wrote.
Usage: pyvisa_test.py PATH-TO-tq820-sim"""

import os
import sys
import time
import unittest

import pyvisa

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simharness import SETUP, Simulator, check_readings  # noqa: E402

BINARY = None


class ThroughPyVisa(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(BINARY, "--speed", "20")
        self.manager = pyvisa.ResourceManager("@py")
        self.instrument = self.manager.open_resource(
            "TCPIP0::127.0.0.1::%d::SOCKET" % self.sim.port,
            read_termination="\n", write_termination="\n", timeout=5000)

    def tearDown(self):
        self.instrument.close()
        self.manager.close()
        self.sim.close()

    def test_the_program_dialogue(self):
        identity = self.instrument.query("*IDN?")
        self.assertIn("TQ820A", identity)
        self.assertEqual(len(identity.split(",")), 4)
        for command, expected in SETUP[1:]:
            if "?" in command:
                reply = self.instrument.query(command)
                if expected is not None:
                    self.assertEqual(reply, expected, command)
            else:
                self.instrument.write(command)
        # PyVISA's own number parsing reads the settings back.
        self.assertEqual(self.instrument.query_ascii_values("ROUTe:SCAN:SIZE?", converter="d"), [20])
        self.assertEqual(self.instrument.query_ascii_values("ROUTe:CHANnel:DELay? (@101:103)"), [0.25] * 3)
        deadline = time.monotonic() + 20
        counts = []
        while not counts or counts[-1] != 40:
            counts.append(int(self.instrument.query("DATA:POINTS?")))
            self.assertLess(time.monotonic(), deadline)
        self.assertGreater(len(set(counts)), 2)
        readings = [self.instrument.query("DATA:REMove? 1") for _ in range(40)]
        check_readings(self, readings)
        self.assertEqual(self.instrument.query("DATA:POINTS?"), "+0")
        self.assertEqual(self.instrument.query("SYSTem:ERRor?"), '+0,"No error"')

    def test_an_error_reads_back_through_the_queue(self):
        self.instrument.write("DATA:REMove? 1")  # nothing stored: no reply, an error
        self.instrument.write("TRIGger:COUNt 0")
        self.assertEqual(self.instrument.query("SYSTem:ERRor?"), '-222,"Data out of range"')
        self.assertEqual(self.instrument.query("SYSTem:ERRor?"), '-222,"Data out of range"')
        self.assertEqual(self.instrument.query("*ESR?"), "+144")


def main():
    global BINARY
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
