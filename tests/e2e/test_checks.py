# SPDX-License-Identifier: MIT
"""The instrument checks of a run, seen from outside: a wrong identity, a
wrong or missing module, no multimeter, and a multimeter that is off."""
import e2e_case
import tq_e2e as h
from e2e_case import END_BOUND, RUN_DIALOGUE, VERIFICATION

IDENTITY = "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0"


class FailedChecks(e2e_case.EndToEndCase):
    def run_into_failed_check(self, options, text, commands, list_before_end):
        """Run with the simulator's options; the check's box shows text,
        the list shows list_before_end while it is up, and the program ends
        with status 2 once it is closed, having sent commands and nothing
        more."""
        program = self.start(*options)
        program.click("Run")
        box = program.next_box(h.CHECK_TITLE, e2e_case.RUN_BOUND)
        self.assertIsNotNone(box, "the program ended without a message")
        self.assertEqual(box.text(), text)
        self.assertEqual(program.list_lines(), list_before_end)
        self.screenshot("failed-check")
        since = box.close()
        self.assert_ends(2, since, END_BOUND)
        self.assert_nothing_after(commands[-1])
        self.assertEqual(self.sim.received(), commands)

    def test_wrong_identity(self):
        # The model in lower case is another instrument.
        self.run_into_failed_check(
            ["--idn", "CORVALEN,tq820a,MY00000001,1.0"],
            "Incorrect instrument addressed; use the correct address.",
            VERIFICATION[:1], e2e_case.INSTRUCTIONS)

    def test_wrong_module(self):
        self.run_into_failed_check(
            ["--module", "CORVALEN,TQ712A,0,1.0"],
            "Incorrect Module Installed in slot 100!",
            VERIFICATION[:2], ["Instrument ID is:", IDENTITY])

    def test_empty_slot(self):
        self.run_into_failed_check(
            ["--module", ""],
            "Incorrect Module Installed in slot 100!",
            VERIFICATION[:2], ["Instrument ID is:", IDENTITY])

    def test_no_multimeter(self):
        self.run_into_failed_check(
            ["--no-dmm"],
            "DMM not installed; unable to make measurements.",
            VERIFICATION[:3], ["Instrument ID is:", IDENTITY])


class MultimeterOff(e2e_case.EndToEndCase):
    def test_multimeter_is_switched_on_and_the_run_goes_on(self):
        program = self.start("--dmm-off")
        program.click("Run")
        events = self.wait_for_runs(1)
        received = h.collapse_polls([e.text for e in events if e.kind == "RX"])
        self.assertEqual(received[:6], VERIFICATION + ["INSTrument:DMM ON", "ABORt"])
        self.assertEqual(received, RUN_DIALOGUE[:4] + ["INSTrument:DMM ON"] + RUN_DIALOGUE[4:])
        self.assertEqual(e2e_case.replies_to(events, "INSTrument:DMM?"), ["0"])
        self.assertEqual(program.list_lines(), e2e_case.expected_listing(events))
        self.exit_program()


if __name__ == "__main__":
    e2e_case.main()
