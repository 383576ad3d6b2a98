#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The numbers of our visa.h and visatype.h against pyvisa.constants (Debian's
python3-pyvisa), and the widths of the types on this machine: every VI_
macro the headers define is compiled into a C program that prints it, and
each one PyVISA also knows must have PyVISA's value.

    header_values_test.py INCLUDE_DIR C_COMPILER
"""

import ctypes
import os
import re
import subprocess
import sys
import tempfile

from pyvisa import constants

INCLUDE, CC = sys.argv[1:3]

# The attributes the library answers, and the codes PyVISA's backend relies
# on: they must be there, not merely agree when present.
REQUIRED = """VI_ATTR_TMO_VALUE VI_ATTR_TERMCHAR VI_ATTR_TERMCHAR_EN VI_ATTR_SEND_END_EN VI_ATTR_SUPPRESS_END_EN
VI_ATTR_INTF_TYPE VI_ATTR_INTF_NUM VI_ATTR_RSRC_NAME VI_ATTR_RSRC_CLASS VI_ATTR_RSRC_MANF_NAME VI_ATTR_TCPIP_ADDR
VI_ATTR_TCPIP_PORT VI_ATTR_GPIB_PRIMARY_ADDR VI_ATTR_GPIB_SECONDARY_ADDR VI_ATTR_ASRL_BAUD VI_ATTR_ASRL_DATA_BITS
VI_ATTR_ASRL_PARITY VI_ATTR_ASRL_STOP_BITS VI_ATTR_ASRL_FLOW_CNTRL VI_SUCCESS VI_SUCCESS_TERM_CHAR VI_SUCCESS_MAX_CNT
VI_ERROR_TMO VI_ERROR_NSUP_OPER VI_ERROR_NSUP_ATTR VI_ERROR_NSUP_FMT VI_ERROR_INV_OBJECT VI_ERROR_RSRC_NFOUND
VI_ERROR_INV_RSRC_NAME VI_SUCCESS_EVENT_DIS VI_SUCCESS_QUEUE_EMPTY VI_ALL_ENABLED_EVENTS VI_ALL_MECH VI_FIND_BUFLEN
VI_TMO_INFINITE VI_NO_SEC_ADDR VI_EXCLUSIVE_LOCK VI_SHARED_LOCK VI_ERROR_INV_LOCK_TYPE""".split()

# Type, the width VISA gives it on LP64 (VPP-4.3.2).
WIDTHS = [("ViUInt64", 8), ("ViUInt32", 4), ("ViInt32", 4), ("ViUInt16", 2), ("ViUInt8", 1), ("ViStatus", 4),
          ("ViSession", 4), ("ViObject", 4), ("ViAttr", 4), ("ViBoolean", 2), ("ViReal64", 8), ("ViEventType", 4),
          ("ViAccessMode", 4), ("ViAttrState", ctypes.sizeof(ctypes.c_void_p)),
          ("ViBusAddress", ctypes.sizeof(ctypes.c_void_p)), ("ViBusAddress64", 8), ("ViAddr", ctypes.sizeof(ctypes.c_void_p))]

failures = []


def check(what, ok, detail=""):
    if not ok:
        print("FAIL: %s %s" % (what, detail))
        failures.append(what)


names = []
for header in ("visatype.h", "visa.h"):
    with open(os.path.join(INCLUDE, header)) as text:
        names += re.findall(r"^#define (VI_[A-Z0-9_]+)\s+\S", text.read(), re.M)
names = sorted(set(names) - {"VI_SPEC_VERSION"})

program = ['#include <stdio.h>', '#include <visa.h>', 'int main(void) {']
program += ['printf("%s %%lld\\n", (long long)(%s));' % (n, n) for n in names]
program += ['printf("sizeof:%s %%zu\\n", sizeof(%s));' % (t, t) for t, _ in WIDTHS]
program += ["return 0; }"]
with tempfile.TemporaryDirectory() as scratch:
    source = os.path.join(scratch, "values.c")
    with open(source, "w") as out:
        out.write("\n".join(program))
    binary = os.path.join(scratch, "values")
    subprocess.run([CC, "-std=c99", "-Wall", "-Werror", "-pedantic", "-I", INCLUDE, source, "-o", binary], check=True)
    lines = subprocess.run([binary], check=True, capture_output=True, text=True).stdout.split("\n")

ours = dict(line.split(" ") for line in lines if line)
compared = 0
for name in names:
    theirs = getattr(constants, name, None)
    if isinstance(theirs, int):
        compared += 1
        # pyvisa writes VI_ATTR_PXI_SLOTPATH and a few others as 32-bit two's complement
        check(name, int(ours[name]) == theirs or int(ours[name]) == theirs & 0xFFFFFFFF,
              "ours %s, pyvisa %d" % (ours[name], theirs))
for name in REQUIRED:
    check("%s is defined" % name, name in ours)
for type_name, width in WIDTHS:
    check("sizeof(%s)" % type_name, int(ours["sizeof:" + type_name]) == width, ours["sizeof:" + type_name])

print("%d macros, %d compared with pyvisa.constants, %d type widths" % (len(names), compared, len(WIDTHS)))
if failures:
    sys.exit("%d failed" % len(failures))
print("all passed")
