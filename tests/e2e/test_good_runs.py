# SPDX-License-Identifier: MIT
"""Good runs of the real program against the simulated instrument, over TCP
and over a serial pseudo-terminal, and the "Exit" button before and after a
run."""
import time

import e2e_case
import tq_e2e as h
from e2e_case import RUN_DIALOGUE, END_BOUND


class GoodRuns(e2e_case.EndToEndCase):
    def test_run_over_tcp_lists_40_readings_and_a_second_run_repeats_it(self):
        program = self.start()
        program.click("Run")
        events = self.wait_for_runs(1)
        received = [e.text for e in events if e.kind == "RX"]
        self.assertEqual(h.collapse_polls(received), RUN_DIALOGUE)
        counts = [int(reply) for reply in e2e_case.replies_to(events, "DATA:POINTS?")]
        self.assertEqual(counts[-1], 40)
        self.assertTrue(all(count < 40 for count in counts[:-1]), counts)
        self.assertEqual(e2e_case.replies_to(events, "SYSTem:ERRor?"), ['+0,"No error"'] * 3)

        self.assertEqual(program.list_lines(), e2e_case.expected_listing(events))
        self.assertTrue(program.running(), "the program goes on after a run")
        self.screenshot("after-run")

        program.click("Run")
        events = self.wait_for_runs(2)
        received = [e.text for e in events if e.kind == "RX"]
        self.assertEqual(h.collapse_polls(received), RUN_DIALOGUE * 2,
                         "the second run repeats the first, from the identity query on")
        self.assertEqual([e.kind for e in events].count("OPEN"), 1,
                         "the second run uses the open connection")
        self.assertEqual(program.list_lines(), e2e_case.expected_listing(events))
        self.assertTrue(program.running())

        self.exit_program()

    def test_run_over_serial_line_starts_with_remote_and_a_second_of_silence(self):
        program = self.start(pty=True)
        program.click("Run")
        events = self.wait_for_runs(1)
        commands = [e for e in events if e.kind == "RX"]
        self.assertEqual(commands[0].text, "SYSTem:REMote")
        self.assertEqual(h.collapse_polls([e.text for e in commands[1:]]), RUN_DIALOGUE)
        # Measured where the lines arrive: on a busy machine the simulator may
        # take the first line some milliseconds late, which shortens the
        # pause seen. Half a second short, or none at all, still fails.
        pause = commands[1].time - commands[0].time
        self.assertGreaterEqual(pause, 0.9, "the instrument gets a second after SYSTem:REMote")
        self.assertLess(pause, 5.0)
        self.assertEqual(program.list_lines(), e2e_case.expected_listing(events))
        self.screenshot("after-serial-run")
        self.exit_program()


class Exits(e2e_case.EndToEndCase):
    def test_exit_before_any_run_ends_without_touching_the_instrument(self):
        program = self.start()
        self.assertEqual(program.list_lines(), e2e_case.INSTRUCTIONS)
        since = program.click("Exit")
        self.assert_ends(0, since, END_BOUND)
        time.sleep(0.2)  # anything the program sent would be in by now
        kinds = [e.kind for e in self.sim.events()]
        self.assertNotIn("OPEN", kinds, "no connection was made")
        self.assertNotIn("RX", kinds)

    def test_exit_after_a_run_sends_nothing_more(self):
        program = self.start()
        program.click("Run")
        self.wait_for_runs(1)
        self.exit_program()
        self.assert_nothing_after("SYSTem:ERRor?")
        received = self.sim.received()
        self.assertEqual(h.collapse_polls(received), RUN_DIALOGUE)


if __name__ == "__main__":
    e2e_case.main()
