// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/socket_session.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "corvalenlib/core/errors.h"

namespace CorvalenLib {
namespace {

using Deadline = std::chrono::steady_clock::time_point;

struct AddressList {
    addrinfo* head = nullptr;
    ~AddressList() {
        if (head != nullptr) ::freeaddrinfo(head);
    }
};

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string hostOf(const SocketAddress& address) {
    const auto& host = address.host;
    return host.size() > 2 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
}

// A connected non-blocking socket, or -1 with errno's text in cause.
// Raises TimeoutError when the peer neither accepts nor refuses in time.
int connectWithin(const addrinfo& candidate, Deadline deadline, std::chrono::milliseconds limit,
                  std::string& cause) {
    Descriptor socket(::socket(candidate.ai_family, candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                               candidate.ai_protocol));
    if (socket.get() < 0) {
        cause = std::strerror(errno);
        return -1;
    }
    if (::connect(socket.get(), candidate.ai_addr, candidate.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            cause = std::strerror(errno);
            return -1;
        }
        pollfd entry{socket.get(), POLLOUT, 0};
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long>(0, left.count())));
            if (ready > 0) break;
            if (ready == 0 && std::chrono::steady_clock::now() >= deadline) {
                throw TimeoutError("no connection within " + describeDuration(limit));
            }
            if (ready < 0 && errno != EINTR) {
                cause = std::strerror(errno);
                return -1;
            }
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error != 0) {
            cause = std::strerror(error);
            return -1;
        }
    }
    // Commands are short and each waits for its reply: send them at once.
    const int on = 1;
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket.release();
}

}  // namespace

SocketSession::SocketSession(SocketAddress address, const IoLimits& limits)
    : Session(limits), address_(std::move(address)), channel_(limits.maxReply) {}

void SocketSession::open() { channel_.attach(connectTo(address_, limits().connectTimeout), FdChannel::Kind::Socket); }

int connectTo(const SocketAddress& address, std::chrono::milliseconds limit) {
    const auto host = hostOf(address);
    const auto port = std::to_string(address.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    AddressList addresses;
    const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses.head);
    if (status != 0) throw IoError("cannot resolve host " + host + ": " + ::gai_strerror(status));

    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string cause = "no address";
    for (const addrinfo* candidate = addresses.head; candidate != nullptr; candidate = candidate->ai_next) {
        const int fd = connectWithin(*candidate, deadline, limit, cause);
        if (fd >= 0) return fd;
    }
    throw IoError("cannot connect to " + host + " port " + port + ": " + cause);
}

}  // namespace CorvalenLib
