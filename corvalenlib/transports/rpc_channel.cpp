// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/rpc_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {
namespace {

constexpr std::size_t kInboxSize = 64 * 1024;

int millisecondsUntil(RpcChannel::Deadline deadline) {
    using namespace std::chrono;
    const auto left = deadline - steady_clock::now();
    if (left <= steady_clock::duration::zero()) return 0;
    return static_cast<int>(ceil<milliseconds>(left).count());  // never wake before the deadline
}

}  // namespace

RpcChannel::RpcChannel(std::string peer, std::size_t maxRecord)
    : peer_(std::move(peer)),
      // A client that starts again soon must not take its predecessor's late
      // replies for its own.
      nextXid_(static_cast<std::uint32_t>(
          std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid())),
      assembler_(maxRecord) {}

void RpcChannel::connect(const HostAddresses& host, std::uint16_t port, const Budget& budget) {
    close();
    const int fd = connectWithin(host, port, budget, peer_);
    // Receives block, bounded by SO_RCVTIMEO: one system call per reply.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
}

void RpcChannel::attach(int fd, std::uint32_t firstXid) {
    close();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // as connect() leaves it
    fd_ = fd;
    nextXid_ = firstXid;
}

void RpcChannel::close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    inboxBegin_ = inboxEnd_ = 0;
    assembler_.reset();
    armedTimeout_ = std::chrono::microseconds{0};
}

void RpcChannel::requireOpen() const {
    if (fd_ < 0) throw IoError("the connection to " + peer_ + " is closed");
}

void RpcChannel::failOnError(int error, std::string_view operation) {
    close();
    if (error == EPIPE || error == ECONNRESET) throw IoError("connection closed by " + peer_);
    throw IoError(std::string(operation) + " failed: " + std::strerror(error));
}

void RpcChannel::sendAll(std::string_view bytes, const Budget& budget) {
    const std::size_t total = bytes.size();
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) failOnError(errno, "send");
        pollfd entry{fd_, POLLOUT, 0};
        if (::poll(&entry, 1, millisecondsUntil(budget.deadline)) == 0 &&
            std::chrono::steady_clock::now() >= budget.deadline) {
            // Half a call on the line would garble every later one.
            if (bytes.size() != total) close();
            throw TimeoutError(peer_ + " took no input within " + describeDuration(budget.shown));
        }
    }
}

// Arms the socket's receive time-out only when it would let a receive run
// more than a millisecond past the deadline, or end one before half the time
// left: with the same time-out from call to call that is once, not once per
// reply, a system call saved on every receive.
void RpcChannel::armReceiveTimeout(Deadline deadline) {
    using namespace std::chrono;
    const auto left = std::max(ceil<microseconds>(deadline - steady_clock::now()),
                               microseconds{1});  // 0: for ever
    if (armedTimeout_ > microseconds{0} && armedTimeout_ <= left + milliseconds{1} &&
        armedTimeout_ >= left / 2) {
        return;
    }
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(duration_cast<seconds>(left).count());
    limit.tv_usec = static_cast<suseconds_t>((left % seconds{1}).count());
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0)
        failOnError(errno, "setsockopt");
    armedTimeout_ = left;
}

bool RpcChannel::receive(Deadline deadline) {
    if (inbox_.empty()) inbox_.resize(kInboxSize);
    int flags = 0;
    if (std::chrono::steady_clock::now() >= deadline) {
        flags = MSG_DONTWAIT;  // no time left: take only what is there
    } else {
        armReceiveTimeout(deadline);
    }
    const ssize_t got = ::recv(fd_, inbox_.data(), inbox_.size(), flags);
    if (got > 0) {
        inboxBegin_ = 0;
        inboxEnd_ = static_cast<std::size_t>(got);
        return true;
    }
    if (got == 0) {
        close();
        throw IoError("connection closed by " + peer_);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::chrono::steady_clock::now() < deadline;
    if (errno != EINTR) failOnError(errno, "receive");
    return true;
}

std::string_view RpcChannel::awaitResults(std::uint32_t xid, const Budget& budget) {
    if (assembler_.complete()) assembler_.next();
    for (;;) {
        while (!assembler_.complete() && inboxBegin_ < inboxEnd_) {
            try {
                inboxBegin_ +=
                    assembler_.feed({inbox_.data() + inboxBegin_, inboxEnd_ - inboxBegin_});
            } catch (const IoError&) {
                close();  // the record boundaries are lost: nothing later can be trusted
                throw;
            }
        }
        if (assembler_.complete()) {
            std::optional<std::string_view> results;
            try {
                results = rpc::acceptedResults(assembler_.record(), xid);
            } catch (const IoError&) {
                close();  // a reply we cannot read may have left the line out of step
                throw;
            }
            if (results) return *results;
            assembler_.next();
            // A server that never stops sending other calls' replies must
            // not hold us past the deadline either.
            if (std::chrono::steady_clock::now() < budget.deadline) continue;
            throw TimeoutError("no reply from " + peer_ + " within " +
                               describeDuration(budget.shown));
        }
        if (!receive(budget.deadline)) {
            throw TimeoutError("no reply from " + peer_ + " within " +
                               describeDuration(budget.shown));
        }
    }
}

}  // namespace CorvalenLib
