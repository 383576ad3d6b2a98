# SPDX-License-Identifier: MIT
"""Whole runs of the real program through VXI-11: its own address,
"GPIB0::9::INSTR", routed by an alias to the simulator as a LAN instrument
(inst0) and as the instrument behind a LAN/GPIB gateway (gpib0,9). The
program finds the core channel through the portmapper on port 111, so this
group runs inside tests/support/in-netns.

Each run must reach the instrument with exactly the dialogue of a run over a
socket, over one link that the program opened once, and list exactly what
the instrument sent."""
import os

import e2e_case
import tq_e2e as h
from e2e_case import RUN_DIALOGUE


class Vxi11Runs(e2e_case.EndToEndCase):
    def assert_two_good_runs(self, sim_options, resource, device):
        # The I/O library's aliases file from an empty folder, never the user's.
        self.desktop.env.setdefault("XDG_CONFIG_HOME", os.path.join(self.casedir, "config"))
        self.start("--vxi11", "0", "--portmapper", *sim_options, resource=resource)
        for runs in (1, 2):
            self.program.click("Run")
            events = self.wait_for_runs(runs)
            received = [e.text for e in events if e.kind == "RX"]
            self.assertEqual(h.collapse_polls(received), RUN_DIALOGUE * runs,
                             "a TCPIP instrument gets no SYSTem:REMote")
            self.assertEqual(e2e_case.replies_to(events, "SYSTem:ERRor?"),
                             ['+0,"No error"'] * 3 * runs)
            self.assertEqual(self.program.list_lines(), e2e_case.expected_listing(events))
            links = [e.text.rpartition(" ")[2] for e in events if e.kind == "OPEN"]
            self.assertEqual(links, [device], "one link, kept from one run to the next")
        self.screenshot("after-runs")
        self.exit_program()
        closed = self.sim.wait_for(lambda events: any(e.kind == "CLOSE" for e in events), 5,
                                   "the link closed at the program's end")
        self.assertEqual([e.text.rpartition(" ")[2] for e in closed if e.kind == "CLOSE"], [device])
        opened = next(i for i, e in enumerate(closed) if e.kind == "OPEN")
        self.assertEqual([e.text for e in closed[opened:] if e.kind == "FAULT"], [])

    def test_runs_through_an_alias_to_a_lan_instrument(self):
        self.assert_two_good_runs([], "TCPIP::127.0.0.1::inst0::INSTR", "inst0")

    def test_runs_through_an_alias_to_an_instrument_behind_a_gateway(self):
        self.assert_two_good_runs(["--gateway", "--rpc-fragment", "16", "--read-block", "7"],
                                  "TCPIP::127.0.0.1::gpib0,9::INSTR", "gpib0,9")


if __name__ == "__main__":
    e2e_case.main()
