# SPDX-License-Identifier: MIT
"""tq820-sim's VXI-11 server against clients nobody here wrote: PyVISA with
pyvisa-py, and lxi-tools' "lxi scpi"; plus a bare RPC client for what those
never send (a bad link, an oversized write, the read reasons, UDP GETPORT).
Both outside clients ask the portmapper on port 111 first, so this runs in a
network namespace of its own (tests/support/in-netns).
Usage: vxi11_clients_test.py PATH-TO-tq820-sim"""

import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import pyvisa

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simharness import SETUP, Link  # noqa: E402

BINARY = None
INST0 = "TCPIP::127.0.0.1::inst0::INSTR"
GATEWAY = "TCPIP::127.0.0.1::gpib0,9::INSTR"
GARBAGE = b"\x9f\x02#@\xff\x7f%q\x01\xc3(\x0b~\x80\x1b"


class VxiSimulator:
    """tq820-sim serving VXI-11 (and TCP) with its portmapper on port 111."""

    def __init__(self, *options):
        self.dir = tempfile.TemporaryDirectory()
        self.transcript = os.path.join(self.dir.name, "transcript.txt")
        self.process = subprocess.Popen(
            [BINARY, "--tcp", "0", "--vxi11", "0", "--portmapper", "--transcript", self.transcript,
             *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        lines = [self.process.stdout.readline().strip() for _ in range(3)]
        kinds = [line.split(" ")[0] for line in lines]
        assert kinds == ["TCP", "VXI11", "PORTMAPPER"], (lines, self.process.stderr.read())
        self.tcp_port = int(lines[0].rsplit(":", 1)[1])
        self.vxi11_port = int(lines[1].rsplit(":", 1)[1])

    def events(self, kind):
        with open(self.transcript, encoding="ascii", errors="replace") as transcript:
            return [line.rstrip("\n").split(" ", 2)[2] for line in transcript
                    if line.split(" ", 2)[1] == kind]

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        self.dir.cleanup()


class Case(unittest.TestCase):
    def start(self, *options):
        self.sim = VxiSimulator(*options)
        self.addCleanup(self.sim.close)
        self.manager = pyvisa.ResourceManager("@py")
        self.addCleanup(self.manager.close)

    def open(self, resource, timeout=3000):
        instrument = self.manager.open_resource(resource, read_termination="\n",
                                                write_termination="\n", timeout=timeout)
        self.addCleanup(instrument.close)
        return instrument


class ThroughPyVisa(Case):
    # The program's dialogue, with the exact lines the instrument must have
    # received. (pyvisa-py sets END on every block of a write when the link
    # takes fewer than 1024 bytes, below the least VXI-11 allows: so no
    # short --max-recv-size here.)
    DIALOGUES = [
        ("inst0", [], INST0),
        ("gateway", ["--gateway"], GATEWAY),
        ("gateway at address 22", ["--gateway", "--gpib-address", "22"],
         "TCPIP::127.0.0.1::gpib0,22::INSTR"),
        ("fragments and small blocks", ["--rpc-fragment", "3", "--read-block", "5"], INST0),
    ]

    def test_the_program_dialogue(self):
        for name, options, resource in self.DIALOGUES:
            with self.subTest(name):
                self.start(*options)
                instrument = self.open(resource)
                sent = []
                for command, expected in SETUP:
                    sent.append(command)
                    if "?" in command:
                        reply = instrument.query(command)
                        self.assertEqual(reply, expected or reply, command)
                    else:
                        instrument.write(command)
                self.assertIn("TQ820A", instrument.query("*IDN?"))
                instrument.write("TRIGger:COUNt 0")  # -222 queued: status byte bit 2
                self.assertEqual(instrument.read_stb(), 4)
                self.assertEqual(instrument.query("SYSTem:ERRor?"), '-222,"Data out of range"')
                sent += ["*IDN?", "TRIGger:COUNt 0", "SYSTem:ERRor?"]
                self.assertEqual(self.sim.events("RX"), sent)
                self.doCleanups()

    def test_a_device_that_is_not_there_is_refused(self):
        for name, options, resource, device in [
                ("inst0 behind a gateway", ["--gateway"], INST0, "inst0"),
                ("another address", ["--gateway"], "TCPIP::127.0.0.1::gpib0,8::INSTR", "gpib0,8"),
                ("a gateway device on a LAN instrument", [], GATEWAY, "gpib0,9")]:
            with self.subTest(name):
                self.start(*options)
                with self.assertRaisesRegex(Exception, "error creating link: 3"):
                    self.open(resource)
                self.assertEqual(self.sim.events("FAULT")[-1],
                                 'VXI-11: link to "%s" refused: device not accessible' % device)
                self.doCleanups()

    def test_a_silent_instrument_times_out_without_holding_up_the_others(self):
        self.start()
        instrument = self.open(INST0, timeout=1500)
        instrument.write("DATA:REMove? 1")  # nothing stored: no reply
        outcome = {}

        def read():
            started = time.monotonic()
            try:
                instrument.read()
            except pyvisa.errors.VisaIOError as error:
                outcome["error"] = error.error_code
            outcome["took"] = time.monotonic() - started

        reader = threading.Thread(target=read)
        reader.start()
        time.sleep(0.2)
        link = Link(socket.create_connection(("127.0.0.1", self.sim.tcp_port), timeout=5))
        started = time.monotonic()
        self.assertIn("TQ820A", link.ask("*IDN?", timeout=1.0))
        self.assertLess(time.monotonic() - started, 0.5)
        self.assertTrue(reader.is_alive())
        link.close()
        reader.join(10)
        self.assertEqual(outcome.get("error"), pyvisa.constants.StatusCode.error_timeout)
        self.assertGreater(outcome["took"], 1.3)
        self.assertLess(outcome["took"], 3.0)
        self.assertEqual(instrument.query("*OPC?"), "1")  # the link still serves

    def test_faults_on_this_transport(self):
        self.start("--reply-delay", "300", "--garbage-reply", "2", "--close-after", "4")
        instrument = self.open(INST0, timeout=100)
        with self.assertRaises(pyvisa.errors.VisaIOError):
            instrument.query("*IDN?")  # late beyond the 100 ms
        instrument.clear()  # drops the late reply
        instrument.timeout = 2000
        started = time.monotonic()
        instrument.write("*OPC?")
        self.assertEqual(instrument.read_raw(), GARBAGE + b"\n")
        self.assertGreater(time.monotonic() - started, 0.29)
        self.assertEqual(instrument.query("*OPC?"), "1")
        instrument.write("*CLS")  # the fourth line: the connection closes
        with self.assertRaises(Exception):
            instrument.query("*OPC?")
        self.assertIn("connection closed after 4 commands", self.sim.events("FAULT"))
        self.assertEqual(self.sim.events("CLEAR"), ["inst0"])


class ThroughLxiTools(unittest.TestCase):
    def test_lxi_scpi(self):
        for options, answers in [([], True),
                                 (["--rpc-fragment", "2", "--read-block", "3"], True),
                                 (["--gateway"], False)]:
            with self.subTest(options=options):
                sim = VxiSimulator(*options)
                try:
                    done = subprocess.run(["lxi", "scpi", "--address", "127.0.0.1", "--timeout", "3",
                                           "*IDN?"], capture_output=True, text=True, timeout=20)
                    identity = "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0"
                    if answers:
                        self.assertEqual((done.returncode, done.stdout.strip()), (0, identity))
                        self.assertEqual(sim.events("RX"), ["*IDN?"])
                    else:
                        self.assertNotIn(identity, done.stdout)
                        self.assertEqual(sim.events("RX"), [])
                finally:
                    sim.close()


class BareRpc:
    """Just enough ONC RPC to send calls no library would."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.xid = 0x1000

    def call(self, procedure, arguments, program=0x0607AF, version=1):
        self.xid += 1
        record = struct.pack(">6I4I", self.xid, 0, 2, program, version, procedure, 0, 0, 0, 0)
        record += arguments
        self.sock.sendall(struct.pack(">I", 0x80000000 | len(record)) + record)
        reply = b""
        last = False
        while not last:
            header = struct.unpack(">I", self._exactly(4))[0]
            last = bool(header & 0x80000000)
            reply += self._exactly(header & 0x7FFFFFFF)
        xid, kind, state, _, _, accept = struct.unpack(">6I", reply[:24])
        assert (xid, kind, state) == (self.xid, 1, 0), reply
        return accept, reply[24:]

    def _exactly(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise EOFError("closed")
            data += chunk
        return data


def opaque(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


class ThroughBareRpc(unittest.TestCase):
    def test_what_libraries_never_send(self):
        sim = VxiSimulator("--max-recv-size", "8")
        self.addCleanup(sim.close)
        rpc = BareRpc(sim.vxi11_port)
        accept, body = rpc.call(10, struct.pack(">iII", 7, 0, 0) + opaque(b"inst0"))
        error, lid, _, max_recv = struct.unpack(">iiII", body)
        self.assertEqual((accept, error, max_recv), (0, 0, 8))

        def write(data, link=lid, flags=8):
            return struct.unpack(">iI", rpc.call(11, struct.pack(">iIIi", link, 1000, 0, flags) +
                                                 opaque(data))[1])

        def read(size, flags=0, term=0, link=lid):
            body = rpc.call(12, struct.pack(">iIIIii", link, size, 200, 0, flags, term))[1]
            error, reason, length = struct.unpack(">iiI", body[:12])
            return error, reason, body[12:12 + length]

        self.assertEqual(write(b"*IDN?\n"), (0, 6))
        self.assertEqual(write(b"123456789"), (5, 0))  # over the announced 8 bytes
        self.assertEqual(write(b"*OPC?", link=lid + 1), (4, 0))
        self.assertEqual(read(4, link=lid + 1), (4, 0, b""))
        self.assertEqual(read(4), (0, 1, b"CORV"))  # REQCNT
        self.assertEqual(read(100, flags=128, term=ord(",")), (0, 2, b"ALEN,"))  # CHR
        self.assertEqual(read(100)[:2], (0, 4))  # END with the line end
        self.assertEqual(write(b"*O", flags=0), (0, 2))  # no END: the line waits
        self.assertEqual(write(b"PC?", flags=8), (0, 3))
        self.assertEqual(read(100, flags=128, term=10), (0, 6, b"1\n"))  # CHR and END at once
        self.assertEqual(read(100), (15, 0, b""))  # nothing to read: I/O timeout
        self.assertEqual(rpc.call(30, b"")[0], 3)  # PROC_UNAVAIL
        self.assertEqual(rpc.call(10, b"", program=0x0607B0)[0], 1)  # PROG_UNAVAIL
        self.assertEqual(rpc.call(11, b"\0\0\0\1")[0], 4)  # GARBAGE_ARGS
        self.assertEqual(struct.unpack(">i", rpc.call(23, struct.pack(">i", lid))[1]), (0,))
        self.assertEqual(sim.events("RX"), ["*IDN?", "*OPC?"])

    def test_portmapper_getport_over_tcp_and_udp(self):
        sim = VxiSimulator()
        self.addCleanup(sim.close)
        getport = struct.pack(">4I", 0x0607AF, 1, 6, 0)
        accept, body = BareRpc(111).call(3, getport, program=100000, version=2)
        self.assertEqual((accept, struct.unpack(">I", body)[0]), (0, sim.vxi11_port))
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp.settimeout(5)
        self.addCleanup(udp.close)
        for program, port in [(0x0607AF, sim.vxi11_port), (0x0607B1, 0)]:
            udp.sendto(struct.pack(">10I", 77, 0, 2, 100000, 2, 3, 0, 0, 0, 0) +
                       struct.pack(">4I", program, 1, 6, 0), ("127.0.0.1", 111))
            reply = udp.recv(100)
            self.assertEqual(struct.unpack(">7I", reply), (77, 1, 0, 0, 0, 0, port))


def peak_memory_mb(process):
    """The simulator's peak resident set so far (VmHWM), in MiB."""
    with open("/proc/%d/status" % process.pid, encoding="ascii") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    raise AssertionError("no VmHWM in /proc/%d/status" % process.pid)


def closed_within(sock, seconds):
    """True when the peer closes (or resets) the connection within seconds."""
    sock.settimeout(seconds)
    try:
        return sock.recv(4096) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


class HostileClients(unittest.TestCase):
    """Clients that hold connections open, trickle bytes or never read."""

    def start(self, *options):
        sim = VxiSimulator(*options)
        self.addCleanup(sim.close)
        return sim

    def hold(self, port, count):
        held = [socket.create_connection(("127.0.0.1", port), timeout=5) for _ in range(count)]
        for sock in held:
            self.addCleanup(sock.close)
        return held

    def test_a_good_client_is_served_while_sixteen_idle_ones_are_held(self):
        sim = self.start()
        for port in (111, sim.vxi11_port):
            held = self.hold(port, 16)
            held[-1].sendall(b"\x80\x00")  # a slow client: half a record mark
        time.sleep(0.3)  # all of them accepted
        manager = pyvisa.ResourceManager("@py")
        self.addCleanup(manager.close)
        started = time.monotonic()
        instrument = manager.open_resource(INST0, read_termination="\n", timeout=3000)
        self.addCleanup(instrument.close)
        self.assertIn("TQ820A", instrument.query("*IDN?"))
        print("good client with 16 idle held on each channel: served in %.3f s"
              % (time.monotonic() - started), file=sys.stderr)
        for channel in ("portmapper", "VXI-11"):
            self.assertTrue(any(fault.startswith(channel + ": 16 connections; the longest idle")
                                for fault in sim.events("FAULT")), channel)

    def test_idle_and_trickling_connections_time_out(self):
        sim = self.start("--idle-timeout", "1")
        idle = self.hold(111, 1) + self.hold(sim.vxi11_port, 1)
        trickling = self.hold(111, 1) + self.hold(sim.vxi11_port, 1)
        started = time.monotonic()
        for byte in b"\x80\x00\x00":  # a record mark, a byte at a time, never finished
            for sock in trickling:
                sock.sendall(bytes([byte]))
            time.sleep(0.4)
        for sock in idle + trickling:
            self.assertTrue(closed_within(sock, 3.0))
        took = time.monotonic() - started
        self.assertGreater(took, 0.9)
        self.assertLess(took, 3.0)
        closed = [fault.split(":")[0] for fault in sim.events("FAULT")
                  if fault.endswith(" idle for 1 s; closed")]
        self.assertEqual(sorted(closed), ["VXI-11"] * 2 + ["portmapper"] * 2)

    # A client that floods queries and never reads their replies is cut off
    # with --reply-delay as without it, and the simulator stays small.
    def test_a_flood_of_delayed_replies_is_cut_off(self):
        for transport in ("TCP", "VXI-11"):
            with self.subTest(transport):
                sim = VxiSimulator("--reply-delay", "3000", "--max-recv-size", "65536")
                try:
                    flood = self.flood_tcp if transport == "TCP" else self.flood_vxi11
                    cut, sent = flood(sim)
                    peak = peak_memory_mb(sim.process)
                    faults = sim.events("FAULT")
                finally:
                    sim.close()  # port 111 free for the next
                print("%s flood with --reply-delay: %s after %.1f MB of queries, VmHWM %.1f MB"
                      % (transport, "cut off" if cut else "NOT cut off", sent / 1e6, peak),
                      file=sys.stderr)
                self.assertTrue(cut)
                self.assertLess(peak, 64)
                self.assertTrue(any("does not read its replies" in fault for fault in faults))

    FLOOD_BYTES = 16 << 20  # a simulator that never cuts off is given this much
    FLOOD_SECONDS = 10

    def flood_tcp(self, sim):
        sock = self.hold(sim.tcp_port, 1)[0]
        chunk = b"*IDN?\n" * 10000
        sent = 0
        deadline = time.monotonic() + self.FLOOD_SECONDS
        while sent < self.FLOOD_BYTES and time.monotonic() < deadline:
            try:
                sock.sendall(chunk)
            except (BrokenPipeError, ConnectionResetError):
                return True, sent
            sent += len(chunk)
        return closed_within(sock, 1.0), sent

    def flood_vxi11(self, sim):
        rpc = BareRpc(sim.vxi11_port)
        self.addCleanup(rpc.sock.close)
        body = rpc.call(10, struct.pack(">iII", 7, 0, 0) + opaque(b"inst0"))[1]
        lid = struct.unpack(">iiII", body)[1]
        queries = b"*IDN?\n" * 10000
        sent = 0
        deadline = time.monotonic() + self.FLOOD_SECONDS
        try:
            while sent < self.FLOOD_BYTES and time.monotonic() < deadline:
                rpc.call(11, struct.pack(">iIIi", lid, 1000, 0, 8) + opaque(queries))
                sent += len(queries)
        except (EOFError, ConnectionResetError, BrokenPipeError):
            return True, sent
        return False, sent


def main():
    global BINARY
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
