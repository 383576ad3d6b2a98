// SPDX-License-Identifier: MIT
// The simulated Prologix controllers: a GPIB-ETHERNET on a TCP port and a
// GPIB-USB on a serial pseudo-terminal, each with the instrument on its
// bus. The controller model (prologix.h) does the work; this is its I/O.
#pragma once

#include "delayed_replies.h"
#include "front_end.h"
#include "prologix.h"

#include <memory>
#include <string>
#include <utility>

namespace tq820sim {

// The controller's time: real seconds since the front end began, whatever
// --speed does to the instrument's.
class SteadyClock final : public Clock {
public:
    SteadyClock() : start_(Steady::now()) {}
    [[nodiscard]] double seconds() const override;
    [[nodiscard]] double epochSeconds() const override;
    [[nodiscard]] Steady::time_point at(double seconds) const;

private:
    Steady::time_point start_;
};

class PrologixFront final : public FrontEnd {
public:
    enum class Transport { Tcp, Pty };

    PrologixFront(SharedCore& core, std::shared_ptr<PrologixFaults> faults, Transport transport);
    ~PrologixFront() override;
    PrologixFront(const PrologixFront&) = delete;
    PrologixFront& operator=(const PrologixFront&) = delete;

    // Listens (TCP) or opens the pseudo-terminal; returns "HOST:PORT" or
    // the slave's path.
    std::string open();

    void collect(std::vector<pollfd>& fds) override;
    void service(std::span<const pollfd> fds) override;
    [[nodiscard]] std::optional<Steady::time_point> deadline() const override;
    [[nodiscard]] bool active() const override;

private:
    void accept();
    void receive();
    void apply(PrologixOutput out);
    void releaseDelayed();
    void flush();
    void closeClient();

    SharedCore& core_;
    std::shared_ptr<PrologixFaults> faults_;
    Transport transport_;
    SteadyClock clock_;
    PrologixController controller_;
    int listener_ = -1;
    int client_ = -1;  // the connection, or the pseudo-terminal's master
    int slave_ = -1;   // kept open so that the master never hangs up
    std::string peer_;
    DelayedReplies delayed_;
    std::string unsent_;
    bool closeWhenSent_ = false;
};

// Opens the Prologix front ends the options ask for, printing where each
// serves ("PRLGX-TCP HOST:PORT", "PRLGX-PTY /dev/pts/N"); they share one
// count of reads for the faults.
void openPrologixFronts(SharedCore& core, std::vector<std::unique_ptr<FrontEnd>>& frontEnds);

}  // namespace tq820sim
