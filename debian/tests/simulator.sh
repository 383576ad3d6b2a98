# SPDX-License-Identifier: MIT
# Sourced by the tests: start_simulator starts the installed tq820-sim on a
# free loopback port and sets $resource to its raw-socket resource string;
# the simulator is stopped when the test's shell exits. $work must name a
# scratch folder.
sim_pid=
stop_simulator() {
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
}
trap stop_simulator EXIT

start_simulator() {
    # The file exists before the simulator's shell opens it, so that the
    # first look for the port cannot fail on a file not yet there.
    : >"$work/sim.out"
    tq820-sim --tcp 127.0.0.1:0 >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    port=
    for _ in $(seq 1 100); do
        port=$(sed -n 's/^TCP 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/sim.out")
        [ -z "$port" ] || break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "tq820-sim named no port: $(cat "$work/sim.err")" >&2; exit 1; }
    resource="TCPIP::127.0.0.1::$port::SOCKET"
}

# Fails unless program $1 loads library $2 (a soname) from the system's
# libdir, where the package put it.
uses_installed() {
    ldd "$1" | grep -E -q "$2 => (/usr)?/lib/[^ ]*/$2 " ||
        { echo "$1 does not use the installed $2: $(ldd "$1")" >&2; exit 1; }
}
