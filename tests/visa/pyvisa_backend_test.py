#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Debian's PyVISA, unchanged, with libcorvalen-visa as its VISA library
(its default "ivi" backend, ctypes over the C functions): the program's
whole dialogue against tq820-sim over a socket, the serial pty, VXI-11
inst0, a LAN/GPIB gateway and a Prologix-bound GPIB0::9::INSTR, and
list_resources(). Runs in a network namespace of its own (the portmapper's
port 111).

    pyvisa_backend_test.py LIBCORVALEN_VISA TQ820_SIM
"""

import os
import sys
import tempfile
import time
import unittest
import warnings

import pyvisa
from pyvisa import constants

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "sim"))
from simharness import SETUP, check_readings  # noqa: E402
from visa_support import Sim  # noqa: E402

LIBRARY = SIM = None


class Dialogue(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        os.environ["XDG_CONFIG_HOME"] = self.scratch.name  # no aliases file of the user's
        os.environ.pop("CORVALEN_IO_ALIASES", None)
        self.sim = None
        self.manager = pyvisa.ResourceManager(LIBRARY)
        # Every function PyVISA binds is there, so none falls back or fails late.
        self.assertEqual(self.manager.visalib.lib._functions_failed, [])

    def tearDown(self):
        self.manager.close()
        if self.sim:
            self.sim.close()
        self.scratch.cleanup()

    def start(self, *options):
        self.sim = Sim(SIM, "--speed", "20", *options)
        return self.sim

    def run_dialogue(self, resource):
        instrument = self.manager.open_resource(resource, read_termination="\n", write_termination="\n",
                                                timeout=5000)
        identity = instrument.query("*IDN?")
        self.assertIn("TQ820A", identity)
        for command, expected in SETUP[1:]:
            if "?" in command:
                reply = instrument.query(command)
                if expected is not None:
                    self.assertEqual(reply, expected, command)
            else:
                instrument.write(command)
        self.assertEqual(instrument.query_ascii_values("ROUTe:SCAN:SIZE?", converter="d"), [20])
        deadline = time.monotonic() + 30
        counts = []
        while not counts or counts[-1] != 40:
            counts.append(int(instrument.query("DATA:POINTS?")))
            self.assertLess(time.monotonic(), deadline, counts[-5:])
            time.sleep(0.02)
        readings = [instrument.query("DATA:REMove? 1") for _ in range(40)]
        check_readings(self, readings)
        # The error queue: a command out of range, read back.
        instrument.write("TRIGger:COUNt 0")
        self.assertEqual(instrument.query("SYSTem:ERRor?"), '-222,"Data out of range"')
        self.assertEqual(instrument.query("SYSTem:ERRor?"), '+0,"No error"')
        return instrument

    def test_socket(self):
        port = self.start("--tcp", "0").port("TCP")
        instrument = self.run_dialogue("TCPIP0::127.0.0.1::%d::SOCKET" % port)
        self.assertEqual(instrument.resource_name, "TCPIP0::127.0.0.1::%d::SOCKET" % port)
        self.assertEqual(instrument.get_visa_attribute(constants.VI_ATTR_TCPIP_PORT), port)
        self.assertEqual(instrument.get_visa_attribute(constants.VI_ATTR_TCPIP_ADDR), "127.0.0.1")
        self.assertEqual(instrument.interface_type, constants.InterfaceType.tcpip)
        instrument.close()

    def test_serial_pty(self):
        pty = self.start("--pty").lines["PTY"]
        instrument = self.run_dialogue("ASRL%s::INSTR" % pty)
        self.assertEqual(instrument.baud_rate, 9600)
        instrument.baud_rate = 19200  # reopens the port with the new rate
        self.assertEqual(instrument.baud_rate, 19200)
        self.assertEqual(instrument.parity, constants.Parity.none)
        self.assertEqual(instrument.stop_bits, constants.StopBits.one)
        self.assertIn("TQ820A", instrument.query("*IDN?"))
        instrument.close()

    def test_vxi11_instrument(self):
        self.start("--vxi11", "127.0.0.1:0", "--portmapper")
        instrument = self.run_dialogue("TCPIP::127.0.0.1::inst0::INSTR")
        self.assertEqual(instrument.resource_name, "TCPIP0::127.0.0.1::inst0::INSTR")
        instrument.clear()
        instrument.close()

    def test_vxi11_gateway(self):
        self.start("--vxi11", "127.0.0.1:0", "--portmapper", "--gateway")
        self.run_dialogue("TCPIP::127.0.0.1::gpib0,9::INSTR").close()

    def test_prologix_bound_board(self):
        port = self.start("--prologix-tcp", "0").port("PRLGX-TCP")
        os.environ["CORVALEN_IO_ALIASES"] = "GPIB0::INTFC=PRLGX-TCPIP::127.0.0.1::%d::INTFC" % port
        # PyVISA 1.11 writes the secondary address 0 for "none".
        instrument = self.run_dialogue("GPIB0::9::0::INSTR")
        self.assertEqual(instrument.resource_name, "GPIB0::9::INSTR")
        self.assertEqual(instrument.primary_address, 9)
        self.assertEqual(instrument.get_visa_attribute(constants.VI_ATTR_GPIB_SECONDARY_ADDR),
                         constants.VI_NO_SEC_ADDR)
        instrument.close()

    def test_an_alias_and_list_resources(self):
        port = self.start("--tcp", "0").port("TCP")
        os.environ["CORVALEN_IO_ALIASES"] = "bench=TCPIP::127.0.0.1::%d::SOCKET" % port
        os.environ["CORVALEN_VISA_FIND_TIMEOUT"] = "300"
        info = self.manager.resource_info("bench")
        self.assertEqual((info.resource_name, info.alias, info.resource_class),
                         ("TCPIP0::127.0.0.1::%d::SOCKET" % port, "bench", "SOCKET"))
        found = self.manager.list_resources("?*")
        self.assertIn("TCPIP0::127.0.0.1::%d::SOCKET" % port, found)
        self.assertEqual(self.manager.list_resources("TCPIP?*::SOCKET"), ("TCPIP0::127.0.0.1::%d::SOCKET" % port,))
        self.assertEqual(self.manager.list_resources("GPIB?*"), ())
        instrument = self.manager.open_resource("bench", read_termination="\n")
        self.assertIn("TQ820A", instrument.query("*IDN?"))
        instrument.close()

    def test_reads_in_pieces_and_time_outs(self):
        port = self.start("--tcp", "0").port("TCP")
        instrument = self.manager.open_resource("TCPIP0::127.0.0.1::%d::SOCKET" % port, read_termination="\n")
        instrument.write("*IDN?")
        # A reply longer than the chunk comes in pieces: VI_SUCCESS_MAX_CNT
        # until the termination character.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            first, status = self.manager.visalib.read(instrument.session, 5)
            self.assertEqual((len(first), status), (5, constants.StatusCode.success_max_count_read))
            rest, status = self.manager.visalib.read(instrument.session, 4096)
        self.assertEqual(status, constants.StatusCode.success_termination_character_read)
        self.assertIn(b"TQ820A", first + rest)
        self.assertTrue(rest.endswith(b"\n"))
        instrument.timeout = 300
        started = time.monotonic()
        with self.assertRaises(pyvisa.VisaIOError) as raised:
            instrument.read()  # nothing was asked
        self.assertEqual(raised.exception.error_code, constants.StatusCode.error_timeout)
        self.assertLess(time.monotonic() - started, 2.0)
        self.assertEqual(instrument.timeout, 300)
        instrument.close()
        with self.assertRaises(pyvisa.errors.InvalidSession):
            instrument.query("*IDN?")


def main():
    global LIBRARY, SIM
    LIBRARY, SIM = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
