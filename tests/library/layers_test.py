#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Fails when a source of the I/O library includes a header of a layer above
its own, or of the program, or Qt outside the widgets; and when the
command-line tool or the VISA library reach past the public API."""

import pathlib
import re
import sys

ORDER = ["include", "core", "transports", "discovery", "api", "widgets"]
# api and widgets are both on top: neither may include the other.
MAY_INCLUDE = {
    "include": {"include"},
    "core": {"include", "core"},
    "transports": {"include", "core", "transports"},
    "discovery": {"include", "core", "transports", "discovery"},
    "api": {"include", "core", "transports", "discovery", "api"},
    "widgets": {"include", "core", "transports", "discovery", "widgets", "io"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]', re.M)

library = pathlib.Path(sys.argv[1]) / "corvalenlib"
wrong = []
for source in sorted(library.rglob("*")):
    if source.suffix not in (".h", ".cpp"):
        continue
    layer = source.relative_to(library).parts[0]
    if layer not in MAY_INCLUDE:
        continue
    for header in INCLUDE.findall(source.read_text()):
        if header.startswith("corvalen/"):
            target = "include"
        elif header.startswith("corvalenlib/"):
            target = header.split("/")[1]
        elif header.startswith("io/"):
            target = "io"
        elif re.match(r"Q[A-Z]|Qt", header):
            target = "widgets"
        else:
            continue
        if target not in MAY_INCLUDE[layer]:
            wrong.append("%s includes %s (%s may not include %s)" % (source.relative_to(library), header, layer, target))
root = pathlib.Path(sys.argv[1])
for user in ("tools", "visa"):
    for source in sorted((root / user).rglob("*")):
        if source.suffix not in (".h", ".cpp", ".c"):
            continue
        for header in INCLUDE.findall(source.read_text()):
            if header.startswith(("corvalenlib/", "io/")) or re.match(r"Q[A-Z]|Qt", header):
                wrong.append("%s includes %s (only the public API <corvalen/...>)" % (source.relative_to(root), header))
print("\n".join(wrong) or "every include stays within its layer or below")
sys.exit(1 if wrong else 0)
