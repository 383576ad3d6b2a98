#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Soak run: many runs of tq820-scan against tq820-sim at high speed, each
simulator with a transport and one fault drawn at random (seeded).

    soak.py --scan PATH --sim PATH --out DIR [--runs N] [--seed S]
            [--transports LIST] [--quick]

The transports: a raw socket, a serial pseudo-terminal, VXI-11 to inst0 and
to a LAN/GPIB gateway bound as GPIB board 0, and a Prologix controller over
TCP and over a pseudo-terminal, also bound as board 0. The VXI-11 ones need
port 111 for the portmapper: run the soak in tests/support/in-netns. Each
transport is drawn in turn, in a shuffled order, so that all get their share;
a fault is drawn only for the transports it belongs to.

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
runs of the long sessions and descriptors must not grow in any session. The
first session on each transport has no fault and many runs for that reason.

Prints one line per session and a table at the end; exits 1 when any run
broke its rule.
"""
import argparse
import collections
import json
import os
import random
import subprocess
import sys
import tempfile
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

VXI11 = ("vxi11", "vxi11-gateway")
PROLOGIX = ("prologix-tcp", "prologix-pty")
TRANSPORTS = ("socket", "serial") + VXI11 + PROLOGIX

# Fault kinds and how often each is drawn, for the transports it belongs to.
WEIGHTS = {
    "none": 3, "idn": 1, "module": 1, "no-dmm": 1, "dmm-off": 1, "error": 1,
    "reply-delay": 1.5, "close-after": 2, "garbage-reply": 2.5, "no-line-end": 1,
    "stall-at": 0.6, "missing-field": 2,
    # VXI-11: replies in record fragments down to one byte, device_read in
    # small blocks, a device_read with REQCNT and no data, an RPC record mark
    # that lies about its length, a link that dies between device_write and
    # device_read.
    "rpc-fragment": 1.5, "read-block": 1, "empty-read": 1.5, "lying-record": 1.5, "drop-link": 1.5,
    # Prologix: a ++read that reads nothing, one answered past the read
    # time-out, a connection lost halfway through a reply.
    "drop-read": 1.5, "late-read": 1.5, "cut-read": 1.5,
}
ONLY_ON = {kind: VXI11 for kind in ("rpc-fragment", "read-block", "empty-read", "lying-record", "drop-link")}
ONLY_ON.update({kind: PROLOGIX for kind in ("drop-read", "late-read", "cut-read")})
# Faults that end a run only after a control time-out or the program's
# stall bound: left out of a quick soak.
SLOW = ("reply-delay", "no-line-end", "stall-at", "late-read")

ERRORS = [(-113, "Undefined header"), (-222, "Data out of range"), (-350, "Queue overflow"),
          (-102, "Syntax error"), (-221, "Settings conflict"), (201, "Memory lost")]

# Commands per run with the polls for stored readings at this speed: about
# 150 lines, 130 of them queries, over a socket or a serial line (the polls
# vary from run to run); VXI-11 and Prologix take longer per poll, so fewer.
LINES_PER_RUN = 150
QUERIES_PER_RUN = 130
SLOWER_POLLS = {"vxi11": 80, "vxi11-gateway": 80, "prologix-tcp": 90, "prologix-pty": 90}


class Violation(Exception):
    pass


def number_as_text(value):
    """The program's way of writing a whole error number."""
    return str(value) if value < 0 else " " + str(value)


def faults_for(transport, quick):
    return [kind for kind in WEIGHTS
            if transport in ONLY_ON.get(kind, TRANSPORTS) and not (quick and kind in SLOW)]


def plan_session(rng, long_session, runs_left, long_runs, transport="socket", quick=False):
    """The fault, its simulator options, the runs to make and a word on it."""
    if long_session:
        return "none", [], min(long_runs, runs_left), "no fault, many runs"
    kinds = faults_for(transport, quick)
    # A quick soak has few sessions: let the transports' own faults come up.
    weights = [WEIGHTS[k] * (4 if quick and k in ONLY_ON else 1) for k in kinds]
    kind = rng.choices(kinds, weights=weights)[0]
    lines = SLOWER_POLLS.get(transport, LINES_PER_RUN)
    queries = lines - (LINES_PER_RUN - QUERIES_PER_RUN)
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
        options = ["--close-after", str(rng.randint(1, lines * runs))]
    elif kind == "garbage-reply":
        options = ["--garbage-reply", str(rng.randint(1, queries * runs))]
    elif kind == "no-line-end":
        options = ["--no-line-end", str(rng.randint(1, queries * runs))]
    elif kind == "stall-at":
        stall = rng.randint(1, 50)
        options = ["--stall-at", str(stall)]
        runs = 1 if stall < READINGS else runs
    elif kind == "missing-field":
        options = ["--missing-field", str(rng.randint(1, READINGS * runs))]
    elif kind == "rpc-fragment":
        options = ["--rpc-fragment", str(rng.choice([1, 1, 1, 2, 3, 4, 5, 7]))]
    elif kind == "read-block":
        options = ["--read-block", str(rng.randint(1, 16))]
    elif kind == "empty-read":
        options = ["--vxi11-empty-read", str(rng.randint(1, queries * runs))]
    elif kind == "lying-record":
        # A run's RPC replies: one per command and one per read.
        options = ["--vxi11-lying-record", str(rng.randint(1, (lines + queries) * runs))]
    elif kind == "drop-link":
        options = ["--vxi11-drop-link", str(rng.randint(1, lines * runs))]
    elif kind in ("drop-read", "late-read", "cut-read"):
        options = ["--prologix-" + kind, str(rng.randint(1, queries * runs))]
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


def expectation(kind, options, events, closed_before, transport="socket"):
    """What the run must come to, from its fault, its transport and its
    transcript: LISTED, or ("end", status, title, text or None for
    instrument errors), with the seconds the program may take for it."""
    if closed_before:
        return FAILURE, RUN_BOUND
    # Faults of the new transports. Whatever breaks the framing (a lying
    # record mark, a dead link, a reply cut off with the connection) must
    # end on the failure path; a reply that comes in pieces, late, or after
    # an empty read must still be listed exactly. A late Prologix answer is
    # still being made when the read times out: the instrument holds off the
    # handshake without an error, and the control's next ++read takes it.
    if kind == "lying-record" and fired(events, "VXI-11: the record mark") is not None:
        return FAILURE, CONTROL_TIMEOUT + RUN_BOUND
    if kind == "drop-link" and fired(events, "VXI-11: link") is not None:
        return FAILURE, RUN_BOUND
    if kind == "cut-read" and fired(events, "connection lost halfway") is not None:
        return FAILURE, RUN_BOUND
    if kind in ("drop-read", "late-read"):
        return LISTED, CONTROL_TIMEOUT + RUN_BOUND
    # A connection closed by the instrument's session takes the reply to its
    # last command with it on VXI-11 (the reply waits for a device_read) and
    # on Prologix (it waits for a ++read).
    if kind == "close-after" and transport in VXI11 + PROLOGIX \
            and fired(events, "connection closed after") is not None:
        return FAILURE, RUN_BOUND
    # VXI-11's END marks the end of a reply without its line end.
    if kind == "no-line-end" and transport in VXI11:
        return LISTED, RUN_BOUND
    if kind == "idn" and not options[1]:
        # An empty reply is no reply: the simulator sends nothing, and the
        # control's time-out ends the run.
        return FAILURE, CONTROL_TIMEOUT + RUN_BOUND
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
    targets = []
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            targets.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass  # closed meanwhile
    values["fds"] = len(targets)
    values["fd_targets"] = targets
    return values


def transport_options(transport):
    """The simulator's options for a transport and the start-up lines it
    prints for them."""
    return {
        "socket": (["--tcp", "0"], ["TCP"]),
        "serial": (["--pty"], ["PTY"]),
        "vxi11": (["--vxi11", "127.0.0.1:0", "--portmapper"], ["VXI11", "PORTMAPPER"]),
        "vxi11-gateway": (["--vxi11", "127.0.0.1:0", "--portmapper", "--gateway"], ["VXI11", "PORTMAPPER"]),
        "prologix-tcp": (["--prologix-tcp", "0"], ["PRLGX-TCP"]),
        "prologix-pty": (["--prologix-pty"], ["PRLGX-PTY"]),
    }[transport]


def aliases_for(transport, where):
    """CORVALEN_IO_ALIASES that take the program's own address,
    "GPIB0::9::INSTR", to the simulator: an alias of the address for the
    socket, serial and VXI-11 instruments, a binding of GPIB board 0 for a
    gateway or a Prologix controller."""
    port = where.get("TCP", where.get("PRLGX-TCP", "")).rpartition(":")[2]
    return {
        "socket": f"{h.DESIGN_ADDRESS}=TCPIP::127.0.0.1::{port}::SOCKET",
        "serial": f"{h.DESIGN_ADDRESS}=ASRL{where.get('PTY')}::INSTR",
        "vxi11": f"{h.DESIGN_ADDRESS}=TCPIP::127.0.0.1::inst0::INSTR",
        "vxi11-gateway": "GPIB0::INTFC=TCPIP::127.0.0.1::gpib0::INTFC",
        "prologix-tcp": f"GPIB0::INTFC=PRLGX-TCPIP::127.0.0.1::{port}::INTFC",
        "prologix-pty": f"GPIB0::INTFC=PRLGX-ASRL{where.get('PRLGX-PTY')}::INTFC",
    }[transport]


class TransportSimulator(h.Simulator):
    """tq820-sim on the transport's own options only (no TCP port beside
    them); its start-up lines are kept by kind in where."""

    def __init__(self, path, workdir, transport, *options, speed, name):
        super().__init__(path, workdir, *options, speed=speed, name=name)
        self.transport_options, self.wanted = transport_options(transport)
        self.where = {}

    def start(self, timeout=20):
        command = [self.path, "--speed", str(self.speed), "--transcript", self.transcript_path] \
            + self.transport_options + self.options
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=stderr)
        for _ in self.wanted:
            line = h._read_line(self.process.stdout.fileno(), timeout, "tq820-sim's start-up lines")
            kind, _, where = line.partition(" ")
            self.where[kind] = where
        if sorted(self.where) != sorted(self.wanted):
            raise h.HarnessError(f"tq820-sim reported {self.where}, not {self.wanted}")


def new_descriptors(first, last):
    """What the descriptors open at the end point to, less those at the start."""
    left = collections.Counter(last["fd_targets"]) - collections.Counter(first["fd_targets"])
    return sorted(left.elements())


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.records = []       # one per run
        self.sessions = []
        self.violations = []
        self.peak_hwm = 0
        self.long_growth = {}   # transport -> figures of its long session

    def transport_order(self):
        """Every transport once per round, in a shuffled order."""
        while True:
            round_ = list(self.args.transports)
            self.rng.shuffle(round_)
            yield from round_

    def run(self, desktop):
        index = 0
        order = self.transport_order()
        while len(self.records) < self.args.runs:
            transport = next(order)
            long_session = self.args.long_runs > 0 and index < len(self.args.transports)
            kind, options, runs, shown = plan_session(self.rng, long_session, self.args.runs - len(self.records),
                                                      self.args.long_runs, transport, self.args.quick)
            self.session(desktop, index, transport, kind, options, runs, shown, long_session)
            index += 1

    def session(self, desktop, index, transport, kind, options, runs, shown, long_session=False):
        name = f"s{index:03}"
        sim_seed = self.rng.randint(1, 10**6)
        sim = TransportSimulator(self.args.sim, self.args.out, transport, "--seed", str(sim_seed), *options,
                                 speed=SPEED, name=name + "-sim")
        memory = []
        outcomes = []
        tail = TranscriptTail(sim.transcript_path)
        program = None
        try:
            sim.start()
            program = h.Program(self.args.scan, desktop, h.DESIGN_ADDRESS, self.args.out, name=name + "-scan",
                                aliases=aliases_for(transport, sim.where))
            program.start()
            closed_before = False
            for number in range(runs):
                record = {"session": index, "transport": transport, "fault": kind, "options": options,
                          "run": number + 1}
                self.records.append(record)
                try:
                    outcome = self.one_run(desktop, tail, program, kind, options, closed_before, record,
                                           transport)
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
                    self.violations.append({"session": index, "transport": transport, "fault": kind,
                                            "options": options, "problem": f"Exit ended with status {status}"})
            self.check_memory(index, transport, kind, memory, long_session)
        finally:
            if program is not None:
                program.kill()
            sim.stop()
        print(f"{name} seed {sim_seed:>7} {transport:<13} {kind:<13} {shown:<32} {' '.join(outcomes)}",
              flush=True)

    def one_run(self, desktop, tail, program, kind, options, closed_before, record, transport="socket"):
        before = len(tail.read())
        record["first_event"] = before
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
                expected, bound = expectation(kind, options, events, closed_before, transport)
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
        expected, bound = expectation(kind, options, events, closed_before, transport)
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
            errors = [options[i + 1] for i in range(0, len(options), 2) if options[i] == "--error"]
            self.check_error_boxes(seen_boxes, errors)
        else:
            if [(t, x) for t, x, _ in seen_boxes] != [(title, text)]:
                raise Violation(f"message boxes {[(t, x) for t, x, _ in seen_boxes]!r}, "
                                f"expected {[(title, text)]!r}")
        if status == 1 and not program.stderr().strip():
            raise Violation("the failure path wrote no cause to standard error")
        record["outcome"] = f"exit {code}"
        return f"exit {code}"

    @staticmethod
    def check_error_boxes(boxes, errors):
        """The boxes against the errors ("NUM,TEXT") the instrument queued."""
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

    def check_memory(self, index, transport, kind, memory, long_session):
        # One eventfd that comes once, after the first run, is a thread Qt or
        # GLib starts on first need (the accessibility bus is read then);
        # anything else, or more than that, is growth.
        settling = new_descriptors(memory[0], memory[-1]) == ["anon_inode:[eventfd]"] if memory else False
        if len(memory) >= 2 and memory[-1]["fds"] > memory[0]["fds"] and not settling:
            self.violations.append({"session": index, "transport": transport, "fault": kind,
                                    "problem": f"open descriptors grew from {memory[0]['fds']} to "
                                               f"{memory[-1]['fds']} over {len(memory)} runs; new: "
                                               f"{new_descriptors(memory[0], memory[-1])}"})
        if long_session and len(memory) >= 5:
            # The first runs settle caches; growth after them is a leak.
            growth = memory[-1]["VmRSS"] - memory[2]["VmRSS"]
            self.long_growth[transport] = (growth, len(memory), memory[2]["VmRSS"], memory[-1]["VmRSS"],
                                           memory[0]["fds"], memory[-1]["fds"])
            if growth > GROWTH_LIMIT_KIB:
                self.violations.append({"session": index, "transport": transport, "fault": kind,
                                        "problem": f"VmRSS grew by {growth} KiB from run 3 to run "
                                                   f"{len(memory)}"})

    def table(self, elapsed):
        """One row per transport and fault drawn, a total per transport, and
        one for all."""
        columns = ["listed", "exit 1", "exit 2", "exit 3", "violation"]
        groups = collections.defaultdict(list)
        for r in self.records:
            groups[(r["transport"], r["fault"])].append(r)
            groups[(r["transport"], "all")].append(r)
            groups[("all", "all")].append(r)

        def row(transport, fault, records):
            outcomes = collections.Counter(r.get("outcome", "?") for r in records)
            worst = max((r.get("end_time", 0.0) for r in records), default=0.0)
            print(f"{transport:<14}{fault:<14}{len(records):>6}" + "".join(f"{outcomes[c]:>10}" for c in columns)
                  + f"{worst:>13.2f}")
        print()
        print(f"soak: {len(self.records)} runs in {len(set(r['session'] for r in self.records))} sessions, "
              f"seed {self.args.seed}, simulator speed {SPEED}, {elapsed / 60:.1f} min")
        print(f"{'transport':<14}{'fault':<14}{'runs':>6}" + "".join(f"{c:>10}" for c in columns)
              + f"{'worst end s':>13}")
        for transport in self.args.transports:
            for fault in WEIGHTS:
                if (transport, fault) in groups:
                    row(transport, fault, groups[(transport, fault)])
            if (transport, "all") in groups:
                row(transport, "all", groups[(transport, "all")])
        row("all", "all", groups[("all", "all")])
        print(f"peak memory of tq820-scan: VmHWM {self.peak_hwm / 1024:.1f} MiB")
        for transport, figures in self.long_growth.items():
            growth, count, first, last, fds_first, fds_last = figures
            print(f"long session on {transport}: VmRSS {first / 1024:.1f} MiB after run 3, {last / 1024:.1f} MiB "
                  f"after run {count} ({growth:+d} KiB); open descriptors {fds_first} -> {fds_last}")
        for v in self.violations:
            print(f"VIOLATION: session {v['session']} ({v.get('transport', '?')} {v['fault']} "
                  f"{v.get('options', '')}) run {v.get('run', '-')}: {v['problem']}")
        totals = collections.Counter(r.get("outcome", "?") for r in self.records)
        print(f"soak: {totals['listed'] + totals['exit 1'] + totals['exit 2'] + totals['exit 3']} passed, "
              f"{len(self.violations)} failed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scan", required=True, help="path of tq820-scan")
    parser.add_argument("--sim", required=True, help="path of tq820-sim")
    parser.add_argument("--out", required=True, help="folder for transcripts, logs and the run record")
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None, help="default: from the clock, printed")
    parser.add_argument("--long-runs", type=int, default=20,
                        help="runs of the first, fault-free session on each transport")
    parser.add_argument("--transports", default=",".join(TRANSPORTS),
                        help="comma-separated, from: " + ", ".join(TRANSPORTS))
    parser.add_argument("--quick", action="store_true",
                        help="leave out the faults that end only after a time-out or the stall bound")
    args = parser.parse_args()
    args.transports = [t for t in args.transports.split(",") if t]
    unknown = [t for t in args.transports if t not in TRANSPORTS]
    if unknown or not args.transports:
        parser.error(f"unknown transports {unknown}; choose from {', '.join(TRANSPORTS)}")
    if args.seed is None:
        args.seed = int(time.time()) % 100000
    os.makedirs(args.out, exist_ok=True)
    # The I/O library's aliases file from an empty folder, never the user's.
    os.environ["XDG_CONFIG_HOME"] = tempfile.mkdtemp(prefix="tq-soak-config-")
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
