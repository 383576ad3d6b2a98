// SPDX-License-Identifier: MIT
#include "broadcast.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tq820sim {
namespace {

in_addr resolve(const std::string& host) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) return address;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        throw std::runtime_error("cannot resolve " + host);
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return address;
}

// The broadcast addresses of the interfaces that carry address.
std::vector<in_addr_t> broadcastsOf(in_addr address) {
    std::vector<in_addr_t> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_BROADCAST) == 0 || entry->ifa_broadaddr == nullptr) continue;
        if (reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr != address.s_addr) continue;
        found.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr.s_addr);
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

BroadcastListener::BroadcastListener(const std::string& host, int port)
    : host_(resolve(host)), anyHost_(host_.s_addr == htonl(INADDR_ANY)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int yes = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const std::string cause = std::strerror(errno);
        ::close(fd_);
        throw std::runtime_error("cannot share UDP *:" + std::to_string(port) + " for broadcasts: " + cause);
    }
}

BroadcastListener::~BroadcastListener() {
    if (fd_ >= 0) ::close(fd_);
}

// Looked up at each broadcast: the interface's address may come after the
// simulator started.
bool BroadcastListener::reachesHost(in_addr destination) const {
    if (destination.s_addr == htonl(INADDR_BROADCAST)) return true;
    if (anyHost_) return true;
    for (const in_addr_t broadcast : broadcastsOf(host_)) {
        if (broadcast == destination.s_addr) return true;
    }
    return false;
}

std::optional<Datagram> BroadcastListener::receive(std::size_t maxBytes) {
    Datagram datagram;
    datagram.bytes.resize(maxBytes);
    iovec part{datagram.bytes.data(), datagram.bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &datagram.peer;
    message.msg_namelen = sizeof datagram.peer;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd_, &message, 0);
    if (got <= 0 || (message.msg_flags & MSG_TRUNC) != 0) return std::nullopt;
    datagram.bytes.resize(static_cast<std::size_t>(got));
    datagram.peerLength = message.msg_namelen;
    bool known = false;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            datagram.destination = info.ipi_addr;
            known = true;
        }
    }
    if (!known || !reachesHost(datagram.destination)) return std::nullopt;
    return datagram;
}

void BroadcastListener::answer(const Datagram& datagram, const std::string& reply) {
    iovec part{const_cast<char*>(reply.data()), reply.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_storage*>(&datagram.peer);
    message.msg_namelen = datagram.peerLength;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (!anyHost_) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = host_;
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    // A lost answer is a lost datagram: the client asks again.
    (void)::sendmsg(fd_, &message, MSG_NOSIGNAL);
}

}  // namespace tq820sim
