# SPDX-License-Identifier: MIT
"""The benchmark table: samples in, one table with the goals judged out.

Samples are "row microseconds" lines (tq820-bench and
pyvisa_round_trips.py write them). Everything here is pure, so that the
figures and the verdicts can be checked without running anything.
"""
import math
import statistics
from dataclasses import dataclass

ROUND_TRIP_ROWS = [
    ("tcp/bare", "TCP, bare socket (the floor)"),
    ("tcp/control", "TCP, control"),
    ("tcp/api", "TCP, public C++ API"),
    ("tcp/pyvisa", "TCP, PyVISA (pyvisa-py)"),
    ("tcp/prologix", "TCP, control via Prologix (GPIB0)"),
    ("serial/bare", "serial pty, bare terminal"),
    ("serial/control", "serial pty, control"),
    ("serial/pyvisa", "serial pty, PyVISA (pyvisa-py)"),
    ("same-cpu/tcp/bare", "TCP, bare, on the simulator's CPU"),
    ("same-cpu/tcp/control", "TCP, control, on the simulator's CPU"),
    ("vxi11/socket", "VXI-11 sim's raw socket (own netns)"),
    ("vxi11/floor", "VXI-11, two bare RPC exchanges"),
    ("vxi11/control", "VXI-11, control"),
    ("vxi11/pyvisa", "VXI-11, PyVISA (pyvisa-py)"),
    ("vxi11/liblxi", "VXI-11, liblxi (lxi-tools)"),
    ("visa/tcp/api", "TCP, C++ API (corvalen::open)"),
    ("visa/tcp/c", "TCP, VISA C program (libcorvalen-visa)"),
    ("visa/tcp/pyvisa-corvalen", "TCP, PyVISA on libcorvalen-visa"),
    ("visa/tcp/pyvisa-py", "TCP, PyVISA on pyvisa-py (same run)"),
    ("visa/vxi11/api", "VXI-11, C++ API (corvalen::open)"),
    ("visa/vxi11/c", "VXI-11, VISA C program (libcorvalen-visa)"),
    ("visa/vxi11/pyvisa-corvalen", "VXI-11, PyVISA on libcorvalen-visa"),
    ("visa/vxi11/pyvisa-py", "VXI-11, PyVISA on pyvisa-py (same run)"),
]

MAX_CONTROL_OVER_BARE = 1.10
MAX_API_OVER_CONTROL = 1.05
MAX_PROLOGIX_OVER_SOCKET = 1.20
MAX_VXI11_OVER_SOCKET = 2.20
MIN_SIM_SHARE_OF_FLOOR = 0.80
MAX_RUN_OVERHEAD_MS = 50.0
MAX_STARTUP_MS = 300.0
MAX_PEAK_MIB = 80.0
# corvalen query, process start to exit: at most lxi scpi's, a tenth of PyVISA's.
MAX_ONESHOT_OVER_LXI = 1.0
MAX_ONESHOT_OVER_PYVISA = 0.10

ONE_SHOT_ROWS = [
    ("oneshot/corvalen", "corvalen query"),
    ("oneshot/lxi", "lxi scpi --raw (lxi-tools)"),
    ("oneshot/pyvisa", "python3 -c, PyVISA (pyvisa-py)"),
]

# PyVISA on libcorvalen-visa against PyVISA on pyvisa-py (median), and a
# VISA C program against the C++ API it goes through.
MIN_VISA_OVER_PYVISA_PY = {"tcp": 1.3, "vxi11": 1.5}
MAX_C_VISA_OVER_API = 1.10


@dataclass
class Summary:
    count: int
    median: float
    p99: float
    mean: float
    largest: float


@dataclass
class Goal:
    text: str
    measured: str
    met: bool


def read_samples(lines, into=None):
    """Pools "row value" lines into {row: [values]}; raises ValueError on a
    line that is not one."""
    rows = {} if into is None else into
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        parts = line.split()
        if len(parts) != 2:
            raise ValueError(f"sample line {number} is not 'row value': {line!r}")
        value = float(parts[1])
        if not math.isfinite(value) or value < 0:
            raise ValueError(f"sample line {number} holds no time: {line!r}")
        rows.setdefault(parts[0], []).append(value)
    return rows


def percentile(values, fraction):
    """Nearest rank: the smallest value with at least fraction of all values
    at or below it."""
    if not values:
        raise ValueError("no samples")
    ordered = sorted(values)
    rank = max(1, math.ceil(fraction * len(ordered)))
    return ordered[rank - 1]


def summarize(values):
    return Summary(len(values), statistics.median(values), percentile(values, 0.99),
                   statistics.fmean(values), max(values))


def ratio(top, bottom):
    """(median ratio, p99 ratio) of two summaries."""
    return top.median / bottom.median, top.p99 / bottom.p99


def judge(rows, startup_ms=None, peak_mib=None):
    """The goals, each with what was measured and whether it was met; a goal
    whose figures are missing is not met."""
    s = {name: summarize(values) for name, values in rows.items() if values}
    goals = []

    def both(pair):
        return f"median {pair[0]:.2f}x, p99 {pair[1]:.2f}x"

    if "tcp/control" in s and "tcp/bare" in s:
        # Every placement measured must meet it: the client on another
        # processor than the simulator, and on the same one when measured.
        pairs = [ratio(s["tcp/control"], s["tcp/bare"])]
        measured = both(pairs[0])
        if "same-cpu/tcp/control" in s and "same-cpu/tcp/bare" in s:
            pairs.append(ratio(s["same-cpu/tcp/control"], s["same-cpu/tcp/bare"]))
            measured += f"; same CPU: {both(pairs[1])}"
        goals.append(Goal(f"control within {MAX_CONTROL_OVER_BARE:.2f}x of the bare socket (TCP)", measured,
                          max(max(pair) for pair in pairs) <= MAX_CONTROL_OVER_BARE))
    else:
        goals.append(Goal("control within 1.10x of the bare socket (TCP)", "not measured", False))
    if "tcp/api" in s and "tcp/control" in s:
        pair = ratio(s["tcp/api"], s["tcp/control"])
        goals.append(Goal(f"public API within {MAX_API_OVER_CONTROL:.2f}x of the control (TCP, median)", both(pair),
                          pair[0] <= MAX_API_OVER_CONTROL))
    if "tcp/prologix" in s and "tcp/control" in s:
        pair = ratio(s["tcp/prologix"], s["tcp/control"])
        goals.append(Goal(f"Prologix within {MAX_PROLOGIX_OVER_SOCKET:.2f}x of the raw socket (control, TCP)",
                          both(pair), max(pair) <= MAX_PROLOGIX_OVER_SOCKET))
    for kind in ("tcp", "serial"):
        control, peer = s.get(f"{kind}/control"), s.get(f"{kind}/pyvisa")
        label = "TCP" if kind == "tcp" else "serial"
        if control and peer:
            pair = ratio(peer, control)
            goals.append(Goal(f"faster than PyVISA ({label}): PyVISA / control > 1", both(pair),
                              min(pair) > 1.0))
        else:
            goals.append(Goal(f"faster than PyVISA ({label})", "not measured", False))
    if "vxi11/control" in s and "vxi11/socket" in s:
        pair = ratio(s["vxi11/control"], s["vxi11/socket"])
        goals.append(Goal(f"VXI-11 within {MAX_VXI11_OVER_SOCKET:.1f}x of the raw socket (same simulator)",
                          both(pair), max(pair) <= MAX_VXI11_OVER_SOCKET))
    for peer, label in (("vxi11/pyvisa", "PyVISA"), ("vxi11/liblxi", "liblxi")):
        if "vxi11/control" in s and peer in s:
            pair = ratio(s[peer], s["vxi11/control"])
            goals.append(Goal(f"faster than {label} (VXI-11): {label} / control > 1", both(pair), min(pair) > 1.0))
    for kind, least in MIN_VISA_OVER_PYVISA_PY.items():
        ours, theirs = s.get(f"visa/{kind}/pyvisa-corvalen"), s.get(f"visa/{kind}/pyvisa-py")
        label = "TCP" if kind == "tcp" else "VXI-11"
        if ours and theirs:
            pair = ratio(theirs, ours)
            goals.append(Goal(f"PyVISA on libcorvalen-visa >= {least:.1f}x faster than on pyvisa-py ({label}, median)",
                              both(pair), pair[0] >= least))
        c, api = s.get(f"visa/{kind}/c"), s.get(f"visa/{kind}/api")
        if c and api:
            pair = ratio(c, api)
            goals.append(Goal(f"VISA C program within {MAX_C_VISA_OVER_API:.2f}x of the C++ API ({label}, median)",
                              both(pair), pair[0] <= MAX_C_VISA_OVER_API))
    if "tcp/bare" in s and "tcp/floor" in s:
        share = s["tcp/floor"].median / s["tcp/bare"].median
        goals.append(Goal(f"simulator >= {MIN_SIM_SHARE_OF_FLOOR:.0%} of a minimal server's rate, one connection",
                          f"{share:.0%}", share >= MIN_SIM_SHARE_OF_FLOOR))
    if "run/overhead" in s:
        overhead = s["run/overhead"].median / 1000.0
        goals.append(Goal(f"own overhead of a 40-reading run < {MAX_RUN_OVERHEAD_MS:.0f} ms",
                          f"{overhead:.1f} ms (largest {s['run/overhead'].largest / 1000.0:.1f} ms)",
                          overhead < MAX_RUN_OVERHEAD_MS))
    tool = s.get("oneshot/corvalen")
    for peer, limit, label in (("oneshot/lxi", MAX_ONESHOT_OVER_LXI, "lxi scpi's"),
                               ("oneshot/pyvisa", MAX_ONESHOT_OVER_PYVISA, "a PyVISA script's")):
        if tool and peer in s:
            share = tool.median / s[peer].median
            goals.append(Goal(f"one-shot corvalen query <= {limit:g}x {label} (median, start to exit)",
                              f"{share:.2f}x", share <= limit))
    if startup_ms:
        median = statistics.median(startup_ms)
        goals.append(Goal(f"start-up to the painted window < {MAX_STARTUP_MS:.0f} ms",
                          f"{median:.0f} ms (largest {max(startup_ms):.0f} ms)", median < MAX_STARTUP_MS))
    if peak_mib is not None:
        goals.append(Goal(f"peak memory after a run < {MAX_PEAK_MIB:.0f} MiB", f"{peak_mib:.1f} MiB",
                          peak_mib < MAX_PEAK_MIB))
    return goals


def format_table(rows, startup_ms=None, peak_mib=None, notes=()):
    """The one table ./scripts/bench prints."""
    s = {name: summarize(values) for name, values in rows.items() if values}
    out = []
    out.append('Query round trip "DATA:POINts?"        median us    p99 us   samples')
    for name, label in ROUND_TRIP_ROWS:
        if name in s:
            out.append(f"  {label:<36}{s[name].median:>9.1f} {s[name].p99:>9.1f} {s[name].count:>9}")
    out.append("Ratios                                    median       p99")
    for top, bottom, label in (("tcp/control", "tcp/bare", "TCP control / bare"),
                               ("tcp/api", "tcp/control", "TCP public API / control"),
                               ("tcp/pyvisa", "tcp/control", "TCP PyVISA / control"),
                               ("tcp/prologix", "tcp/control", "TCP Prologix / raw socket, control"),
                               ("tcp/prologix", "tcp/bare", "TCP Prologix / bare socket"),
                               ("serial/control", "serial/bare", "serial control / bare"),
                               ("serial/pyvisa", "serial/control", "serial PyVISA / control"),
                               ("same-cpu/tcp/control", "same-cpu/tcp/bare", "TCP control / bare, same CPU"),
                               ("vxi11/control", "vxi11/socket", "VXI-11 control / raw socket"),
                               ("vxi11/floor", "vxi11/socket", "VXI-11 floor / raw socket"),
                               ("vxi11/control", "vxi11/floor", "VXI-11 control / floor"),
                               ("vxi11/pyvisa", "vxi11/control", "VXI-11 PyVISA / control"),
                               ("vxi11/liblxi", "vxi11/control", "VXI-11 liblxi / control")):
        if top in s and bottom in s:
            median, p99 = ratio(s[top], s[bottom])
            out.append(f"  {label:<36}{median:>8.2f}x {p99:>8.2f}x")
    out.append("Simulator, one TCP connection                 queries/s")
    if "tcp/bare" in s:
        out.append(f"  query after query (1 / bare median){1e6 / s['tcp/bare'].median:>19,.0f}")
    if "tcp/floor" in s:
        out.append(f"  minimal line server, same bare client{1e6 / s['tcp/floor'].median:>17,.0f}")
    if "tcp/bare" in s and "tcp/floor" in s:
        out.append(f"  simulator / minimal server{s['tcp/floor'].median / s['tcp/bare'].median:>27.0%}")
    if "tcp/pipelined" in s:
        out.append(f"  pipelined, 50 queries a write{1e6 / s['tcp/pipelined'].median:>25,.0f}")
    if "run/total" in s:
        out.append(f"Whole 40-reading run ({s['run/total'].count} runs)                median ms  largest ms")
        for name, label in (("run/total", "run, click to end"), ("run/overhead", "own overhead (run - control calls)")):
            if name in s:
                out.append(f"  {label:<36}{s[name].median / 1000:>9.1f} {s[name].largest / 1000:>11.1f}")
        if "run/calls" in s:
            out.append(f"  calls into the control per run{s['run/calls'].median:>14.0f}")
    if "oneshot/corvalen" in s:
        out.append(f'One-shot "*IDN?", spawn to exit ({s["oneshot/corvalen"].count} starts)  median ms    p99 ms')
        for name, label in ONE_SHOT_ROWS:
            if name in s:
                out.append(f"  {label:<36}{s[name].median / 1000:>9.2f} {s[name].p99 / 1000:>9.2f}")
    if startup_ms:
        out.append(f"Start-up to painted window ({len(startup_ms)} starts)   median ms  largest ms")
        out.append(f"  spawn to three lines shown{statistics.median(startup_ms):>27.0f} {max(startup_ms):>11.0f}")
    if peak_mib is not None:
        out.append(f"Peak memory after a run (VmHWM){peak_mib:>21.1f} MiB")
    out.append("Goals")
    for goal in judge(rows, startup_ms, peak_mib):
        out.append(f"  [{'met' if goal.met else 'NOT MET':>7}] {goal.text}: {goal.measured}")
    out.extend(notes)
    return "\n".join(out)
