# SPDX-License-Identifier: MIT
"""Starts tq820-sim with the front ends a VISA test asks for and reads the
start-up lines it prints ("TCP 127.0.0.1:PORT", "PTY /dev/pts/N", ...)."""

import os
import select
import subprocess
import time


class Sim:
    def __init__(self, binary, *options):
        self.process = subprocess.Popen([binary, *options], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        wanted = sum(1 for o in options if o in ("--tcp", "--pty", "--vxi11", "--portmapper", "--prologix-tcp"))
        self.lines = {}
        seen = b""
        deadline = time.monotonic() + 10
        # The descriptor itself: a buffered readline would hide lines from select.
        while seen.count(b"\n") < wanted and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(self.process.stdout.fileno(), 4096) if ready else b""
            if not chunk:
                break
            seen += chunk
        for line in seen.decode().splitlines():
            kind, _, where = line.partition(" ")
            self.lines[kind] = where
        if len(self.lines) < wanted:
            self.close()
            raise RuntimeError("the simulator did not start: %r" % self.lines)

    def port(self, kind):
        return int(self.lines[kind].rsplit(":", 1)[1])

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
