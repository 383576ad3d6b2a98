# SPDX-License-Identifier: MIT
"""Communication failures during a run: nothing listening at the address, the
connection closed mid-listing, a reply that never comes, a malformed reading
reply. Each shows the one failure message, ends with status 1 and names its
cause on standard error, well within the control's time-out plus a few
seconds."""
import time

import e2e_case
import tq_e2e as h
from e2e_case import CONTROL_TIMEOUT, END_BOUND, RUN_BOUND, RUN_DIALOGUE

HEAD_LINES = 7  # instructions, empty line, start date and time, header


class CommunicationFailures(e2e_case.EndToEndCase):
    def expect_failure(self, bound, cause):
        """The failure message within bound seconds, a screenshot of it, the
        end with status 1 once it is answered, and cause on standard error.
        Returns the seconds until the message and the list as it stood."""
        started = time.monotonic()
        box = self.program.next_box(h.FAILURE_TITLE, bound + 5)
        self.assertIsNotNone(box, "the program ended without its failure message")
        shown = time.monotonic() - started
        self.assertLessEqual(shown, bound, "the failure message came too late")
        self.assertEqual(box.text(), h.FAILURE_TEXT)
        lines = self.program.list_lines()
        self.screenshot("failure-message")
        answered = box.close()
        self.assert_ends(1, answered, END_BOUND)
        self.assertIn(cause, self.program.stderr())
        return shown, lines

    def wait_for_removals(self, count):
        self.sim.wait_for(lambda events: received_of(events).count("DATA:REMove? 1") >= count,
                          RUN_BOUND, f"{count} readings asked for")

    def assert_rows_as_sent(self, lines, at_least):
        """The rows listed before the failure are the readings sent."""
        rows = lines[HEAD_LINES:]
        self.assertGreaterEqual(len(rows), at_least)
        self.assertLess(len(rows), 40)
        expected = e2e_case.expected_listing(self.sim.events())
        self.assertEqual(lines, expected[:HEAD_LINES + len(rows)])

    def test_nothing_listening_at_the_address(self):
        port = h.free_tcp_port()
        program = self.start(resource=f"TCPIP::127.0.0.1::{port}::SOCKET")
        program.click("Run")
        self.expect_failure(END_BOUND, "Connection refused")
        self.assertEqual(self.sim.events(), [], "the simulator saw nothing")

    def test_connection_closed_mid_listing(self):
        program = self.start("--reply-delay", "30")
        program.click("Run")
        self.wait_for_removals(10)
        self.sim.stop()
        _, lines = self.expect_failure(END_BOUND, "connection closed by the instrument")
        self.assert_rows_as_sent(lines, 9)

    def test_reply_that_never_comes(self):
        program = self.start("--reply-delay", "30")
        program.click("Run")
        self.wait_for_removals(10)
        self.sim.freeze()
        shown, lines = self.expect_failure(CONTROL_TIMEOUT + 5, "no reply within")
        self.assertGreaterEqual(shown, CONTROL_TIMEOUT - 0.5,
                                "the program gave the instrument its whole time-out")
        self.assert_rows_as_sent(lines, 9)

    def test_malformed_reading_reply(self):
        # The fifth reading comes without its channel: one comma only.
        program = self.start("--missing-field", "5")
        program.click("Run")
        _, lines = self.expect_failure(RUN_BOUND, "fewer than two commas")
        self.assertEqual(len(lines), HEAD_LINES + 4, "the four good rows stay")
        self.assert_rows_as_sent(lines, 4)
        self.assert_nothing_after("DATA:REMove? 1")
        received = h.collapse_polls(self.sim.received())
        self.assertEqual(received, RUN_DIALOGUE[:-41] + ["DATA:REMove? 1"] * 5)
        fifth = e2e_case.replies_to(self.sim.events(), "DATA:REMove? 1")[4]
        self.assertEqual(fifth.count(","), 1, fifth)


def received_of(events):
    return [event.text for event in events if event.kind == "RX"]


if __name__ == "__main__":
    e2e_case.main()
