// SPDX-License-Identifier: MIT
// SCPI over a raw TCP socket: one client at a time, the next one when it
// leaves.
#pragma once

#include "stream_link.h"

namespace tq820sim {

class TcpFront final : public FrontEnd {
public:
    explicit TcpFront(SharedCore& core) : core_(core), client_(core) {}
    ~TcpFront() override;
    TcpFront(const TcpFront&) = delete;
    TcpFront& operator=(const TcpFront&) = delete;

    // Listens on options.host and options.port; returns "HOST:PORT" bound.
    std::string listen();

    void collect(std::vector<pollfd>& fds) override;
    void service(std::span<const pollfd> fds) override;
    [[nodiscard]] std::optional<Steady::time_point> deadline() const override {
        return client_.deadline();
    }
    [[nodiscard]] bool active() const override { return listener_ >= 0; }

private:
    void accept();

    SharedCore& core_;
    int listener_ = -1;
    StreamLink client_;
};

// Binds a TCP listener on host:port (port 0: a free one), non-blocking.
// Returns the descriptor and "HOST:PORT" as bound.
std::pair<int, std::string> listenTcp(const std::string& host, int port);

// "HOST:PORT" of an IPv4 peer.
std::string peerName(int fd);

}  // namespace tq820sim
