# SPDX-License-Identifier: MIT
"""The benchmark table's figures and verdicts, from made-up samples whose
right answers are known.  Usage: report_test.py PATH-TO-bench"""
import sys
import unittest

sys.path.insert(0, sys.argv.pop(1) if len(sys.argv) > 1 else "bench")
import report  # noqa: E402
import run_all  # noqa: E402


def rows_with(**medians):
    """Rows of 100 samples each: 99 at the median given, one outlier at ten
    times it, so that the 99th percentile equals the median."""
    return {name.replace("_", "/"): [value] * 99 + [value * 10] for name, value in medians.items()}


def verdicts(rows, **more):
    return {goal.text.split(":")[0].split(" (")[0] + (" serial" if "(serial)" in goal.text else ""): goal.met
            for goal in report.judge(rows, **more)}


class Figures(unittest.TestCase):
    def test_percentiles_by_nearest_rank(self):
        values = list(range(1, 101))  # 1 .. 100
        self.assertEqual(report.percentile(values, 0.99), 99)
        self.assertEqual(report.percentile(values, 0.5), 50)
        self.assertEqual(report.percentile([7.0], 0.99), 7.0)
        self.assertEqual(report.percentile(list(reversed(values)), 0.99), 99, "order must not matter")
        with self.assertRaises(ValueError):
            report.percentile([], 0.5)
        summary = report.summarize([1.0, 2.0, 3.0, 100.0])
        self.assertEqual((summary.count, summary.median, summary.p99, summary.largest), (4, 2.5, 100.0, 100.0))

    def test_samples_pool_across_files_and_bad_lines_are_refused(self):
        rows = report.read_samples(["tcp/bare 10.5\n", "\n", "tcp/control 11\n"])
        report.read_samples(["tcp/bare 12.5\n"], rows)
        self.assertEqual(rows, {"tcp/bare": [10.5, 12.5], "tcp/control": [11.0]})
        for bad in ("tcp/bare\n", "tcp/bare 1 2\n", "tcp/bare fast\n", "tcp/bare -3\n", "tcp/bare nan\n"):
            with self.assertRaises(ValueError, msg=bad):
                report.read_samples([bad])


class Verdicts(unittest.TestCase):
    GOOD = dict(tcp_bare=50.0, tcp_control=53.0, tcp_pyvisa=60.0, serial_bare=40.0,
                serial_control=42.0, serial_pyvisa=90.0, tcp_floor=45.0)

    def test_a_good_machine_meets_every_goal(self):
        rows = rows_with(**self.GOOD)
        rows["run/overhead"] = [3000.0, 4000.0]
        goals = report.judge(rows, startup_ms=[120.0, 140.0], peak_mib=40.0)
        self.assertEqual(len(goals), 7)
        self.assertTrue(all(goal.met for goal in goals), [g for g in goals if not g.met])

    def test_each_limit_is_judged_on_its_own_figure(self):
        slow_control = rows_with(**dict(self.GOOD, tcp_control=56.0))  # 1.12x
        self.assertFalse(verdicts(slow_control)["control within 1.10x of the bare socket"])
        at_limit = rows_with(**dict(self.GOOD, tcp_control=55.0))  # 1.10x exactly
        self.assertTrue(verdicts(at_limit)["control within 1.10x of the bare socket"])

        # Every placement measured must meet it, the same-CPU one too.
        same_cpu_slow = rows_with(**self.GOOD)
        same_cpu_slow["same-cpu/tcp/bare"] = [20.0] * 100
        same_cpu_slow["same-cpu/tcp/control"] = [23.0] * 100  # 1.15x
        self.assertFalse(verdicts(same_cpu_slow)["control within 1.10x of the bare socket"])
        same_cpu_slow["same-cpu/tcp/control"] = [21.0] * 100
        self.assertTrue(verdicts(same_cpu_slow)["control within 1.10x of the bare socket"])

        # The median alone is not enough: a control with a worse tail fails.
        tail = rows_with(**self.GOOD)
        tail["tcp/control"] = [53.0] * 98 + [80.0, 80.0]
        self.assertFalse(verdicts(tail)["control within 1.10x of the bare socket"])

        serial_loses = rows_with(**dict(self.GOOD, serial_pyvisa=41.0))
        judged = verdicts(serial_loses)
        self.assertTrue(judged["faster than PyVISA"])
        self.assertFalse(judged["faster than PyVISA serial"])

        slow_sim = rows_with(**dict(self.GOOD, tcp_floor=39.0))  # 78% of the floor's rate
        self.assertFalse(verdicts(slow_sim)["simulator >= 80% of a minimal server's rate, one connection"])

        rows = rows_with(**self.GOOD)
        rows["run/overhead"] = [49000.0, 52000.0, 60000.0]  # median 52 ms
        judged = verdicts(rows, startup_ms=[310.0, 290.0, 305.0], peak_mib=80.0)
        self.assertFalse(judged["own overhead of a 40-reading run < 50 ms"])
        self.assertFalse(judged["start-up to the painted window < 300 ms"])
        self.assertFalse(judged["peak memory after a run < 80 MiB"])

    def test_missing_figures_never_pass(self):
        judged = verdicts({"tcp/bare": [50.0]})
        self.assertFalse(judged["control within 1.10x of the bare socket"])
        self.assertFalse(judged["faster than PyVISA"])
        self.assertFalse(judged["faster than PyVISA serial"])

    def test_the_table_shows_the_figures_it_judged(self):
        rows = rows_with(**self.GOOD)
        table = report.format_table(rows, startup_ms=[100.0], peak_mib=12.5)
        self.assertIn("TCP, control                             53.0      53.0       100", table)
        self.assertIn("TCP control / bare                      1.06x     1.06x", table)
        self.assertIn("20,000", table)  # 1 / 50 us
        self.assertRegex(table, r"simulator / minimal server +90%")
        self.assertIn("12.5 MiB", table)
        self.assertNotIn("NOT MET", table)

    def test_one_shot_query_against_lxi_and_pyvisa(self):
        # (corvalen, lxi, pyvisa) medians in us -> (<= lxi, <= a tenth of PyVISA)
        for tool, lxi, pyvisa, expected in ((2000.0, 2500.0, 250000.0, (True, True)),
                                            (2600.0, 2500.0, 250000.0, (False, True)),
                                            (2000.0, 2500.0, 19000.0, (True, False))):
            goals = [g for g in report.judge(rows_with(oneshot_corvalen=tool, oneshot_lxi=lxi,
                                                       oneshot_pyvisa=pyvisa)) if "one-shot" in g.text]
            self.assertEqual(tuple(g.met for g in goals), expected, [g.measured for g in goals])
        table = report.format_table(rows_with(oneshot_corvalen=2000.0, oneshot_lxi=2500.0))
        self.assertRegex(table, r"corvalen query +2\.00 +2\.00")


class RunEnd(unittest.TestCase):
    def transcript(self, removals, then):
        events = [["0.1", "RX", "*IDN?"], ["0.1", "TX", "x"]]
        for _ in range(removals):
            events += [["0.2", "RX", "DATA:REMove? 1"], ["0.2", "TX", "+1,+0,101"]]
        return events + then

    def test_a_run_ends_with_the_error_queue_answered_after_the_last_reading(self):
        answered = [["0.3", "RX", "SYSTem:ERRor?"], ["0.3", "TX", '+0,"No error"']]
        self.assertTrue(run_all.run_complete(self.transcript(40, answered)))
        self.assertFalse(run_all.run_complete(self.transcript(39, answered)))
        self.assertFalse(run_all.run_complete(self.transcript(40, answered[:1])), "answer not sent yet")
        self.assertFalse(run_all.run_complete(self.transcript(40, [])))


if __name__ == "__main__":
    unittest.main()
