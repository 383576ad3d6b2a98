# SPDX-License-Identifier: MIT
"""Errors in the instrument's error queue at each of the three checks of a
run: one message box per error, "*CLS", and the end with status 3.

An error at the first check is queued at the simulator's start. For the
later checks the test sends a command the instrument rejects through the
simulator's pty while the program talks over TCP (both reach the same
instrument and error queue), at a moment taken from the transcript; the
replies are slowed so that the moment falls well inside the stage. The
transcript then shows where the error went in, so a missed moment fails
the case rather than passing it.
"""
import e2e_case
import tq_e2e as h
from e2e_case import END_BOUND, RUN_BOUND, RUN_DIALOGUE


class InstrumentErrors(e2e_case.EndToEndCase):
    def answer_boxes(self, expected_texts):
        """Reads and closes one box per expected text; returns the time
        the last was answered."""
        seen = []
        answered = None
        while True:
            box = self.program.next_box(h.CHECK_TITLE, RUN_BOUND, other_than=seen)
            if box is None:
                break
            seen.append(box.window)
            self.assertLessEqual(len(seen), len(expected_texts), "one box too many")
            self.assertEqual(box.text(), expected_texts[len(seen) - 1])
            if len(seen) == 1:
                self.screenshot("first-error")
            answered = box.close()
        self.assertEqual(len(seen), len(expected_texts), "message boxes shown")
        return answered

    def assert_cleared_and_ended(self, answered):
        """After the last box: "*CLS" and the end with status 3, nothing
        sent after it. Returns the commands received."""
        self.assert_ends(3, answered, END_BOUND)
        self.assert_nothing_after("*CLS")
        return h.collapse_polls(self.sim.received())

    def test_two_errors_at_the_first_check(self):
        program = self.start("--error", '-113,"Undefined header"',
                             "--error", '301,"Module not responding"')
        program.click("Run")
        answered = self.answer_boxes([
            'Error in: RunProg\n'
            'Error Number: -113\n'
            'Error Message: -113,"Undefined header"\n',
            'Error in: Error in: RunProg\n'
            'Error Number: -113\n'
            'Error Message: -113,"Undefined header"\n'
            '\n'
            'Error Number:  301\n'
            'Error Message: +301,"Module not responding"\n',
        ])
        received = self.assert_cleared_and_ended(answered)
        self.assertEqual(received, RUN_DIALOGUE[:6] + ["SYSTem:ERRor?"] * 2 + ["*CLS"])

    def test_an_error_during_scan_configuration(self):
        program = self.start_with_injection("--reply-delay", "100")
        program.click("Run")
        self.sim.wait_for(lambda events: "*RST;*OPC?" in received_of(events), RUN_BOUND,
                          "the reset of the configuration stage")
        self.sim.inject("ROUTe:CHANnel:DELay 99, (@101)")
        answered = self.answer_boxes([
            'Error in: Setup\n'
            'Error Number: -222\n'
            'Error Message: -222,"Data out of range"\n',
        ])
        received = self.assert_cleared_and_ended(answered)
        injected = received.index("ROUTe:CHANnel:DELay 99, (@101)")
        self.assertGreater(injected, received.index("*RST;*OPC?"))
        without = received[:injected] + received[injected + 1:]
        self.assertEqual(without, RUN_DIALOGUE[:26] + ["SYSTem:ERRor?", "*CLS"])

    def test_an_error_during_the_listing(self):
        program = self.start_with_injection("--reply-delay", "20")
        program.click("Run")
        self.sim.wait_for(lambda events: "INITiate" in received_of(events), RUN_BOUND,
                          "the start of the scan")
        self.sim.inject("SYSTem:BOGus")
        answered = self.answer_boxes([
            'Error in: Readings\n'
            'Error Number: -113\n'
            'Error Message: -113,"Undefined header"\n',
        ])
        received = self.assert_cleared_and_ended(answered)
        injected = received.index("SYSTem:BOGus")
        self.assertGreater(injected, received.index("INITiate"))
        without = h.collapse_polls(received[:injected] + received[injected + 1:])
        self.assertEqual(without, RUN_DIALOGUE + ["SYSTem:ERRor?", "*CLS"],
                         "all 40 readings were listed before the check found the error")

    def start_with_injection(self, *options):
        """The program on the simulator's TCP port, the pty kept free for
        injecting commands."""
        self.start(*options, pty=True, over_tcp=True)
        return self.program


def received_of(events):
    return [event.text for event in events if event.kind == "RX"]


if __name__ == "__main__":
    e2e_case.main()
