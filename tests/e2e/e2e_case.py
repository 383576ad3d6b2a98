# SPDX-License-Identifier: MIT
"""The common ground of the end-to-end test files: their command line, a
TestCase that gives each case its own desktop, simulator and program, and
what a good run looks like from outside.

Each test file runs as

    python3 test_<group>.py --scan PATH --sim PATH --out DIR [unittest arguments]

and keeps every case's files (transcript, standard error, screenshots) in
DIR/<case>/, which it names in its output.
"""
import argparse
import os
import shutil
import sys
import time
import unittest

import tq_e2e as h

PATHS = {}

INSTRUCTIONS = [
    "Select the I/O type or address.",
    'Then click on "Get Readings" to trigger instrument.',
    "Will take some time.",
]

# A whole run as the instrument receives it, with the polls for stored
# readings shown once.
RUN_DIALOGUE = [
    "*IDN?",
    "SYSTem:CTYPe? 100",
    "INSTrument:DMM:INSTalled?",
    "INSTrument:DMM?",
    "ABORt",
    "SYSTem:ERRor?",
    "*RST;*OPC?",
    "CONFigure:TEMPerature TCouple, J, (@101:110)",
    "UNIT:TEMPerature C, (@101:110)",
    "SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)",
    "CONFigure:VOLTage:DC 10, (@111:120)",
    "SENSe:VOLTage:NPLC 1,(@111:120)",
    "ROUTe:SCAN (@101:120)",
    "ROUTe:CHANnel:DELay 0.25, (@101:120)",
    "TRIGger:COUNt 2",
    "TRIGger:SOURce TIMer",
    "TRIGger:TIMer 10",
    "FORMat:READing:TIME:TYPE RELative",
    "FORMat:READing:TIME ON",
    "FORMat:READing:CHANnel ON",
    "*OPC?",
    "ROUTe:SCAN:SIZE?",
    "TRIGger:COUNt?",
    "ROUTe:CHANnel:DELay? (@101)",
    "TRIGger:TIMer?",
    "SYSTem:ERRor?",
    "INITiate",
    "SYSTem:DATE?",
    "SYSTem:TIME?",
    "DATA:POINTS?",
] + ["DATA:REMove? 1"] * 40 + ["SYSTem:ERRor?"]

VERIFICATION = RUN_DIALOGUE[:4]

# Bounds, generous enough for the sanitizer build on two busy cores.
RUN_BOUND = 60       # one whole run at --speed 50 takes about a second
END_BOUND = 15       # from the last answer to the end of the process
CONTROL_TIMEOUT = 10  # the control's time-out for one reply


def replies_to(events, command):
    """The replies the simulator sent to each time command was received (a
    note about an injected fault may stand between the two)."""
    replies = []
    for index, event in enumerate(events):
        if event.kind != "RX" or event.text != command:
            continue
        for after in events[index + 1:]:
            if after.kind == "TX":
                replies.append(after.text)
            if after.kind in ("TX", "RX"):
                break
    return replies


def expected_listing(events):
    """The list a good run leaves, built from what the simulator sent; the
    rows stop before a reading reply with fewer than two commas."""
    date = replies_to(events, "SYSTem:DATE?")[-1]
    clock = replies_to(events, "SYSTem:TIME?")[-1]
    lines = INSTRUCTIONS + ["", "Start Date (yyyy,mm,dd): " + date,
                            "Start Time (hh,mm,ss): " + clock, "Rdng#\tChannel\tValue\t\tTime"]
    for number, reply in enumerate(replies_to(events, "DATA:REMove? 1")[-40:], start=1):
        if reply.count(",") < 2:
            break
        value, stamp, channel = reply.split(",", 2)
        lines.append(f"{number}\t{channel}\t{value}\t{stamp}")
    return lines


class EndToEndCase(unittest.TestCase):
    """Each case gets its own X server, and starts its own simulator and
    program with start()."""

    def setUp(self):
        self.casedir = os.path.join(PATHS["out"], self.id().split(".", 1)[1])
        shutil.rmtree(self.casedir, ignore_errors=True)
        os.makedirs(self.casedir)
        print(f"\n[{self.id()}] files in {self.casedir}", flush=True)
        self.desktop = h.Desktop(self.casedir)
        self.desktop.start()
        self.addCleanup(self.desktop.close)
        self.sim = None
        self.program = None

    def start(self, *options, pty=False, over_tcp=False, speed=50, resource=None):
        """Starts tq820-sim with options (and a pty with pty=True) and
        tq820-scan routed to resource, or to the simulator: its pty when it
        has one unless over_tcp, else its TCP port. Returns the program."""
        self.sim = h.Simulator(PATHS["sim"], self.casedir, *options, speed=speed, pty=pty)
        self.sim.start()
        self.addCleanup(self.assert_simulator_ended_cleanly)
        if resource is None:
            resource = self.sim.tcp_resource if over_tcp else self.sim.resource
        self.program = h.Program(PATHS["scan"], self.desktop, resource, self.casedir)
        self.addCleanup(self.program.kill)
        self.program.start()
        return self.program

    def assert_simulator_ended_cleanly(self):
        """The simulator stops on request with status 0; under the
        sanitizers a leak or fault it had would show here."""
        status = self.sim.stop()
        self.assertEqual(status, 0, f"tq820-sim ended with {status}:\n{self.sim.stderr()}")

    def screenshot(self, name):
        path = self.desktop.screenshot(os.path.join(self.casedir, name + ".png"))
        print(f"screenshot: {path}", flush=True)
        return path

    def wait_for_runs(self, runs=1):
        return self.sim.wait_for(lambda events: h.run_complete(events, runs), RUN_BOUND * runs,
                                 f"{runs} complete run(s) in the transcript")

    def assert_ends(self, status, since, bound):
        """The program ends with status within bound seconds of since."""
        code = self.program.wait_exit(bound + 5)
        elapsed = time.monotonic() - since
        self.assertEqual(code, status, f"exit status; standard error:\n{self.program.stderr()}")
        self.assertLessEqual(elapsed, bound, "the program took too long to end")
        return elapsed

    def assert_nothing_after(self, last):
        """The last command the instrument received was last, and the
        connection has closed."""
        events = self.sim.wait_for(lambda events: any(e.kind == "CLOSE" for e in events),
                                   END_BOUND, "the connection to close")
        received = [e.text for e in events if e.kind == "RX"]
        self.assertEqual(received[-1], last, "commands received:\n" + "\n".join(received))

    def exit_program(self):
        since = self.program.click("Exit")
        self.assert_ends(0, since, END_BOUND)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--scan", required=True, help="path of tq820-scan")
    parser.add_argument("--sim", required=True, help="path of tq820-sim")
    parser.add_argument("--out", required=True, help="folder for each case's files")
    parser.add_argument("--corvalen", help="path of the corvalen tool, for the cases that use it")
    known, rest = parser.parse_known_args()
    PATHS.update(scan=known.scan, sim=known.sim, out=known.out, corvalen=known.corvalen)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
