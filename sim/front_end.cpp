// SPDX-License-Identifier: MIT
#include "front_end.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tq820sim {

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void failWithErrno(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

namespace {

// Until the earliest deadline of any front end; forever when none has one.
int pollTimeoutMs(std::span<FrontEnd* const> frontEnds) {
    std::optional<Steady::time_point> next;
    for (const FrontEnd* frontEnd : frontEnds) {
        if (const auto due = frontEnd->deadline(); due && (!next || *due < *next)) next = due;
    }
    if (!next) return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Steady::now()).count();
    return static_cast<int>(std::clamp<decltype(wait)>(wait, 0, 3600000));
}

// The signal mask to wait with: the present one without the stop signals,
// which the program keeps blocked outside the wait.
sigset_t waitMask() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    sigdelset(&mask, SIGINT);
    sigdelset(&mask, SIGTERM);
    return mask;
}

// poll that lets the stop signals in only while it waits: a stop that came
// after the loop last looked at its flag ends this wait at once.
int waitForEvents(std::vector<pollfd>& fds, int timeoutMs, const sigset_t& mask) {
    if (timeoutMs < 0) return ::ppoll(fds.data(), fds.size(), nullptr, &mask);
    const timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1'000'000L};
    return ::ppoll(fds.data(), fds.size(), &timeout, &mask);
}

bool anyActive(std::span<FrontEnd* const> frontEnds) {
    return std::any_of(frontEnds.begin(), frontEnds.end(),
                       [](const FrontEnd* frontEnd) { return frontEnd->active(); });
}

}  // namespace

void runFrontEnds(std::span<FrontEnd* const> frontEnds, const volatile std::sig_atomic_t& stop) {
    std::vector<pollfd> fds;
    std::vector<std::size_t> firsts(frontEnds.size() + 1);
    const sigset_t mask = waitMask();
    while (stop == 0 && anyActive(frontEnds)) {
        fds.clear();
        for (std::size_t i = 0; i < frontEnds.size(); ++i) {
            firsts[i] = fds.size();
            frontEnds[i]->collect(fds);
        }
        firsts[frontEnds.size()] = fds.size();
        const int ready = waitForEvents(fds, pollTimeoutMs(frontEnds), mask);
        if (ready < 0) {
            if (errno != EINTR) failWithErrno("poll");
            continue;
        }
        for (std::size_t i = 0; i < frontEnds.size(); ++i) {
            frontEnds[i]->service(
                std::span<const pollfd>(fds.data() + firsts[i], firsts[i + 1] - firsts[i]));
        }
    }
}

}  // namespace tq820sim
