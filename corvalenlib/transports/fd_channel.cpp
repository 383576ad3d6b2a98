// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/fd_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {
namespace {

constexpr std::size_t kMaxDiscard = 16 * 1024 * 1024;

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    const auto left = deadline - steady_clock::now();
    if (left <= steady_clock::duration::zero()) return 0;
    // Round up so that poll never wakes a little before the deadline.
    return static_cast<int>(ceil<milliseconds>(left).count());
}

}  // namespace

void FdChannel::attach(int fd, Kind kind) {
    close();
    fd_ = fd;
    kind_ = kind;
    armedTimeout_ = std::chrono::microseconds{0};
    if (kind_ == Kind::Socket) {
        // Reads block, bounded by SO_RCVTIMEO; writes stay non-blocking per call.
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    }
}

void FdChannel::armReceiveTimeout(Deadline deadline) {
    using namespace std::chrono;
    // Zero would mean "wait for ever".
    const auto left = std::max(ceil<microseconds>(deadline - steady_clock::now()), microseconds{1});
    if (left == armedTimeout_) return;
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(duration_cast<seconds>(left).count());
    limit.tv_usec = static_cast<suseconds_t>((left % seconds{1}).count());
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) failOnError(errno, "setsockopt");
    armedTimeout_ = left;
}

void FdChannel::close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    inOverlongReply_ = false;
}

bool FdChannel::waitFor(short events, Deadline deadline) const {
    pollfd entry{fd_, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (ready > 0) return true;  // readiness, hang-up or error: the next call tells which
        if (ready == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            continue;
        }
        if (errno != EINTR) failOnError(errno, "poll");
    }
}

void FdChannel::failOnError(int error, std::string_view operation) const {
    if (error == EPIPE || error == ECONNRESET) throw IoError("connection closed by the instrument");
    if (error == EIO && kind_ == Kind::Terminal) throw IoError("the serial line hung up");
    throw IoError(std::string(operation) + " failed: " + std::strerror(error));
}

void FdChannel::writeAll(std::string_view data, std::chrono::milliseconds timeout) {
    if (fd_ < 0) throw IoError("the connection is closed");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!data.empty()) {
        const ssize_t sent = kind_ == Kind::Socket
                                 ? ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
                                 : ::write(fd_, data.data(), data.size());
        if (sent >= 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) failOnError(errno, "write");
        if (!waitFor(POLLOUT, deadline)) {
            throw TimeoutError("the instrument took no input within " + describeDuration(timeout));
        }
    }
}

bool FdChannel::receive(Deadline deadline) {
    int flags = 0;
    if (kind_ == Kind::Terminal) {
        if (!waitFor(POLLIN, deadline)) return false;
    } else if (std::chrono::steady_clock::now() >= deadline) {
        flags = MSG_DONTWAIT;  // no time left: take only what is there
    } else {
        armReceiveTimeout(deadline);
    }
    const auto space = buffer_.freeSpace();
    const ssize_t got = kind_ == Kind::Socket ? ::recv(fd_, space.data(), space.size(), flags)
                                              : ::read(fd_, space.data(), space.size());
    if (got > 0) {
        buffer_.commit(static_cast<std::size_t>(got));
        return true;
    }
    if (got == 0) {
        if (buffer_.pending() > 0) {
            throw IoError("connection closed by the instrument after " + std::to_string(buffer_.pending()) +
                          " bytes of an unfinished reply");
        }
        throw IoError(kind_ == Kind::Socket ? "connection closed by the instrument" : "the serial line hung up");
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::chrono::steady_clock::now() < deadline;
    if (errno != EINTR) failOnError(errno, "read");
    return true;
}

void FdChannel::readReply(std::string& reply, std::chrono::milliseconds timeout) {
    if (fd_ < 0) throw IoError("the connection is closed");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (inOverlongReply_) skipRestOfOverlongReply(deadline, timeout);
    if (buffer_.takeReply(reply)) return;
    for (;;) {
        if (buffer_.freeSpace().empty()) {
            buffer_.clear();
            inOverlongReply_ = true;
            throw IoError("reply longer than " + describeSize(buffer_.maxReply()) + " without a line end");
        }
        // Past the deadline reads take only what is there without waiting;
        // the cap bounds how much that can be.
        if (!receive(deadline)) failReadTimeout(timeout);
        if (buffer_.takeReply(reply)) return;
    }
}

void FdChannel::failReadTimeout(std::chrono::milliseconds timeout) const {
    if (buffer_.pending() == 0) throw TimeoutError("no reply within " + describeDuration(timeout));
    throw TimeoutError("no line end within " + describeDuration(timeout) + " (" + std::to_string(buffer_.pending()) +
                       " bytes of the reply received)");
}

void FdChannel::skipRestOfOverlongReply(Deadline deadline, std::chrono::milliseconds timeout) {
    while (!buffer_.dropThroughLineEnd()) {
        if (!receive(deadline)) {
            throw TimeoutError("the rest of an over-long reply did not end within " + describeDuration(timeout));
        }
    }
    inOverlongReply_ = false;
}

void FdChannel::discardInput() {
    if (fd_ < 0) throw IoError("the connection is closed");
    buffer_.clear();
    char scratch[4096];
    // Bounded, so that an instrument that never stops talking cannot hold us.
    for (std::size_t dropped = 0; dropped < kMaxDiscard;) {
        const ssize_t got = kind_ == Kind::Socket ? ::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT)
                                                  : ::read(fd_, scratch, sizeof scratch);
        if (got > 0) {
            dropped += static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0) throw IoError("connection closed by the instrument");
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        failOnError(errno, "read");
    }
}

}  // namespace CorvalenLib
