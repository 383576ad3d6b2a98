# SPDX-License-Identifier: MIT
"""The body of ./scripts/demo: tq820-scan against the simulated instrument.

With a display (DISPLAY set and answering) the window opens for the operator
and the simulator runs at real speed (--fast: 50 times faster); the
simulator stops when the program ends. Without one, the program runs in its
own Xvfb, "Run" is pressed here, and once the instrument has given up its 40
readings the window is saved as demo.png (its path printed), the readings
are printed from the simulator's transcript and the program is ended with
"Exit". Exit status 0 only when the run completed.
"""
import argparse
import os
import subprocess
import sys

import tq_e2e as h

FAST_SPEED = 50
ROWS = 40


def display_answers():
    if not os.environ.get("DISPLAY"):
        return False
    try:
        return subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def readings(events):
    """(number, channel, value, time) of each reading removed, in order."""
    rows = []
    for number, reply in enumerate(_removal_replies(events), start=1):
        fields = reply.split(",", 2)
        if len(fields) == 3:
            value, stamp, channel = fields
            rows.append((number, channel, value, stamp))
    return rows


def _removal_replies(events):
    return [after.text for before, after in zip(events, events[1:])
            if before.kind == "RX" and before.text == "DATA:REMove? 1" and after.kind == "TX"]


def print_readings(events):
    print(f"{'Rdng#':>5}  {'Channel':<7}  {'Value':<16}  Time")
    for number, channel, value, stamp in readings(events):
        print(f"{number:>5}  {channel:<7}  {value:<16}  {stamp}")


def interactive(args):
    speed = FAST_SPEED if args.fast else 1
    os.makedirs(args.out, exist_ok=True)
    with h.Simulator(args.sim, args.out, speed=speed) as sim:
        print(f"tq820-sim: instrument at {sim.tcp_resource}, speed {speed}, "
              f"transcript {sim.transcript_path}")
        print('tq820-scan: "GPIB0::9::INSTR" goes to the simulator; press "Run".', flush=True)
        env = dict(os.environ)
        env["CORVALEN_IO_ALIASES"] = f"{h.DESIGN_ADDRESS}={sim.tcp_resource}"
        status = subprocess.run([args.scan], env=env).returncode
        events = sim.events()
    if h.run_complete(events):
        print_readings(events)
    print(f"tq820-scan ended with status {status}; the simulator is stopped.")
    return status


def headless(args):
    os.makedirs(args.out, exist_ok=True)
    with h.Desktop(args.out) as desktop, \
            h.Simulator(args.sim, args.out, speed=FAST_SPEED) as sim, \
            h.Program(args.scan, desktop, sim.tcp_resource, args.out) as program:
        program.click("Run")
        outcome = h.wait_until(lambda: _outcome(sim, program, desktop), 120,
                               "the run to list its readings", interval=0.05)
        if outcome != "complete":
            shot = desktop.screenshot(os.path.join(args.out, "demo.png"))
            print(f"screenshot: {os.path.abspath(shot)}")
            print(f"demo: the run did not complete: {outcome}", file=sys.stderr)
            return 1
        events = sim.events()
        lines = h.wait_until(lambda: _listing(program), 20, f"{ROWS} rows in the window's list")
        shot = desktop.window_screenshot(program.window, os.path.join(args.out, "demo.png"))
        print(f"screenshot: {os.path.abspath(shot)}")
        print(f"transcript: {os.path.abspath(sim.transcript_path)}")
        print(f"The window lists {len(lines) - 7} readings; the instrument sent:")
        print_readings(events)
        program.click("Exit")
        status = program.wait_exit(30)
    if status != 0:
        print(f"demo: tq820-scan ended with status {status}", file=sys.stderr)
        return 1
    if len(readings(events)) != ROWS:
        print(f"demo: {len(readings(events))} readings instead of {ROWS}", file=sys.stderr)
        return 1
    return 0


def _outcome(sim, program, desktop):
    """How the run went so far: "complete", what stopped it, or None while
    it goes on."""
    if h.run_complete(sim.events()):
        return "complete"
    for title in (h.FAILURE_TITLE, h.CHECK_TITLE):
        if desktop.windows(title):
            return f'the program shows a message box "{title}" (see the screenshot)'
    if not program.running():
        return f"tq820-scan ended with status {program.process.returncode}"
    return None


def _listing(program):
    """The list once it holds the listing head and all rows, else None."""
    lines = program.list_lines()
    return lines if len(lines) == 7 + ROWS and lines[-1].startswith(f"{ROWS}\t") else None


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--fast", action="store_true",
                        help="run the instrument's clock 50 times faster (with a display)")
    parser.add_argument("--headless", action="store_true",
                        help="run in a private X server even when a display answers")
    parser.add_argument("--scan", required=True, help="path of tq820-scan")
    parser.add_argument("--sim", required=True, help="path of tq820-sim")
    parser.add_argument("--out", required=True, help="folder for the transcript and demo.png")
    args = parser.parse_args()
    try:
        if not args.headless and display_answers():
            return interactive(args)
        return headless(args)
    except h.HarnessError as error:
        print(f"demo: the run did not complete: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
