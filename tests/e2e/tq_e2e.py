# SPDX-License-Identifier: MIT
"""Drives the real tq820-scan and tq820-sim from outside, in a private X server.

The end-to-end tests, the demo and the soak run share this module. It needs
Xvfb, xdotool, ImageMagick's import, dbus-daemon with at-spi2-core, and
python3-gi with gir1.2-atspi-2.0 (all in scripts/install-deps).

A typical use:

    with Desktop(workdir) as desktop, \\
         Simulator(sim_path, workdir, "--dmm-off") as sim, \\
         Program(scan_path, desktop, sim.resource, workdir) as program:
        program.click("Run")
        sim.wait_for(run_complete, 30, "a complete run")
        print(program.list_lines())
        desktop.screenshot(path)
        program.click("Exit")
        assert program.wait_exit(10) == 0

Desktop is one Xvfb on a free display number of its own, with its own
session bus and accessibility bus, so several can run side by side.
Simulator starts tq820-sim on a free TCP port (and a pseudo-terminal when
asked), with a transcript that Simulator.events() parses. Program starts
tq820-scan with CORVALEN_IO_ALIASES routing the design-time address
"GPIB0::9::INSTR" to the simulator, finds its window, clicks its buttons at
their fixed places, and reads its list through the accessibility bus.
MessageBox finds a message box by its title, reads its text and closes it
with Return.

Every wait here has a bound and raises HarnessError (an AssertionError, so
a test that hits one fails) with what it was waiting for.
"""
import json
import os
import random
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

WINDOW_TITLE = "Corvalen Control Example"
FAILURE_TITLE = "Example Program"
CHECK_TITLE = "Corvalen Example Program"
DESIGN_ADDRESS = "GPIB0::9::INSTR"
FAILURE_TEXT = "Unable to communicate with instrument;\ncheck the instrument address."

# The window's client area is 338 x 307 px; the buttons are 105 x 33 px at
# x = 117, "Select I/O" at y = 8, "Run" at y = 56, "Exit" at y = 256. These
# are their centres.
BUTTONS = {"Select I/O": (169, 24), "Run": (169, 72), "Exit": (169, 272)}

HERE = os.path.dirname(os.path.abspath(__file__))
# The accessibility walk needs the system's Python, which has python3-gi.
A11Y_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


class HarnessError(AssertionError):
    """A bounded wait ran out, or a tool failed."""


def wait_until(condition, timeout, what, interval=0.01):
    """Polls condition() until it returns something true, which is returned;
    raises HarnessError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"waited {timeout:g} s for {what}")
        time.sleep(interval)


def stop_process(process, grace=5.0):
    """Ends a process this module started: SIGTERM, then SIGKILL after grace
    seconds. Returns its exit status."""
    if process.poll() is None:
        process.send_signal(signal.SIGCONT)
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(grace)
    return process.returncode


def free_tcp_port():
    """A loopback port that nothing listens on (it was free a moment ago)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Desktop:
    """A private X server with a session bus and an accessibility bus."""

    def __init__(self, workdir, size="1024x768x24"):
        self.workdir = workdir
        self.size = size
        self.display = None
        self.env = None
        self._xvfb = None
        self._bus = None
        self._runtime = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        self._start_xvfb()
        self._runtime = tempfile.mkdtemp(prefix="tq-e2e-runtime-")
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": self.display,
            "XDG_RUNTIME_DIR": self._runtime,
            # Qt joins the accessibility bus only when asked to.
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            # The I/O library's own settings (aliases.conf) from an empty
            # folder, never the user's.
            "XDG_CONFIG_HOME": os.path.join(self._runtime, "config"),
        })
        self.env.pop("QT_QPA_PLATFORM", None)
        self._start_bus()

    def _start_xvfb(self, attempts=8):
        # A display number of our own, drawn from high numbers: low ones are
        # where other X servers and xvfb-run come and go. -noreset: without
        # it the server resets whenever its last client leaves (our probes
        # and xdotool do so all the time), and refuses clients meanwhile.
        for _ in range(attempts):
            number = random.randrange(200, 30000)
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            self._xvfb = subprocess.Popen(
                ["Xvfb", f":{number}", "-nolisten", "tcp", "-noreset", "-screen", "0", self.size],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            if self._answers(f":{number}"):
                self.display = f":{number}"
                return
            _end_group(self._xvfb)
            self._xvfb = None
        raise HarnessError(f"no X server started in {attempts} attempts")

    def _answers(self, display, timeout=20):
        """True once the new server takes clients; False if it ended (its
        number was taken after all) or never answered."""
        env = dict(os.environ, DISPLAY=display)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self._xvfb.poll() is not None:
                return False
            probe = subprocess.run(["xdpyinfo"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, timeout=timeout)
            if probe.returncode == 0:
                return self._holds_lock(display)
            time.sleep(0.05)
        return False

    def _holds_lock(self, display):
        """True when the server on display is ours: its lock names our pid."""
        try:
            with open(f"/tmp/.X{display[1:]}-lock", encoding="ascii") as lock:
                return int(lock.read().strip()) == self._xvfb.pid
        except (OSError, ValueError):
            return False

    def _start_bus(self):
        # Its own process group, so that the services the bus starts (the
        # accessibility bus and registry) end with it.
        self._bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env,
            start_new_session=True)
        address = _read_line(self._bus.stdout.fileno(), 20, "the session bus to report its address")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        # The accessibility bus must be up before the program starts, or Qt
        # does not register the program on it.
        subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply",
                        "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                       env=self.env, check=True, timeout=20, stdout=subprocess.DEVNULL)

    def close(self):
        if self._bus is not None:
            _end_group(self._bus)
            self._bus.stdout.close()
            self._bus = None
        if self._xvfb is not None:
            _end_group(self._xvfb)
            self._xvfb = None
        if self._runtime is not None:
            shutil.rmtree(self._runtime, ignore_errors=True)
            self._runtime = None

    def tool(self, *args, timeout=20):
        """Runs an X tool on this display; its standard output."""
        done = subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                              timeout=timeout)
        if done.returncode != 0:
            raise HarnessError(f"{' '.join(args)} failed ({done.returncode}): {done.stderr.strip()}")
        return done.stdout

    def windows(self, title):
        """Ids of the visible windows whose title is exactly title."""
        done = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                               "^" + re.escape(title) + "$"],
                              env=self.env, capture_output=True, text=True, timeout=20)
        return [int(line) for line in done.stdout.split()]

    def wait_window(self, title, timeout, other_than=()):
        """The id of a window titled title that appears within timeout."""
        def found():
            fresh = [w for w in self.windows(title) if w not in other_than]
            return fresh[0] if fresh else None
        return wait_until(found, timeout, f'a window titled "{title}"', interval=0.05)

    def click(self, window, x, y):
        """A left click at (x, y) of the window's client area."""
        self.tool("xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", "1")

    def press_return(self, window):
        # No window manager runs here: give the window the focus ourselves.
        self.tool("xdotool", "windowfocus", "--sync", str(window), "key", "Return")

    def screenshot(self, path):
        """The whole screen as a PNG at path; returns the path."""
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        self.tool("import", "-window", "root", path)
        return path

    def window_screenshot(self, window, path):
        """One window as a PNG at path; returns the path."""
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        self.tool("import", "-window", str(window), path)
        return path

    def accessibility_tree(self):
        """The accessible applications on this desktop (see a11y_tree.py)."""
        done = subprocess.run([A11Y_PYTHON, os.path.join(HERE, "a11y_tree.py")], env=self.env,
                              capture_output=True, text=True, timeout=30)
        if done.returncode != 0:
            raise HarnessError(f"reading the accessibility tree failed: {done.stderr.strip()}")
        return json.loads(done.stdout)


def _read_line(fd, timeout, what):
    """One line from a pipe, within timeout seconds."""
    data = b""
    deadline = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise HarnessError(f"waited {timeout:g} s for {what}")
        chunk = os.read(fd, 1)
        if not chunk:
            raise HarnessError(f"no answer while waiting for {what}")
        data += chunk
    return data.decode().strip()


def _end_group(process):
    """Ends a process started in a session of its own, with its children."""
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(5)
    # Children the group leader left behind.
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


@dataclass
class Event:
    """One line of the simulator's transcript."""
    time: float
    kind: str  # RX, TX, OPEN, CLOSE or FAULT
    text: str


class Simulator:
    """tq820-sim on a free loopback port (and a pty with pty=True)."""

    def __init__(self, path, workdir, *options, speed=50, pty=False, name="sim"):
        self.path = path
        self.options = list(options)
        self.speed = speed
        self.pty_wanted = pty
        self.transcript_path = os.path.join(workdir, name + "-transcript.txt")
        self.stderr_path = os.path.join(workdir, name + "-stderr.txt")
        self.port = None
        self.pty = None
        self.process = None
        self.status = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self, timeout=20):
        command = [self.path, "--tcp", "0", "--speed", str(self.speed),
                   "--transcript", self.transcript_path]
        if self.pty_wanted:
            command.append("--pty")
        command += self.options
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=stderr)
        wanted = 2 if self.pty_wanted else 1
        for _ in range(wanted):
            line = _read_line(self.process.stdout.fileno(), timeout, "tq820-sim's start-up lines")
            kind, _, where = line.partition(" ")
            if kind == "TCP":
                self.port = int(where.rpartition(":")[2])
            elif kind == "PTY":
                self.pty = where
            else:
                raise HarnessError(f"unexpected start-up line from tq820-sim: {line!r}")

    @property
    def resource(self):
        """The VISA resource string of the simulator: its pty when it has
        one, else its TCP socket."""
        if self.pty is not None:
            return f"ASRL{self.pty}::INSTR"
        return self.tcp_resource

    @property
    def tcp_resource(self):
        return f"TCPIP::127.0.0.1::{self.port}::SOCKET"

    def events(self):
        """The transcript so far."""
        events = []
        try:
            with open(self.transcript_path, encoding="ascii", errors="replace") as transcript:
                for line in transcript:
                    if not line.endswith("\n"):
                        break  # still being written
                    stamp, kind, text = (line[:-1].split(" ", 2) + [""])[:3]
                    events.append(Event(float(stamp), kind, text))
        except FileNotFoundError:
            pass
        return events

    def received(self):
        """The command lines received so far."""
        return [event.text for event in self.events() if event.kind == "RX"]

    def wait_for(self, condition, timeout, what):
        """Waits until condition(events) is true; returns the events."""
        def check():
            events = self.events()
            return events if condition(events) else None
        return wait_until(check, timeout, what, interval=0.005)

    def inject(self, line):
        """Sends a command line to the simulated instrument through its pty,
        beside whatever the program sends over TCP: the instrument and its
        error queue are shared."""
        if self.pty is None:
            raise HarnessError("the simulator has no pty to inject through")
        fd = os.open(self.pty, os.O_RDWR | os.O_NOCTTY)
        try:
            os.write(fd, (line + "\n").encode())
        finally:
            os.close(fd)

    def freeze(self):
        """Stops the simulator dead: a query sent now is never answered."""
        self.process.send_signal(signal.SIGSTOP)

    def stop(self):
        """Ends the simulator (once); returns its exit status."""
        if self.process is not None:
            self.status = stop_process(self.process)
            self.process.stdout.close()
            self.process = None
        return self.status

    def stderr(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as text:
            return text.read()


class Program:
    """tq820-scan on a Desktop, with the design-time address routed to
    resource."""

    def __init__(self, path, desktop, resource, workdir, name="scan", start_timeout=60,
                 aliases=None):
        self.path = path
        self.desktop = desktop
        self.resource = resource
        # CORVALEN_IO_ALIASES; by default the design-time address -> resource.
        self.aliases = aliases if aliases is not None else f"{DESIGN_ADDRESS}={resource}"
        self.stdout_path = os.path.join(workdir, name + "-stdout.txt")
        self.stderr_path = os.path.join(workdir, name + "-stderr.txt")
        self.start_timeout = start_timeout
        self.process = None
        self.window = None
        self.started = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.kill()

    def start(self):
        env = dict(self.desktop.env)
        env["CORVALEN_IO_ALIASES"] = self.aliases
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen([self.path], stdout=out, stderr=err, env=env)
        self.started = time.monotonic()

        def shown():
            if self.process.poll() is not None:
                raise HarnessError(f"tq820-scan ended at start with {self.process.returncode}: "
                                   f"{self.stderr()}")
            windows = self.desktop.windows(WINDOW_TITLE)
            return windows[0] if windows else None
        self.window = wait_until(shown, self.start_timeout, "the program's window", interval=0.05)
        return self.window

    def click(self, button):
        """Clicks "Select I/O", "Run" or "Exit"; returns the time of the click
        on the monotonic clock."""
        x, y = BUTTONS[button]
        self.desktop.click(self.window, x, y)
        return time.monotonic()

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout):
        """The exit status, once the program has ended within timeout."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"tq820-scan did not end within {timeout:g} s") from None

    def kill(self):
        if self.process is not None and self.process.poll() is None:
            stop_process(self.process)

    def stderr(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as text:
            return text.read()

    def list_lines(self):
        """The lines of the window's list box, read over the accessibility
        bus. Only while the program is idle: during a run it cannot answer."""
        window = _find(self.desktop.accessibility_tree(),
                       lambda node: node["name"] == WINDOW_TITLE and node["role"] != "application")
        if window is None:
            raise HarnessError("the program's window is not on the accessibility bus")
        listbox = _find([window], lambda node: node["role"] == "list")
        if listbox is None:
            raise HarnessError("the program's window has no list on the accessibility bus")
        return [item["name"] for item in listbox["children"] if item["role"] == "list item"]

    def next_box(self, title, timeout, other_than=()):
        """The next message box titled title, or None when the program ends
        first; raises HarnessError when neither happens within timeout."""
        def box_or_end():
            fresh = [w for w in self.desktop.windows(title) if w not in other_than]
            if fresh:
                return MessageBox(self.desktop, fresh[0], title)
            if not self.running():
                return "ended"
            return None
        found = wait_until(box_or_end, timeout, f'a message box "{title}" or the end',
                           interval=0.02)
        return None if found == "ended" else found


def _find(nodes, predicate):
    for node in nodes:
        if predicate(node):
            return node
        found = _find(node["children"], predicate)
        if found is not None:
            return found
    return None


class MessageBox:
    """A message box on the desktop, found by its title."""

    def __init__(self, desktop, window, title):
        self.desktop = desktop
        self.window = window
        self.title = title

    def text(self):
        """The box's text, read over the accessibility bus."""
        box = _find(self.desktop.accessibility_tree(),
                    lambda node: node["name"] == self.title and node["role"] in ("alert", "dialog"))
        if box is None:
            raise HarnessError(f'the message box "{self.title}" is not on the accessibility bus')
        label = _find(box["children"], lambda node: node["role"] == "label" and node["name"])
        return label["name"] if label is not None else ""

    def close(self, timeout=20):
        """Answers the box with Return and waits until it is gone; returns the
        time of the answer on the monotonic clock."""
        answered = time.monotonic()
        self.desktop.press_return(self.window)
        wait_until(lambda: self.window not in self.desktop.windows(self.title), timeout,
                   f'the message box "{self.title}" to close', interval=0.02)
        return answered


def collapse_polls(commands, poll="DATA:POINTS?"):
    """The commands with each run of repeated polls shown once."""
    collapsed = []
    for command in commands:
        if command == poll and collapsed and collapsed[-1] == poll:
            continue
        collapsed.append(command)
    return collapsed


def run_complete(events, runs=1):
    """True once the transcript shows runs whole runs: 40 readings removed
    and the error queue read after them, each time."""
    removed = 0
    complete = 0
    for event in events:
        if event.kind != "RX":
            continue
        if event.text == "DATA:REMove? 1":
            removed += 1
        elif event.text == "SYSTem:ERRor?" and removed == 40:
            complete += 1
            removed = 0
    return complete >= runs
