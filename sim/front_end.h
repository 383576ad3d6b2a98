// SPDX-License-Identifier: MIT
// What the simulator's poll() loop drives: each transport (TCP, the serial
// pseudo-terminal, ...) is a front end that names the descriptors it waits on
// and the next moment it has work due without any of them becoming ready.
// Every front end talks to the one instrument core they all share.
#pragma once

#include "instrument.h"
#include "options.h"
#include "session.h"
#include "transcript.h"

#include <poll.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <span>
#include <vector>

namespace tq820sim {

using Steady = std::chrono::steady_clock;

// The instrument and what every front end shares with it.
struct SharedCore {
    Instrument& instrument;
    ConnectionFaults& faults;
    Transcript& transcript;
    const SimulatorOptions& options;
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // Appends the descriptors to wait on, with the events wanted.
    virtual void collect(std::vector<pollfd>& fds) = 0;
    // Called after every poll() with what it reported for the descriptors
    // collect() appended, in the same order; also does the work that fell
    // due (delayed replies, time-outs).
    virtual void service(std::span<const pollfd> fds) = 0;
    // The next moment work falls due on its own; nothing when none waits.
    [[nodiscard]] virtual std::optional<Steady::time_point> deadline() const = 0;
    // False once it has nothing left to serve.
    [[nodiscard]] virtual bool active() const = 0;
};

// Runs the front ends until stop becomes non-zero or none is active.
void runFrontEnds(std::span<FrontEnd* const> frontEnds, const volatile std::sig_atomic_t& stop);

void setNonBlocking(int fd);
[[noreturn]] void failWithErrno(const std::string& what);

}  // namespace tq820sim
