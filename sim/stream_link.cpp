// SPDX-License-Identifier: MIT
#include "stream_link.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tq820sim {

void recordEvents(Transcript& transcript, const std::vector<Event>& events) {
    for (const Event& event : events) {
        const char* kind = event.kind == Event::Kind::Received ? "RX"
                           : event.kind == Event::Kind::Sent   ? "TX"
                                                               : "FAULT";
        transcript.write(kind, event.text);
    }
}

void StreamLink::open(int fd, bool socket, std::string peer) {
    close();
    fd_ = fd;
    socket_ = socket;
    peer_ = std::move(peer);
    session_ = std::make_unique<Session>(core_.instrument, core_.faults);
    core_.transcript.write("OPEN", peer_);
}

void StreamLink::close() {
    if (!isOpen()) return;
    ::close(fd_);
    fd_ = -1;
    core_.transcript.write("CLOSE", peer_);
    session_.reset();
    delayed_.clear();
    unsent_.clear();
    closeWhenSent_ = false;
}

pollfd StreamLink::pollRequest() const {
    return {fd_, static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT)), 0};
}

std::optional<Steady::time_point> StreamLink::deadline() const {
    if (!isOpen()) return std::nullopt;
    return delayed_.nextDue();
}

void StreamLink::service(short revents) {
    releaseDelayed();
    if (isOpen() && (revents & POLLOUT) != 0) flush();
    if (isOpen() && (revents & (POLLIN | POLLHUP | POLLERR)) != 0) receive();
}

void StreamLink::receive() {
    char buffer[65536];
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got < 0 && errno == EIO && !socket_) return;  // no one has the slave open
    if (got <= 0) {
        close();
        return;
    }
    Output output = session_->receive(std::string_view(buffer, static_cast<std::size_t>(got)));
    recordEvents(core_.transcript, output.events);
    const auto due = Steady::now() + std::chrono::milliseconds(core_.options.replyDelayMs);
    for (std::string& reply : output.replies) {
        if (core_.options.replyDelayMs > 0)
            delayed_.hold(due, std::move(reply), true);
        else
            unsent_ += reply;
    }
    if (output.close) closeWhenSent_ = true;
    flush();
}

void StreamLink::releaseDelayed() {
    if (!isOpen()) return;
    bool released = false;
    const auto now = Steady::now();
    while (std::optional<std::string> reply = delayed_.takeDue(now)) {
        unsent_ += *reply;
        released = true;
    }
    if (released) flush();
}

// One write for everything that is ready; what the peer cannot take yet
// waits for POLLOUT, within a bound that counts the replies held back too.
void StreamLink::flush() {
    while (!unsent_.empty()) {
        const ssize_t sent = socket_
                                 ? ::send(fd_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL)
                                 : ::write(fd_, unsent_.data(), unsent_.size());
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) break;
            close();
            return;
        }
        unsent_.erase(0, static_cast<std::size_t>(sent));
    }
    if (backlog() > kMaxBacklog) {
        core_.transcript.write("FAULT", "peer does not read its replies; connection closed");
        close();
        return;
    }
    if (closeWhenSent_ && idle()) close();
}

}  // namespace tq820sim
