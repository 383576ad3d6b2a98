# SPDX-License-Identifier: MIT
"""The real tq820-scan where no window can open: it ends at once with one
line on standard error and status 4, not with Qt's abort (134).
Usage: test_no_display.py PATH-TO-tq820-scan [unittest arguments]"""
import os
import subprocess
import sys
import tempfile
import unittest

SCAN = None
NO_DISPLAY = 4


class NoDisplay(unittest.TestCase):
    # The environment's display settings, and what the line must say.
    CASES = [
        ("nothing set", {}, "no display to open the window on: neither DISPLAY nor "
                            "WAYLAND_DISPLAY is set"),
        ("an X display nobody serves", {"DISPLAY": ":29517"},
         "cannot open the window: could not connect to display :29517"),
        ("a platform Qt does not have", {"QT_QPA_PLATFORM": "nonesuch"},
         'cannot open the window: Could not find the Qt platform plugin "nonesuch"'),
    ]

    def test_ends_with_one_line_and_its_status(self):
        for name, settings, cause in self.CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as runtime:
                env = {key: value for key, value in os.environ.items()
                       if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                      "XDG_SESSION_TYPE")}
                env.update(settings, XDG_RUNTIME_DIR=runtime,
                           XDG_CONFIG_HOME=os.path.join(runtime, "config"))
                done = subprocess.run([SCAN], env=env, capture_output=True, text=True,
                                      timeout=30, stdin=subprocess.DEVNULL)
                self.assertEqual(done.returncode, NO_DISPLAY, done.stderr)
                lines = done.stderr.splitlines()
                self.assertEqual(len(lines), 1, done.stderr)
                self.assertTrue(lines[0].startswith("tq820-scan: " + cause), lines[0])
                self.assertEqual(done.stdout, "")


if __name__ == "__main__":
    SCAN = sys.argv.pop(1)
    unittest.main(verbosity=2)
