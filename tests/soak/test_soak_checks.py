#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The soak's judgement of a run, on transcripts made here: what each fault
calls for, and that a listing which lost, doubled or changed a reading, or
error boxes that do not show the queued errors, are caught."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import soak  # noqa: E402
from tq_e2e import Event  # noqa: E402

READING = "+2.21974610E+01,+000000000.{:03},{}"


def transcript(fault_after=None, fault=None, removals=40):
    """A whole run as the simulator records it; fault_after names the command
    whose reply a FAULT note precedes."""
    events = []

    def exchange(command, reply):
        events.append(Event(0.0, "RX", command))
        if command == fault_after:
            events.append(Event(0.0, "FAULT", fault))
        if reply is not None:
            events.append(Event(0.0, "TX", reply))
    exchange("*IDN?", "CORVALEN,TQ820A,MY00000001,1.0")
    exchange("SYSTem:CTYPe? 100", "CORVALEN,TQ711A,0,1.0")
    exchange("INSTrument:DMM:INSTalled?", "1")
    exchange("SYSTem:ERRor?", '+0,"No error"')
    exchange("INITiate", None)
    exchange("SYSTem:DATE?", "2026,12,09")
    exchange("SYSTem:TIME?", "11,42,07.125")
    exchange("DATA:POINTS?", "+40")
    for index in range(removals):
        exchange("DATA:REMove? 1", READING.format(index * 250, 101 + index % 20))
    exchange("SYSTem:ERRor?", '+0,"No error"')
    return events


def listing(events):
    lines = soak.INSTRUCTIONS + ["", "Start Date (yyyy,mm,dd): 2026,12,09",
                                 "Start Time (hh,mm,ss): 11,42,07.125", "Rdng#\tChannel\tValue\t\tTime"]
    return lines + soak.expected_rows(events)


class Listing(unittest.TestCase):
    def test_the_readings_as_sent_pass(self):
        events = transcript()
        lines = listing(events)
        self.assertEqual(lines[7], "1\t101\t+2.21974610E+01\t+000000000.000")
        self.assertEqual(len(lines), 47)
        soak.check_listing(lines, events, garbled_stamp=False)

    def test_a_lost_doubled_changed_or_extra_row_is_caught(self):
        events = transcript()
        good = listing(events)
        lost = good[:20] + good[21:]
        doubled = good[:21] + [good[20]] + good[21:]
        swapped = good[:10] + [good[10].replace("\t104\t", "\t105\t")] + good[11:]
        stamp = good[:30] + [good[30].replace(".", ",")] + good[31:]
        extra = good + ["41\t101\t+0\t+0"]
        for name, lines in [("lost", lost), ("doubled", doubled), ("swapped", swapped),
                            ("stamp", stamp), ("extra", extra)]:
            with self.subTest(name):
                with self.assertRaises(soak.Violation):
                    soak.check_listing(lines, events, garbled_stamp=False)

    def test_a_wrong_start_stamp_is_caught_unless_garbage_was_sent(self):
        events = transcript()
        lines = listing(events)
        lines[4] = "Start Date (yyyy,mm,dd): \ufffd#@"
        with self.assertRaises(soak.Violation):
            soak.check_listing(lines, events, garbled_stamp=False)
        soak.check_listing(lines, events, garbled_stamp=True)

    def test_a_run_the_simulator_cut_short_is_caught(self):
        events = transcript(removals=39)
        with self.assertRaises(soak.Violation):
            soak.check_listing(listing(events), events, garbled_stamp=False)


class Expectation(unittest.TestCase):
    def expect(self, kind, options, events, closed_before=False):
        return soak.expectation(kind, options, events, closed_before)[0]

    def test_faults_known_at_start(self):
        run = transcript()
        self.assertEqual(self.expect("idn", ["--idn", "OTHER,DMM7510,1,1.0"], run), soak.WRONG_INSTRUMENT)
        self.assertEqual(self.expect("idn", ["--idn", "ACME,TQ820A,X1,2.0"], run), soak.LISTED)
        self.assertEqual(self.expect("idn", ["--idn", "corvalen,tq820a,1,1"], run), soak.WRONG_INSTRUMENT)
        self.assertEqual(self.expect("idn", ["--idn", ""], run), soak.FAILURE)
        self.assertEqual(self.expect("module", ["--module", ""], run), soak.WRONG_MODULE)
        self.assertEqual(self.expect("no-dmm", ["--no-dmm"], run), soak.NO_DMM)
        self.assertEqual(self.expect("dmm-off", ["--dmm-off"], run), soak.LISTED)
        self.assertEqual(self.expect("error", ["--error", '-113,"Undefined header"'], run)[:2], ("end", 3))
        self.assertEqual(self.expect("reply-delay", ["--reply-delay", "15"], run), soak.LISTED)
        self.assertEqual(self.expect("reply-delay", ["--reply-delay", "10500"], run), soak.FAILURE)
        self.assertEqual(self.expect("stall-at", ["--stall-at", "39"], run), soak.FAILURE)
        self.assertEqual(self.expect("stall-at", ["--stall-at", "40"], run), soak.LISTED)

    def test_a_garbage_reply_calls_for_what_its_query_does_with_it(self):
        cases = {"*IDN?": soak.WRONG_INSTRUMENT, "SYSTem:CTYPe? 100": soak.WRONG_MODULE,
                 "INSTrument:DMM:INSTalled?": soak.NO_DMM, "SYSTem:DATE?": soak.LISTED,
                 "DATA:POINTS?": soak.FAILURE, "DATA:REMove? 1": soak.FAILURE, "SYSTem:ERRor?": soak.LISTED}
        for query, expected in cases.items():
            with self.subTest(query):
                run = transcript(query, "garbage reply to query 7")
                self.assertEqual(self.expect("garbage-reply", ["--garbage-reply", "7"], run), expected)

    def test_faults_that_fire_only_at_their_count(self):
        quiet = transcript()
        self.assertEqual(self.expect("no-line-end", ["--no-line-end", "99"], quiet), soak.LISTED)
        self.assertEqual(self.expect("garbage-reply", ["--garbage-reply", "99"], quiet), soak.LISTED)
        late = transcript("SYSTem:TIME?", "reply to query 6 without line end")
        self.assertEqual(self.expect("no-line-end", ["--no-line-end", "6"], late), soak.FAILURE)
        field = transcript("DATA:REMove? 1", "reading reply 1 without channel")
        self.assertEqual(self.expect("missing-field", ["--missing-field", "1"], field), soak.FAILURE)

    def test_a_closed_connection_fails_the_run_it_cuts_and_the_runs_after(self):
        cut = transcript("DATA:POINTS?", "connection closed after 9 commands")
        self.assertEqual(self.expect("close-after", ["--close-after", "9"], cut), soak.FAILURE)
        after_run = transcript()
        after_run.append(Event(0.0, "FAULT", "connection closed after 48 commands"))
        self.assertEqual(self.expect("close-after", ["--close-after", "48"], after_run), soak.LISTED)
        self.assertEqual(self.expect("close-after", ["--close-after", "48"], transcript(), closed_before=True),
                         soak.FAILURE)


    def test_the_new_transports_faults(self):
        """Framing broken (a lying record mark, a dead link, a reply cut with
        the connection) fails the run; a reply in pieces, late or after an
        empty read is listed, a late Prologix answer too: the control's next
        ++read takes it."""
        cases = [
            ("vxi11", "lying-record", transcript("*IDN?", "VXI-11: the record mark of reply 3 claims"),
             soak.FAILURE),
            ("vxi11", "lying-record", transcript(), soak.LISTED),
            ("vxi11-gateway", "drop-link", transcript("INITiate", "VXI-11: link 1 died after device_write 30"),
             soak.FAILURE),
            ("vxi11", "empty-read", transcript("DATA:POINTS?", "VXI-11: device_read 9 answered REQCNT"),
             soak.LISTED),
            ("vxi11", "rpc-fragment", transcript(), soak.LISTED),
            ("vxi11", "no-line-end", transcript("SYSTem:TIME?", "reply to query 6 without line end"),
             soak.LISTED),
            ("vxi11", "close-after", transcript("SYSTem:ERRor?", "connection closed after 48 commands"),
             soak.FAILURE),
            ("prologix-tcp", "close-after", transcript("DATA:POINTS?", "connection closed after 9 commands"),
             soak.FAILURE),
            ("prologix-pty", "cut-read", transcript("DATA:POINTS?", "connection lost halfway through read 8"),
             soak.FAILURE),
            ("prologix-tcp", "drop-read", transcript("*IDN?", "read 1 dropped"), soak.LISTED),
            ("prologix-tcp", "late-read", transcript("*IDN?", "answer to read 1 ready only past its read"),
             soak.LISTED),
        ]
        for transport, kind, events, expected in cases:
            with self.subTest(f"{transport} {kind}"):
                self.assertEqual(soak.expectation(kind, [], events, False, transport)[0], expected)

    def test_faults_are_drawn_only_for_their_transports(self):
        for transport in soak.TRANSPORTS:
            kinds = set(soak.faults_for(transport, quick=False))
            self.assertEqual("lying-record" in kinds, transport in soak.VXI11, transport)
            self.assertEqual("late-read" in kinds, transport in soak.PROLOGIX, transport)
            self.assertNotIn("stall-at", soak.faults_for(transport, quick=True))


class Transcript(unittest.TestCase):
    def test_repeated_polls_are_left_out_and_a_partial_line_waits(self):
        import tempfile
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "transcript.txt")
            lines = ["0.1 RX INITiate"]
            for reply in ["+0", "+0", "+0", "+20", "+20", "+40"]:
                lines += ["0.2 RX DATA:POINTS?", "0.2 TX " + reply]
            lines += ["0.3 RX DATA:POINTS?", "0.3 FAULT garbage reply to query 9", "0.3 TX +40",
                      "0.4 RX DATA:REMove? 1"]
            with open(path, "w") as out:
                out.write("\n".join(lines) + "\n0.5 TX +2.2")
            tail = soak.TranscriptTail(path)
            events = [(e.kind, e.text) for e in tail.read()]
            polls = [text for kind, text in events if kind == "TX"]
            self.assertEqual(polls, ["+0", "+20", "+40", "+40"])
            self.assertEqual(events[-3:], [("FAULT", "garbage reply to query 9"), ("TX", "+40"),
                                           ("RX", "DATA:REMove? 1")])
            with open(path, "a") as out:
                out.write("2E+01,+0.0,101\n")
            self.assertEqual(tail.read()[-1].text, "+2.22E+01,+0.0,101")


class ErrorBoxes(unittest.TestCase):
    OPTIONS = ['-113,"Undefined header"', '201,"Memory lost"']
    GOOD = [(soak.h.CHECK_TITLE, 'Error in: RunProg\nError Number: -113\nError Message: -113,"Undefined header"\n', 1),
            (soak.h.CHECK_TITLE, 'Error in: Error in: RunProg\nError Number: -113\n...\nError in: RunProg\n'
                                 'Error Number:  201\nError Message: +201,"Memory lost"\n', 2)]

    def test_one_box_per_queued_error_showing_it(self):
        soak.Soak.check_error_boxes(self.GOOD, self.OPTIONS)

    def test_a_missing_box_or_a_wrong_number_is_caught(self):
        with self.assertRaises(soak.Violation):
            soak.Soak.check_error_boxes(self.GOOD[:1], self.OPTIONS)
        wrong = [self.GOOD[0], (soak.h.CHECK_TITLE, self.GOOD[1][1].replace(" 201", " 202"), 2)]
        with self.assertRaises(soak.Violation):
            soak.Soak.check_error_boxes(wrong, self.OPTIONS)


if __name__ == "__main__":
    unittest.main(verbosity=2)
