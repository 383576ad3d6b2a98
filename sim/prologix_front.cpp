// SPDX-License-Identifier: MIT
#include "prologix_front.h"

#include "tcp_front.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tq820sim {

double SteadyClock::seconds() const {
    return std::chrono::duration<double>(Steady::now() - start_).count();
}

double SteadyClock::epochSeconds() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Steady::time_point SteadyClock::at(double seconds) const {
    return start_ + std::chrono::ceil<Steady::duration>(std::chrono::duration<double>(seconds));
}

PrologixFront::PrologixFront(SharedCore& core, std::shared_ptr<PrologixFaults> faults,
                             Transport transport)
    : core_(core),
      faults_(std::move(faults)),
      transport_(transport),
      controller_(core.instrument, core.faults, *faults_, clock_,
                  {{core.options.gpibAddress, core.options.gpibSecondary},
                   transport == Transport::Tcp ? "GPIB-ETHERNET" : "GPIB-USB"}) {}

PrologixFront::~PrologixFront() {
    closeClient();
    if (listener_ >= 0) ::close(listener_);
}

std::string PrologixFront::open() {
    if (transport_ == Transport::Tcp) {
        auto [listener, name] = listenTcp(core_.options.prologixHost, core_.options.prologixPort);
        listener_ = listener;
        return name;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) failWithErrno("posix_openpt");
    client_ = master;  // closed by the destructor from here on
    if (grantpt(master) != 0 || unlockpt(master) != 0) failWithErrno("grantpt/unlockpt");
    const char* name = ptsname(master);
    if (name == nullptr) failWithErrno("ptsname");
    peer_ = name;
    slave_ = ::open(peer_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) failWithErrno("open " + peer_);
    termios line{};
    if (tcgetattr(slave_, &line) == 0) {
        cfmakeraw(&line);
        tcsetattr(slave_, TCSANOW, &line);
    }
    setNonBlocking(master);
    core_.transcript.write("OPEN", peer_);
    return peer_;
}

void PrologixFront::collect(std::vector<pollfd>& fds) {
    if (client_ >= 0) {
        fds.push_back({client_, static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT)), 0});
    } else if (listener_ >= 0) {
        fds.push_back({listener_, POLLIN, 0});
    }
}

void PrologixFront::service(std::span<const pollfd> fds) {
    releaseDelayed();
    if (client_ >= 0) apply(controller_.advance());
    for (const pollfd& fd : fds) {
        if (fd.fd == listener_ && client_ < 0) {
            if ((fd.revents & POLLIN) != 0) accept();
        } else if (fd.fd == client_) {
            if ((fd.revents & POLLOUT) != 0) flush();
            if (client_ >= 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0) receive();
        }
    }
}

std::optional<Steady::time_point> PrologixFront::deadline() const {
    if (client_ < 0) return std::nullopt;
    std::optional<Steady::time_point> next;
    if (const auto due = controller_.deadline()) next = clock_.at(*due);
    if (const auto due = delayed_.nextDue(); due && (!next || *due < *next)) next = due;
    return next;
}

bool PrologixFront::active() const {
    return listener_ >= 0 || client_ >= 0;
}

void PrologixFront::accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    client_ = fd;
    peer_ = peerName(fd);
    controller_.connect();
    core_.transcript.write("OPEN", peer_);
}

void PrologixFront::receive() {
    char buffer[65536];
    const ssize_t got = ::read(client_, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got < 0 && errno == EIO && transport_ == Transport::Pty) return;  // slave not open
    if (got <= 0) {
        closeClient();
        return;
    }
    apply(controller_.receive(std::string_view(buffer, static_cast<std::size_t>(got))));
}

void PrologixFront::apply(PrologixOutput out) {
    for (const BusEvent& event : out.events) core_.transcript.write(event.kind, event.text);
    if (!out.toHost.empty()) {
        if (core_.options.replyDelayMs > 0) {
            delayed_.hold(Steady::now() + std::chrono::milliseconds(core_.options.replyDelayMs),
                          std::move(out.toHost), true);
        } else {
            unsent_ += out.toHost;
        }
    }
    if (out.close) closeWhenSent_ = true;
    flush();
}

void PrologixFront::releaseDelayed() {
    const auto now = Steady::now();
    while (client_ >= 0) {
        std::optional<std::string> reply = delayed_.takeDue(now);
        if (!reply) break;
        unsent_ += *reply;
    }
    if (client_ >= 0) flush();
}

// Writes what the peer takes now; the rest waits for POLLOUT, within a bound
// that counts the replies held back too.
void PrologixFront::flush() {
    while (client_ >= 0 && !unsent_.empty()) {
        const ssize_t sent = transport_ == Transport::Tcp
                                 ? ::send(client_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL)
                                 : ::write(client_, unsent_.data(), unsent_.size());
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) break;
            closeClient();
            return;
        }
        unsent_.erase(0, static_cast<std::size_t>(sent));
    }
    if (unsent_.size() + delayed_.cost() > PrologixController::kMaxPending) {
        core_.transcript.write("FAULT", "peer does not read its replies; connection closed");
        closeClient();
        return;
    }
    if (closeWhenSent_ && unsent_.empty() && delayed_.empty()) closeClient();
}

// A closed pseudo-terminal is gone for good; a TCP port takes the next client.
void PrologixFront::closeClient() {
    if (client_ < 0) return;
    ::close(client_);
    client_ = -1;
    core_.transcript.write("CLOSE", peer_);
    delayed_.clear();
    unsent_.clear();
    closeWhenSent_ = false;
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
}

void openPrologixFronts(SharedCore& core, std::vector<std::unique_ptr<FrontEnd>>& frontEnds) {
    auto faults = std::make_shared<PrologixFaults>(core.options.prologixFaults);
    if (core.options.prologixTcp) {
        auto front = std::make_unique<PrologixFront>(core, faults, PrologixFront::Transport::Tcp);
        std::printf("PRLGX-TCP %s\n", front->open().c_str());
        frontEnds.push_back(std::move(front));
    }
    if (core.options.prologixPty) {
        auto front = std::make_unique<PrologixFront>(core, faults, PrologixFront::Transport::Pty);
        std::printf("PRLGX-PTY %s\n", front->open().c_str());
        frontEnds.push_back(std::move(front));
    }
}

}  // namespace tq820sim
