// SPDX-License-Identifier: MIT
// Raw SCPI over a TCP port (TCPIP::host::port::SOCKET).
#pragma once

#include "corvalenlib/transports/fd_channel.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {

// A connected TCP socket to address's host and port, non-blocking, with
// Nagle's delay off; raises TimeoutError when the name lookup and the
// connection together take longer than limit, IoError for other failures.
[[nodiscard]] int connectTo(const SocketAddress& address, std::chrono::milliseconds limit);

class SocketSession final : public Session {
public:
    SocketSession(SocketAddress address, const IoLimits& limits);

    void open() override;
    void write(std::string_view message) override { channel_.writeAll(message, limits().timeout); }
    void readReply(std::string& reply) override { channel_.readReply(reply, limits().timeout); }
    void discardInput() override { channel_.discardInput(); }
    void close() noexcept override { channel_.close(); }
    [[nodiscard]] std::string interfaceType() const override { return "TCPIP"; }

private:
    SocketAddress address_;
    FdChannel channel_;
};

}  // namespace CorvalenLib
