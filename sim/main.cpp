// SPDX-License-Identifier: MIT
// tq820-sim: one simulated instrument served by several front ends (TCP,
// a serial pseudo-terminal, Prologix, VXI-11) from one poll() loop. main only reads the
// options and wires the front ends to the shared core.

#include "announce.h"
#include "options.h"
#include "prologix_front.h"
#include "pty_front.h"
#include "tcp_front.h"
#include "vxi11_front.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace tq820sim {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) {
    stopRequested = 1;
}

class RealClock final : public Clock {
public:
    RealClock(Steady::time_point start, double speed) : start_(start), speed_(speed) {}
    [[nodiscard]] double seconds() const override {
        return std::chrono::duration<double>(Steady::now() - start_).count() * speed_;
    }
    [[nodiscard]] double epochSeconds() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

private:
    Steady::time_point start_;
    double speed_;
};

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Held back but while the front ends wait (see runFrontEnds), so that a
    // stop that comes just before the wait ends it instead of being missed.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

// Opens every front end asked for, prints where each listens, and serves
// until a signal comes or none is left.
void serve(const SimulatorOptions& options) {
    const Steady::time_point start = Steady::now();
    RealClock clock(start, options.speed);
    Instrument instrument(clock, options.instrument);
    ConnectionFaults faults = options.faults;
    Transcript transcript(options.transcript, start);
    SharedCore core{instrument, faults, transcript, options};
    for (const std::string& fault : describeFaults(options)) transcript.write("FAULT", fault);

    std::vector<std::unique_ptr<FrontEnd>> frontEnds;
    std::vector<Announcement> announcements;
    if (options.tcp) {
        auto tcp = std::make_unique<TcpFront>(core);
        const std::string address = tcp->listen();
        std::printf("TCP %s\n", address.c_str());
        const auto colon = address.rfind(':');
        announcements.push_back({"_scpi-raw._tcp", address.substr(0, colon),
                                 static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1)))});
        frontEnds.push_back(std::move(tcp));
    }
    if (options.pty) {
        auto pty = std::make_unique<PtyFront>(core);
        std::printf("PTY %s\n", pty->open().c_str());
        frontEnds.push_back(std::move(pty));
    }
    openPrologixFronts(core, frontEnds);
    openVxi11Fronts(core, frontEnds);
    std::fflush(stdout);
    if (options.portmapper) announcements.push_back({"_vxi-11._tcp", options.vxi11Host, 111});
    std::optional<Announcer> announcer;
    if (options.announce) announcer.emplace(std::move(announcements));

    std::vector<FrontEnd*> driven;
    for (const auto& frontEnd : frontEnds) driven.push_back(frontEnd.get());
    runFrontEnds(driven, stopRequested);
}

}  // namespace
}  // namespace tq820sim

int main(int argc, char** argv) {
    using namespace tq820sim;
    SimulatorOptions options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const OptionsError& error) {
        std::fprintf(stderr, "tq820-sim: %s\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(versionText().c_str(), stdout);
        return 0;
    }
    try {
        installSignalHandlers();
        serve(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tq820-sim: %s\n", error.what());
        return 1;
    }
    return 0;
}
