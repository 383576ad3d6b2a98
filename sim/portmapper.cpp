// SPDX-License-Identifier: MIT
#include "portmapper.h"

#include "tcp_front.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tq820sim {

namespace {

// A portmapper call is a few dozen bytes.
constexpr std::size_t kMaxRecord = 8192;

int bindDatagram(const std::string& host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        hostent* found = gethostbyname(host.c_str());
        if (found == nullptr || found->h_addrtype != AF_INET)
            throw std::runtime_error("cannot resolve " + host);
        std::memcpy(&address.sin_addr, found->h_addr_list[0], sizeof address.sin_addr);
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) failWithErrno("socket");
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        failWithErrno("cannot bind UDP " + host + ":" + std::to_string(port));
    }
    return fd;
}

}  // namespace

PortmapperFront::~PortmapperFront() {
    connections_.clear();
    if (listener_ >= 0) ::close(listener_);
    if (datagram_ >= 0) ::close(datagram_);
}

std::string PortmapperFront::listen() {
    auto [listener, name] = listenTcp(core_.options.vxi11Host, kPort);
    listener_ = listener;
    datagram_ = bindDatagram(core_.options.vxi11Host, kPort);
    try {
        broadcast_ = std::make_unique<BroadcastListener>(core_.options.vxi11Host, kPort);
    } catch (const std::runtime_error& error) {
        // Served by address still; only discovery by broadcast is lost.
        std::fprintf(stderr, "tq820-sim: %s; broadcast GETPORT not answered\n", error.what());
    }
    return name;
}

void PortmapperFront::collect(std::vector<pollfd>& fds) {
    fds.push_back({listener_, POLLIN, 0});
    fds.push_back({datagram_, POLLIN, 0});
    for (const auto& connection : connections_) fds.push_back(connection->pollRequest(true));
    polledConnections_ = connections_.size();
    if (broadcast_) fds.push_back({broadcast_->fd(), POLLIN, 0});
}

void PortmapperFront::service(std::span<const pollfd> fds) {
    if (fds.size() < 2 + polledConnections_) return;
    for (std::size_t i = 0; i < polledConnections_; ++i) {
        RpcStream& stream = *connections_[i];
        const short revents = fds[2 + i].revents;
        if ((revents & POLLOUT) != 0 && !stream.flush()) continue;
        if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0 || !stream.receive()) continue;
        try {
            while (std::optional<std::string> record = stream.nextRecord()) {
                if (std::string reply = answer(*record); !reply.empty()) stream.send(reply, 0);
            }
        } catch (const rpc::ProtocolError& error) {
            core_.transcript.write("FAULT", std::string("portmapper: ") + error.what() +
                                                "; connection closed");
            stream.close();
        }
    }
    closeIdle();
    std::erase_if(connections_, [](const auto& stream) { return !stream->isOpen(); });
    if ((fds[0].revents & POLLIN) != 0) accept();
    if ((fds[1].revents & POLLIN) != 0) answerDatagram();
    if (broadcast_ && fds.size() > 2 + polledConnections_ &&
        (fds[2 + polledConnections_].revents & POLLIN) != 0)
        answerBroadcast();
}

void PortmapperFront::answerBroadcast() {
    const std::optional<Datagram> datagram = broadcast_->receive(kMaxRecord);
    if (!datagram) return;
    if (const std::string reply = answer(datagram->bytes); !reply.empty()) broadcast_->answer(*datagram, reply);
}

void PortmapperFront::accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (connections_.size() >= kMaxConnections) closeLongestIdle();
    connections_.push_back(std::make_unique<RpcStream>(fd, peerName(fd), kMaxRecord));
}

std::optional<Steady::time_point> PortmapperFront::deadline() const {
    std::optional<Steady::time_point> next;
    for (const auto& stream : connections_) {
        const auto due = idleDeadline(*stream, core_.options.idleTimeoutS);
        if (due && (!next || *due < *next)) next = due;
    }
    return next;
}

// A connection that made no call for --idle-timeout seconds is closed:
// idle or trickling clients must not hold the table for ever.
void PortmapperFront::closeIdle() {
    const auto now = Steady::now();
    for (const auto& stream : connections_) {
        const auto due = idleDeadline(*stream, core_.options.idleTimeoutS);
        if (!due || *due > now) continue;
        core_.transcript.write("FAULT", "portmapper: " + stream->peer() + " idle for " +
                                            std::to_string(core_.options.idleTimeoutS) +
                                            " s; closed");
        stream->close();
    }
}

// The table is full: the connection that has gone longest without a call
// makes room, so that a client that asks is always answered.
void PortmapperFront::closeLongestIdle() {
    const auto longest = std::min_element(
        connections_.begin(), connections_.end(),
        [](const auto& a, const auto& b) { return a->lastActive() < b->lastActive(); });
    if (longest == connections_.end()) return;
    core_.transcript.write("FAULT", "portmapper: " + std::to_string(kMaxConnections) +
                                        " connections; the longest idle (" + (*longest)->peer() +
                                        ") closed for a new one");
    connections_.erase(longest);
}

// One call per datagram, no record marking; the reply goes back to the
// sender.
void PortmapperFront::answerDatagram() {
    char buffer[kMaxRecord];
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const ssize_t got = ::recvfrom(datagram_, buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&peer), &length);
    if (got <= 0) return;
    const std::string reply = answer(std::string_view(buffer, static_cast<std::size_t>(got)));
    if (reply.empty()) return;
    ::sendto(datagram_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer),
             length);
}

std::vector<rpc::Mapping> PortmapperFront::mappings() const {
    return {{rpc::kPortmapProgram, rpc::kPortmapVersion, rpc::kProtocolTcp, kPort},
            {rpc::kPortmapProgram, rpc::kPortmapVersion, rpc::kProtocolUdp, kPort},
            {rpc::kDeviceCoreProgram, rpc::kDeviceCoreVersion, rpc::kProtocolTcp,
             static_cast<std::uint32_t>(coreChannelPort_)}};
}

std::string PortmapperFront::answer(std::string_view record) const {
    const rpc::Dispatch dispatch = rpc::dispatchCall(record, rpc::Service::Portmapper);
    if (!dispatch.request) return dispatch.reply;
    const rpc::Request& request = *dispatch.request;
    switch (static_cast<rpc::PortmapProc>(request.procedure)) {
        case rpc::PortmapProc::Null:
            return rpc::successReply(request.xid, {});
        case rpc::PortmapProc::Set:
        case rpc::PortmapProc::Unset:
            return rpc::successReply(request.xid, rpc::booleanResult(false));
        case rpc::PortmapProc::GetPort: {
            // Version and protocol must match; the port is 0 for anything
            // not served.
            const auto& wanted = std::get<rpc::Mapping>(request.arguments);
            std::uint32_t port = 0;
            for (const rpc::Mapping& mapping : mappings()) {
                if (mapping.program == wanted.program && mapping.version == wanted.version &&
                    mapping.protocol == wanted.protocol)
                    port = mapping.port;
            }
            return rpc::successReply(request.xid, rpc::portResult(port));
        }
        case rpc::PortmapProc::Dump:
            return rpc::successReply(request.xid, rpc::dumpResult(mappings()));
    }
    return {};
}

}  // namespace tq820sim
