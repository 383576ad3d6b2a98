// SPDX-License-Identifier: MIT
// The portmapper's answer to VXI-11 discovery: clients broadcast GETPORT to
// UDP port 111 of their LAN. Several simulators may share one host (or one
// test's network namespace), so each binds the wildcard address with
// SO_REUSEADDR and so receives every broadcast, and answers from the address
// it serves (IP_PKTINFO), so that the client tells them apart.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>
#include <string>

namespace tq820sim {

struct Datagram {
    std::string bytes;
    sockaddr_storage peer{};
    socklen_t peerLength = 0;
    in_addr destination{};  // the address it was sent to
};

class BroadcastListener {
public:
    // Listens on UDP port of every address for the broadcasts that reach
    // host; throws std::runtime_error when the port cannot be shared.
    BroadcastListener(const std::string& host, int port);
    ~BroadcastListener();
    BroadcastListener(const BroadcastListener&) = delete;
    BroadcastListener& operator=(const BroadcastListener&) = delete;

    [[nodiscard]] int fd() const { return fd_; }
    // The next broadcast meant for host's LAN; nullopt for anything else
    // (a datagram sent to one address is the address-bound socket's).
    [[nodiscard]] std::optional<Datagram> receive(std::size_t maxBytes);
    // Sends reply to the datagram's sender from host's address.
    void answer(const Datagram& datagram, const std::string& reply);

private:
    [[nodiscard]] bool reachesHost(in_addr destination) const;

    int fd_ = -1;
    in_addr host_{};
    bool anyHost_ = false;
};

}  // namespace tq820sim
