# SPDX-License-Identifier: MIT
"""Whole runs of the real program at its own address, "GPIB0::9::INSTR",
with GPIB board 0 bound to a controller the simulator plays: a Prologix
GPIB-ETHERNET over TCP, a Prologix GPIB-USB over a pseudo-terminal, and a
VXI-11 LAN/GPIB gateway (run this group as GatewayBoard inside
tests/support/in-netns: the gateway's portmapper takes port 111).

Each run must reach the instrument with exactly the dialogue of a run over a
socket: no "SYSTem:REMote" (the line to the instrument is GPIB), no read
that finds nothing to say, no reply left unread, and the listing built from
what the instrument sent."""
import os
import subprocess

import e2e_case
import tq_e2e as h
from e2e_case import PATHS, RUN_DIALOGUE


class BusSimulator(h.Simulator):
    """tq820-sim with the transports given in options; start-up lines are
    kept by kind ("PRLGX-TCP", "PRLGX-PTY", "VXI11", "PORTMAPPER")."""

    def __init__(self, path, workdir, *options, wanted=()):
        super().__init__(path, workdir, *options)
        self.wanted = list(wanted)
        self.where = {}

    def start(self, timeout=20):
        command = [self.path, "--speed", str(self.speed), "--transcript",
                   self.transcript_path] + self.options
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=stderr)
        for _ in self.wanted:
            line = h._read_line(self.process.stdout.fileno(), timeout, "tq820-sim's start-up lines")
            kind, _, where = line.partition(" ")
            self.where[kind] = where
        missing = [kind for kind in self.wanted if kind not in self.where]
        if missing:
            raise h.HarnessError(f"tq820-sim did not report {missing}: {self.where}")


class BoardCase(e2e_case.EndToEndCase):
    def start_bound(self, sim_options, wanted, binding):
        """Starts the simulator and the program with GPIB0 bound by binding(where)."""
        self.sim = BusSimulator(PATHS["sim"], self.casedir, *sim_options, wanted=wanted)
        self.sim.start()
        self.addCleanup(self.assert_simulator_ended_cleanly)
        aliases = "GPIB0::INTFC=" + binding(self.sim.where)
        print(f"CORVALEN_IO_ALIASES={aliases}", flush=True)
        self.program = h.Program(PATHS["scan"], self.desktop, h.DESIGN_ADDRESS, self.casedir,
                                 aliases=aliases)
        self.addCleanup(self.program.kill)
        self.program.start()
        return self.program

    def assert_good_gpib_run(self):
        self.program.click("Run")
        events = self.wait_for_runs(1)
        received = [e.text for e in events if e.kind == "RX"]
        self.assertNotIn("SYSTem:REMote", received, "a GPIB instrument is remote through REN")
        self.assertEqual(h.collapse_polls(received), RUN_DIALOGUE)
        self.assertEqual(e2e_case.replies_to(events, "SYSTem:ERRor?"), ['+0,"No error"'] * 3,
                         "no read found the instrument with nothing to say, none was cut short")
        self.assertEqual(self.program.list_lines(), e2e_case.expected_listing(events))
        self.screenshot("after-run")
        self.exit_program()
        return events


class PrologixBoards(BoardCase):
    def assert_clean_bus(self, events):
        """The controller was set up as the manual asks before the first
        command, and nothing the program sent went astray on the bus."""
        first = next(i for i, e in enumerate(events) if e.kind == "RX")
        setup = [e.text for e in events[:first] if e.kind == "GPIB"]
        self.assertIn("++auto 0", setup, "read-after-write off, or every command gives -420")
        self.assertIn("++addr 9", setup)
        notes = [e.text for e in events if e.kind == "GPIB" and not e.text.startswith("++")]
        self.assertEqual([n for n in notes if "ignored" in n or "no device" in n
                          or "-42" in n or "-41" in n], [], "the bus as the controller saw it")

    def test_run_through_prologix_over_tcp(self):
        self.start_bound(["--prologix-tcp", "0"], ["PRLGX-TCP"],
                         lambda where: "PRLGX-TCPIP::127.0.0.1::{}::INTFC".format(
                             where["PRLGX-TCP"].rpartition(":")[2]))
        self.assert_clean_bus(self.assert_good_gpib_run())

    def test_run_through_prologix_over_a_serial_line(self):
        self.start_bound(["--prologix-pty"], ["PRLGX-PTY"],
                         lambda where: f"PRLGX-ASRL{where['PRLGX-PTY']}::INTFC")
        self.assert_clean_bus(self.assert_good_gpib_run())


class BoundByTheTool(BoardCase):
    """corvalen bind writes the aliases file; the program, with no aliases
    in its environment, reads the binding from there for a whole run."""

    def test_run_with_the_board_bound_by_corvalen_bind(self):
        if not PATHS["corvalen"]:
            self.skipTest("no --corvalen given")
        self.sim = BusSimulator(PATHS["sim"], self.casedir, "--prologix-tcp", "0", wanted=["PRLGX-TCP"])
        self.sim.start()
        self.addCleanup(self.assert_simulator_ended_cleanly)
        controller = "PRLGX-TCPIP::127.0.0.1::{}::INTFC".format(self.sim.where["PRLGX-TCP"].rpartition(":")[2])
        env = dict(self.desktop.env)
        env.pop("CORVALEN_IO_ALIASES", None)
        bind = subprocess.run([PATHS["corvalen"], "bind", "GPIB0", controller], env=env, capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(bind.returncode, 0, bind.stderr)
        with open(os.path.join(env["XDG_CONFIG_HOME"], "corvalen", "aliases.conf"), encoding="utf-8") as written:
            self.assertIn("GPIB0::INTFC=" + controller, written.read().splitlines())
        self.program = h.Program(PATHS["scan"], self.desktop, h.DESIGN_ADDRESS, self.casedir, aliases="")
        self.addCleanup(self.program.kill)
        self.program.start()
        self.assert_good_gpib_run()


class GatewayBoard(BoardCase):
    def test_run_through_a_vxi11_gateway(self):
        self.start_bound(["--vxi11", "127.0.0.1:0", "--portmapper", "--gateway"],
                         ["VXI11", "PORTMAPPER"],
                         lambda where: "TCPIP::127.0.0.1::gpib0::INTFC")
        self.assert_good_gpib_run()


if __name__ == "__main__":
    e2e_case.main()
