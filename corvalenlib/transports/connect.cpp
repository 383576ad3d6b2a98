// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/connect.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {
namespace {

using Clock = std::chrono::steady_clock;

// One getaddrinfo_a request. glibc's lookup thread may still use it after
// the caller has given up (a lookup in progress cannot be cancelled), so it
// lives until both sides are done with it: the caller, and the notification
// glibc sends when the lookup ends.
struct Lookup {
    std::string host;
    addrinfo hints{};
    gaicb request{};
    std::atomic<int> holders{2};

    explicit Lookup(std::string name) : host(std::move(name)) {
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        request.ar_name = host.c_str();
        request.ar_request = &hints;
    }

    void release() {
        if (holders.fetch_sub(1) != 1) return;
        if (request.ar_result != nullptr) ::freeaddrinfo(request.ar_result);
        delete this;
    }
};

void lookupEnded(sigval value) { static_cast<Lookup*>(value.sival_ptr)->release(); }

std::vector<HostAddresses::Address> copyAddresses(const addrinfo* list) {
    std::vector<HostAddresses::Address> addresses;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
        HostAddresses::Address address{};
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        addresses.push_back(address);
    }
    return addresses;
}

// An address needs no name service: answered at once, without a thread.
bool lookUpNumeric(const std::string& host, std::vector<HostAddresses::Address>& addresses) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return false;
    addresses = copyAddresses(list);
    ::freeaddrinfo(list);
    return true;
}

std::vector<HostAddresses::Address> lookUpName(const std::string& host, const Budget& budget) {
    auto* lookup = new Lookup(host);
    sigevent ended{};
    ended.sigev_notify = SIGEV_THREAD;
    ended.sigev_value.sival_ptr = lookup;
    ended.sigev_notify_function = lookupEnded;
    gaicb* requests[] = {&lookup->request};
    if (const int status = ::getaddrinfo_a(GAI_NOWAIT, requests, 1, &ended); status != 0) {
        lookup->release();  // never queued: no notification comes
        lookup->release();
        throw IoError("cannot resolve host " + host + ": " + ::gai_strerror(status));
    }
    while (::gai_error(&lookup->request) == EAI_INPROGRESS) {
        const auto left = budget.deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            // A request still queued is removed and never notified; one in
            // progress ends in the background and frees itself.
            if (::gai_cancel(&lookup->request) == EAI_CANCELED) lookup->release();
            lookup->release();
            throw TimeoutError("no answer from the name service for " + host + " within " +
                               describeDuration(budget.shown));
        }
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(nanoseconds / 1'000'000'000),
                            static_cast<long>(nanoseconds % 1'000'000'000)};
        const gaicb* const waiting[] = {&lookup->request};
        ::gai_suspend(waiting, 1, &wait);  // ends at the lookup's end, the time-out or a signal
    }
    const int status = ::gai_error(&lookup->request);
    auto addresses = status == 0 ? copyAddresses(lookup->request.ar_result) : std::vector<HostAddresses::Address>{};
    lookup->release();
    if (status != 0) throw IoError("cannot resolve host " + host + ": " + ::gai_strerror(status));
    return addresses;
}

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

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    // Round up so that poll never wakes a little before the deadline.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

std::string withinText(std::string_view peer, const Budget& budget) {
    return "no connection" + (peer.empty() ? std::string() : " to " + std::string(peer)) + " within " +
           describeDuration(budget.shown);
}

// A connected socket, or -1 with errno's text in cause. Raises
// TimeoutError when the peer neither accepts nor refuses by the deadline.
int connectOne(const HostAddresses::Address& address, std::uint16_t port, const Budget& budget,
               std::string_view peer, std::string& cause) {
    auto target = address.storage;
    if (target.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(target).sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in&>(target).sin_port = htons(port);
    }
    Descriptor socket(::socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (socket.get() < 0) {
        cause = std::strerror(errno);
        return -1;
    }
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&target), address.length) != 0) {
        if (errno != EINPROGRESS) {
            cause = std::strerror(errno);
            return -1;
        }
        pollfd entry{socket.get(), POLLOUT, 0};
        for (;;) {
            const int ready = ::poll(&entry, 1, millisecondsUntil(budget.deadline));
            if (ready > 0) break;
            if (ready == 0 && Clock::now() >= budget.deadline) throw TimeoutError(withinText(peer, budget));
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

Budget budgetFrom(std::chrono::milliseconds wait) { return {Clock::now() + wait, wait}; }

HostAddresses HostAddresses::lookUp(const std::string& host, const Budget& budget) {
    HostAddresses found;
    found.host_ = host;
    if (!lookUpNumeric(host, found.addresses_)) found.addresses_ = lookUpName(host, budget);
    return found;
}

int connectWithin(const HostAddresses& host, std::uint16_t port, const Budget& budget, std::string_view peer) {
    std::string cause = "no address";
    for (const auto& address : host.addresses()) {
        const int fd = connectOne(address, port, budget, peer, cause);
        if (fd >= 0) return fd;
    }
    throw IoError("cannot connect to " + (peer.empty() ? std::string() : std::string(peer) + " at ") + host.host() +
                  " port " + std::to_string(port) + ": " + cause);
}

}  // namespace CorvalenLib
