#!/usr/bin/python3
"""Soak run: many runs of tq820-scan against tq820-sim at high speed, each
simulator with one fault drawn at random (seeded) from its fault options.

    soak.py --scan PATH --sim PATH --out DIR [--runs N] [--seed S]

A session is one simulator with its fault and one tq820-scan; "Run" is
clicked again and again in that one process for as long as the fault lets
it live, then "Exit". Every click is one run, and every run must end in one
of two ways:

- listed: the program stays up and its list, read over the accessibility
  bus, is exactly what the simulator sent during the run: the start date
  and time, and one row per "DATA:REMove? 1" reply with that reply's value,
  time stamp and channel, numbered 1 to 40, none lost, none twice; nothing
  on standard error;
- ended: the message boxes the fault calls for (title and text), then the
  end with the status that goes with them (1 after a communication failure,
  with its cause on standard error; 2 after a failed verification check;
  3 after instrument errors), within the bound.

Which of the two a run must take follows from the fault and from the
transcript: which fault fired during the run and, for a garbage reply,
which query it answered. Between runs of one process the soak reads VmRSS,
VmHWM and the open descriptors from /proc; memory must not grow across the
runs of the long first session and descriptors must not grow in any
session. The first session has no fault and many runs for that reason.

Prints one line per session and a table at the end; exits 1 when any run
broke its rule.
"""
import argparse
import collections
import json
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import tq_e2e as h  # noqa: E402
from e2e_case import INSTRUCTIONS, replies_to  # noqa: E402

SPEED = 2000             # a whole scan (15 s of instrument time) in 7.5 ms
CONTROL_TIMEOUT = 10.0   # the control's time-out for one reply
STALL_BOUND = 60.0       # the program's shortest bound for a scan that stops
RUN_BOUND = 20.0         # a run's work without any wait on a fault, generous
END_BOUND = 15.0         # from answering the last message box to the end
GROWTH_LIMIT_KIB = 2048  # VmRSS growth allowed over the long session
HEAD = 7                 # instructions, empty line, date, time, header
READINGS = 40

FAILURE = ("end", 1, h.FAILURE_TITLE, h.FAILURE_TEXT)
WRONG_INSTRUMENT = ("end", 2, h.CHECK_TITLE, "Incorrect instrument addressed; use the correct address.")
WRONG_MODULE = ("end", 2, h.CHECK_TITLE, "Incorrect Module Installed in slot 100!")
NO_DMM = ("end", 2, h.CHECK_TITLE, "DMM not installed; unable to make measurements.")
LISTED = ("listed",)

# Queries whose garbage reply the program reads as a number through the
# control: the conversion fails and the run ends on the failure path.
CONTROL_NUMBERS = {"ROUTe:SCAN:SIZE?", "TRIGger:COUNt?", "ROUTe:CHANnel:DELay? (@101)",
                   "TRIGger:TIMer?", "DATA:POINTS?", "DATA:REMove? 1"}

# Fault kinds and how often each is drawn.
WEIGHTS = {
    "none": 3, "idn": 1, "module": 1, "no-dmm": 1, "dmm-off": 1, "error": 1,
    "reply-delay": 1.5, "close-after": 2, "garbage-reply": 2.5, "no-line-end": 1,
    "stall-at": 0.6, "missing-field": 2,
}

ERRORS = [(-113, "Undefined header"), (-222, "Data out of range"), (-350, "Queue overflow"),
          (-102, "Syntax error"), (-221, "Settings conflict"), (201, "Memory lost")]

# Commands per run with the polls for stored readings at this speed: about
# 150 lines, 130 of them queries (the polls vary from run to run).
LINES_PER_RUN = 150
QUERIES_PER_RUN = 130


class Violation(Exception):
    pass


def number_as_text(value):
    """The program's way of writing a whole error number."""
    return str(value) if value < 0 else " " + str(value)


def plan_session(rng, index, runs_left, long_runs):
    """The fault, its simulator options, the runs to make and a word on it."""
    if index == 0:
        return "none", [], min(long_runs, runs_left), "no fault, many runs"
    kind = rng.choices(list(WEIGHTS), weights=list(WEIGHTS.values()))[0]
    runs = rng.randint(1, 4)
    options = []
    if kind == "idn":
        text = rng.choice(["CORVALEN,TQ821A,MY00000002,1.0", "OTHER,DMM7510,1,1.0", "corvalen,tq820a,1,1",
                           "ACME,TQ820A,X1,2.0", ""])
        options = ["--idn", text]
        runs = runs if "TQ820A" in text else 1
    elif kind == "module":
        text = rng.choice(["", "CORVALEN,TQ712A,0,1.0", "CORVALEN,TQ711A,7,2.0", "0,0,0,0"])
        options = ["--module", text]
        runs = runs if "TQ711A" in text else 1
    elif kind == "no-dmm":
        options, runs = ["--no-dmm"], 1
    elif kind == "dmm-off":
        options = ["--dmm-off"]
    elif kind == "error":
        for number, text in rng.sample(ERRORS, rng.randint(1, 3)):
            options += ["--error", f'{number},"{text}"']
        runs = 1
    elif kind == "reply-delay":
        if rng.random() < 0.2:
            options, runs = ["--reply-delay", str(rng.randint(10500, 11500))], 1
        else:
            options = ["--reply-delay", str(rng.randint(1, 20))]
    elif kind == "close-after":
        options = ["--close-after", str(rng.randint(1, LINES_PER_RUN * runs))]
    elif kind == "garbage-reply":
        options = ["--garbage-reply", str(rng.randint(1, QUERIES_PER_RUN * runs))]
    elif kind == "no-line-end":
        options = ["--no-line-end", str(rng.randint(1, QUERIES_PER_RUN * runs))]
    elif kind == "stall-at":
        stall = rng.randint(1, 50)
        options = ["--stall-at", str(stall)]
        runs = 1 if stall < READINGS else runs
    elif kind == "missing-field":
        options = ["--missing-field", str(rng.randint(1, READINGS * runs))]
    runs = min(runs, runs_left)
    return kind, options, runs, " ".join(repr(o) if (" " in o or not o) else o for o in options)


def fired(events, prefix):
    """Index of the first FAULT event of the run that begins with prefix."""
    for index, event in enumerate(events):
        if event.kind == "FAULT" and event.text.startswith(prefix):
            return index
    return None


def query_before(events, index):
    for event in reversed(events[:index]):
        if event.kind == "RX":
            return event.text
    return None


def expectation(kind, options, events, closed_before):
    """What the run must come to, from its fault and its transcript: LISTED,
    or ("end", status, title, text or None for instrument errors), with the
    seconds the program may take for it."""
    if closed_before:
        return FAILURE, RUN_BOUND
    if kind == "idn" and "TQ820A" not in options[1]:
        return WRONG_INSTRUMENT, RUN_BOUND
    if kind == "module" and "TQ711A" not in options[1]:
        return WRONG_MODULE, RUN_BOUND
    if kind == "no-dmm":
        return NO_DMM, RUN_BOUND
    if kind == "error":
        return ("end", 3, h.CHECK_TITLE, None), RUN_BOUND
    if kind == "reply-delay" and int(options[1]) > CONTROL_TIMEOUT * 1000:
        return FAILURE, CONTROL_TIMEOUT + RUN_BOUND
    if kind == "stall-at" and int(options[1]) < READINGS:
        return FAILURE, STALL_BOUND + RUN_BOUND
    if kind == "no-line-end" and fired(events, "reply to query") is not None:
        return FAILURE, CONTROL_TIMEOUT + RUN_BOUND
    if kind == "missing-field" and fired(events, "reading reply") is not None:
        return FAILURE, RUN_BOUND
    if kind == "close-after":
        at = fired(events, "connection closed after")
        if at is not None and not h.run_complete(events[:at]):
            return FAILURE, RUN_BOUND
    if kind == "garbage-reply":
        at = fired(events, "garbage reply")
        if at is not None:
            query = query_before(events, at)
            if query == "*IDN?":
                return WRONG_INSTRUMENT, RUN_BOUND
            if query == "SYSTem:CTYPe? 100":
                return WRONG_MODULE, RUN_BOUND
            if query == "INSTrument:DMM:INSTalled?":
                return NO_DMM, RUN_BOUND  # a text that is no number reads as 0
            if query in CONTROL_NUMBERS:
                return FAILURE, RUN_BOUND
    return LISTED, RUN_BOUND


def expected_rows(events):
    rows = []
    for number, reply in enumerate(replies_to(events, "DATA:REMove? 1"), start=1):
        value, stamp, channel = reply.split(",", 2)
        rows.append(f"{number}\t{channel}\t{value}\t{stamp}")
    return rows


def check_listing(lines, events, garbled_stamp):
    """The list against what the simulator sent during the run."""
    date = replies_to(events, "SYSTem:DATE?")[-1]
    clock = replies_to(events, "SYSTem:TIME?")[-1]
    head = INSTRUCTIONS + ["", "Start Date (yyyy,mm,dd): " + date, "Start Time (hh,mm,ss): " + clock,
                           "Rdng#\tChannel\tValue\t\tTime"]
    if garbled_stamp:
        # The garbage reply's bytes show as the window decodes them; compare
        # the labels only.
        head[4] = lines[4] if lines[4].startswith("Start Date (yyyy,mm,dd): ") else head[4]
        head[5] = lines[5] if lines[5].startswith("Start Time (hh,mm,ss): ") else head[5]
    if lines[:HEAD] != head:
        raise Violation(f"listing head {lines[:HEAD]!r} is not {head!r}")
    rows = expected_rows(events)
    if len(rows) != READINGS:
        raise Violation(f"the simulator sent {len(rows)} readings, not {READINGS}")
    if lines[HEAD:] != rows:
        missing = [row for row in rows if row not in lines[HEAD:]]
        extra = [row for row in lines[HEAD:] if row not in rows]
        raise Violation(f"{len(lines) - HEAD} rows listed; not listed: {missing[:3]}; "
                        f"not sent: {extra[:3]}")


class TranscriptTail:
    """The simulator's transcript, read on from where the last look ended.
    A stalled scan makes the program poll hundreds of thousands of times;
    a poll answered as the one before is left out, so that memory and the
    time of a look stay small."""

    POLL = "DATA:POINTS?"

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = b""
        self.events = []

    def read(self):
        try:
            with open(self.path, "rb") as transcript:
                transcript.seek(self.offset)
                data = transcript.read()
        except FileNotFoundError:
            return self.events
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        for line in lines:
            stamp, kind, text = (line.decode("ascii", "replace").split(" ", 2) + [""])[:3]
            self.add(h.Event(float(stamp), kind, text))
        return self.events

    def add(self, event):
        kept = self.events
        repeated = (len(kept) >= 3 and kept[-1].kind == "RX" and kept[-1].text == self.POLL
                    and kept[-2].kind == "TX" and kept[-3].kind == "RX" and kept[-3].text == self.POLL
                    and event.kind == "TX" and event.text == kept[-2].text)
        kept.append(event)
        if repeated:
            del kept[-2:]


def proc_status(pid):
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0])
    values["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
    return values


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.records = []       # one per run
        self.sessions = []
        self.violations = []
        self.peak_hwm = 0
        self.long_growth = None

    def run(self, desktop):
        index = 0
        while len(self.records) < self.args.runs:
            kind, options, runs, shown = plan_session(self.rng, index, self.args.runs - len(self.records),
                                                      self.args.long_runs)
            self.session(desktop, index, kind, options, runs, shown)
            index += 1

    def session(self, desktop, index, kind, options, runs, shown):
        name = f"s{index:03}"
        sim_seed = self.rng.randint(1, 10**6)
        sim = h.Simulator(self.args.sim, self.args.out, "--seed", str(sim_seed), *options, speed=SPEED,
                          name=name + "-sim")
        program = h.Program(self.args.scan, desktop, None, self.args.out, name=name + "-scan")
        memory = []
        outcomes = []
        tail = TranscriptTail(sim.transcript_path)
        try:
            sim.start()
            program.resource = sim.tcp_resource
            program.start()
            closed_before = False
            for number in range(runs):
                record = {"session": index, "fault": kind, "options": options, "run": number + 1}
                self.records.append(record)
                try:
                    outcome = self.one_run(desktop, tail, program, kind, options, closed_before, record)
                except (Violation, h.HarnessError) as problem:
                    record["outcome"] = "violation"
                    record["problem"] = str(problem)
                    self.violations.append(record)
                    outcomes.append("VIOLATION")
                    break
                outcomes.append(outcome)
                if outcome != "listed":
                    break
                closed_before = fired(tail.read(), "connection closed after") is not None
                memory.append(proc_status(program.process.pid))
                self.peak_hwm = max(self.peak_hwm, memory[-1]["VmHWM"])
            else:
                since = program.click("Exit")
                status = program.wait_exit(END_BOUND)
                if status != 0:
                    self.violations.append({"session": index, "fault": kind, "options": options,
                                            "problem": f"Exit ended with status {status}"})
            self.check_memory(index, kind, memory)
        finally:
            program.kill()
            sim.stop()
        print(f"{name} seed {sim_seed:>7} {kind:<14} {shown:<40} {' '.join(outcomes)}", flush=True)

    def one_run(self, desktop, tail, program, kind, options, closed_before, record):
        before = len(tail.read())
        # Timed from before the click: the program may finish a fast run
        # before the click tool returns.
        clicked = time.monotonic()
        program.click("Run")
        seen_boxes = []
        # Wait for the first sign of the run's end: a message box, the end of
        # the program, or a whole run in the transcript.
        deadline = clicked + STALL_BOUND + CONTROL_TIMEOUT + 2 * RUN_BOUND
        while True:
            box = self.box(desktop)
            if box or not program.running():
                break
            events = tail.read()[before:]
            if h.run_complete(events):
                expected, bound = expectation(kind, options, events, closed_before)
                if expected == LISTED:
                    break
            if time.monotonic() > deadline:
                raise Violation("the run neither ended nor listed within "
                                f"{deadline - clicked:.0f} s")
            time.sleep(0.02)
        end_time = time.monotonic() - clicked
        if not box and program.running():
            # The transcript shows the whole run: give the program a moment
            # to read the last reply and show a box if it has one to show.
            for _ in range(25):
                box = self.box(desktop)
                if box or not program.running():
                    break
                time.sleep(0.02)
        events = tail.read()[before:]
        expected, bound = expectation(kind, options, events, closed_before)
        record["end_time"] = round(end_time, 3)
        record["expected"] = expected[0] if expected == LISTED else f"exit {expected[1]}"
        if end_time > bound:
            raise Violation(f"the run took {end_time:.1f} s, more than its bound of {bound:.0f} s")

        if expected == LISTED:
            if box or not program.running():
                raise Violation(f"expected the listing, but the program showed {box!r} or ended; "
                                f"stderr: {program.stderr()[-300:]!r}")
            lines = program.list_lines()
            garbled = kind == "garbage-reply" and query_before(
                events, fired(events, "garbage reply") or 0) in ("SYSTem:DATE?", "SYSTem:TIME?")
            check_listing(lines, events, garbled)
            if program.stderr():
                raise Violation(f"standard error after a good run: {program.stderr()[-300:]!r}")
            record["outcome"] = "listed"
            return "listed"

        _, status, title, text = expected
        while True:
            box = box or self.box(desktop, timeout=END_BOUND, program=program, seen=seen_boxes)
            if box is None:
                break
            box_title, window = box
            box_text = h.MessageBox(desktop, window, box_title).text()
            seen_boxes.append((box_title, box_text, window))
            h.MessageBox(desktop, window, box_title).close()
            box = None
        try:
            code = program.wait_exit(END_BOUND)
        except h.HarnessError:
            raise Violation(f"the program did not end after its message boxes {seen_boxes!r}") from None
        record["status"] = code
        if code != status:
            raise Violation(f"exit status {code}, expected {status}; boxes {seen_boxes!r}; "
                            f"stderr: {program.stderr()[-300:]!r}")
        if status == 3:
            self.check_error_boxes(seen_boxes, options)
        else:
            if [(t, x) for t, x, _ in seen_boxes] != [(title, text)]:
                raise Violation(f"message boxes {[(t, x) for t, x, _ in seen_boxes]!r}, "
                                f"expected {[(title, text)]!r}")
        if status == 1 and not program.stderr().strip():
            raise Violation("the failure path wrote no cause to standard error")
        record["outcome"] = f"exit {code}"
        return f"exit {code}"

    @staticmethod
    def check_error_boxes(boxes, options):
        errors = [options[i + 1] for i in range(0, len(options), 2) if options[i] == "--error"]
        if len(boxes) != len(errors):
            raise Violation(f"{len(boxes)} error boxes for {len(errors)} errors: {boxes!r}")
        for (title, text, _), error in zip(boxes, errors):
            number, message = error.split(",", 1)
            if title != h.CHECK_TITLE or f"Error Number: {number_as_text(int(number))}" not in text \
                    or message not in text or "Error in: RunProg" not in text:
                raise Violation(f"error box {title!r} {text!r} does not show {error}")

    @staticmethod
    def box(desktop, timeout=0.0, program=None, seen=()):
        """(title, window) of a message box on the desktop, waiting up to
        timeout seconds for one (or for the program to end) when asked."""
        known = {window for _, _, window in seen}

        def look():
            for title in (h.FAILURE_TITLE, h.CHECK_TITLE):
                fresh = [w for w in desktop.windows(title) if w not in known]
                if fresh:
                    return (title, fresh[0])
            return None
        if timeout <= 0:
            return look()
        found = h.wait_until(lambda: look() or (program is not None and not program.running() and "ended"),
                             timeout, "a message box or the end of the program", interval=0.02)
        return None if found == "ended" else found

    def check_memory(self, index, kind, memory):
        if len(memory) >= 2 and memory[-1]["fds"] > memory[0]["fds"]:
            self.violations.append({"session": index, "fault": kind,
                                    "problem": f"open descriptors grew from {memory[0]['fds']} to "
                                               f"{memory[-1]['fds']} over {len(memory)} runs"})
        if index == 0 and len(memory) >= 5:
            # The first runs settle caches; growth after them is a leak.
            growth = memory[-1]["VmRSS"] - memory[2]["VmRSS"]
            self.long_growth = (growth, len(memory), memory[2]["VmRSS"], memory[-1]["VmRSS"],
                                memory[0]["fds"], memory[-1]["fds"])
            if growth > GROWTH_LIMIT_KIB:
                self.violations.append({"session": index, "fault": kind,
                                        "problem": f"VmRSS grew by {growth} KiB from run 3 to run "
                                                   f"{len(memory)}"})

    def table(self, elapsed):
        runs = collections.Counter(r["fault"] for r in self.records)
        by_kind = collections.defaultdict(collections.Counter)
        worst = collections.defaultdict(float)
        for r in self.records:
            by_kind[r["fault"]][r.get("outcome", "?")] += 1
            worst[r["fault"]] = max(worst[r["fault"]], r.get("end_time", 0.0))
        columns = ["listed", "exit 1", "exit 2", "exit 3", "violation"]
        print()
        print(f"soak: {len(self.records)} runs in {len(set(r['session'] for r in self.records))} sessions, "
              f"seed {self.args.seed}, simulator speed {SPEED}, {elapsed / 60:.1f} min")
        print(f"{'fault':<15}{'runs':>6}" + "".join(f"{c:>11}" for c in columns) + f"{'worst end s':>13}")
        for kind in WEIGHTS:
            if kind not in runs:
                continue
            print(f"{kind:<15}{runs[kind]:>6}" + "".join(f"{by_kind[kind][c]:>11}" for c in columns)
                  + f"{worst[kind]:>13.2f}")
        totals = collections.Counter(r.get("outcome", "?") for r in self.records)
        print(f"{'all':<15}{len(self.records):>6}" + "".join(f"{totals[c]:>11}" for c in columns)
              + f"{max(worst.values(), default=0.0):>13.2f}")
        print(f"peak memory of tq820-scan: VmHWM {self.peak_hwm / 1024:.1f} MiB")
        if self.long_growth:
            growth, count, first, last, fds_first, fds_last = self.long_growth
            print(f"long session: VmRSS {first / 1024:.1f} MiB after run 3, {last / 1024:.1f} MiB after run "
                  f"{count} ({growth:+d} KiB); open descriptors {fds_first} -> {fds_last}")
        for v in self.violations:
            print(f"VIOLATION: session {v['session']} ({v['fault']} {v.get('options', '')}) run "
                  f"{v.get('run', '-')}: {v['problem']}")
        print(f"soak: {totals['listed'] + totals['exit 1'] + totals['exit 2'] + totals['exit 3']} passed, "
              f"{len(self.violations)} failed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scan", required=True, help="path of tq820-scan")
    parser.add_argument("--sim", required=True, help="path of tq820-sim")
    parser.add_argument("--out", required=True, help="folder for transcripts, logs and the run record")
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None, help="default: from the clock, printed")
    parser.add_argument("--long-runs", type=int, default=20, help="runs of the first, fault-free session")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = int(time.time()) % 100000
    os.makedirs(args.out, exist_ok=True)
    print(f"soak: {args.runs} runs, seed {args.seed} (again with --seed {args.seed}); files in {args.out}",
          flush=True)
    soak = Soak(args)
    started = time.monotonic()
    with h.Desktop(args.out) as desktop:
        try:
            soak.run(desktop)
        finally:
            with open(os.path.join(args.out, "runs.json"), "w") as record:
                json.dump({"seed": args.seed, "runs": soak.records, "violations": soak.violations}, record,
                          indent=1)
    soak.table(time.monotonic() - started)
    return 1 if soak.violations else 0


if __name__ == "__main__":
    sys.exit(main())
