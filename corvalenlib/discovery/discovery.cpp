// SPDX-License-Identifier: MIT
#include "corvalenlib/discovery/discovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <set>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/portmapper.h"
#include "corvalenlib/transports/rpc_stream.h"

namespace CorvalenLib {
namespace {

// Polls in short slices so that a cancel is seen quickly.
constexpr std::chrono::milliseconds kPollSlice{50};

std::string dottedQuad(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

class UdpSocket {
public:
    UdpSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
    ~UdpSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    [[nodiscard]] int fd() const { return fd_; }

private:
    int fd_;
};

std::uint32_t freshXid() {
    std::random_device seed;
    return static_cast<std::uint32_t>(seed());
}

// Sends the call to each distinct broadcast address; returns how many went out
// and the last failure's text.
std::pair<int, std::string> sendCalls(int fd, const std::vector<BroadcastInterface>& interfaces,
                                      const std::string& call) {
    std::set<std::string> sent;
    std::string failure;
    for (const auto& interface : interfaces) {
        if (!sent.insert(interface.broadcast).second) continue;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(portmapper::kPort);
        ::inet_pton(AF_INET, interface.broadcast.c_str(), &to.sin_addr);
        if (::sendto(fd, call.data(), call.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
            failure = interface.name + ": " + std::strerror(errno);
            sent.erase(interface.broadcast);
        }
    }
    return {static_cast<int>(sent.size()), failure};
}

}  // namespace

std::vector<BroadcastInterface> broadcastInterfaces() {
    std::vector<BroadcastInterface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        const unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_BROADCAST) == 0 || (flags & IFF_LOOPBACK) != 0) continue;
        if (entry->ifa_broadaddr == nullptr) continue;
        found.push_back({entry->ifa_name, dottedQuad(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr),
                         dottedQuad(reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr)});
    }
    ::freeifaddrs(list);
    return found;
}

std::string encodeGetportCall(std::uint32_t xid) {
    std::string call;
    rpc::appendCall(call, {xid, portmapper::kProgram, portmapper::kVersion, portmapper::kGetport},
                    portmapper::kGetportArgumentsSize, portmapper::encodeGetportArguments, rpc::Framing::Datagram);
    return call;
}

std::optional<std::uint16_t> decodeGetportReply(std::string_view datagram, std::uint32_t xid) {
    try {
        const auto results = rpc::acceptedResults(datagram, xid);
        if (!results) return std::nullopt;
        const auto port = portmapper::decodeGetportResults(*results);
        if (port == 0 || port > 0xFFFF) return std::nullopt;
        return static_cast<std::uint16_t>(port);
    } catch (const IoError&) {
        return std::nullopt;  // anyone on the LAN may send anything to our port
    }
}

std::string broadcastGetport(std::chrono::milliseconds window, const std::atomic<bool>& cancelled,
                             const std::function<void(const Responder&)>& found) {
    const auto interfaces = broadcastInterfaces();
    if (interfaces.empty()) return "VXI-11 broadcast: no network interface that can broadcast";
    UdpSocket socket;
    if (socket.fd() < 0) return std::string("VXI-11 broadcast: no UDP socket: ") + std::strerror(errno);
    const int yes = 1;
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
    const std::uint32_t xid = freshXid();
    const auto [sent, failure] = sendCalls(socket.fd(), interfaces, encodeGetportCall(xid));
    if (sent == 0) return "VXI-11 broadcast: " + failure;

    std::set<std::string> seen;
    const auto deadline = std::chrono::steady_clock::now() + window;
    while (!cancelled.load()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                               std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd wait{socket.fd(), POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(std::min(left, kPollSlice).count())) <= 0) continue;
        char datagram[1500];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        // One datagram per poll: a flood of replies cannot hold the loop past
        // its deadline.
        const ssize_t got = ::recvfrom(socket.fd(), datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from),
                                       &length);
        if (got <= 0) continue;
        const auto port = decodeGetportReply(std::string_view(datagram, static_cast<std::size_t>(got)), xid);
        const auto address = dottedQuad(from.sin_addr);
        if (port && seen.insert(address).second) found(Responder{address});
    }
    return {};
}

}  // namespace CorvalenLib
