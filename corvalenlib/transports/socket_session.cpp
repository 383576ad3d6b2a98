// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/socket_session.h"

#include <utility>

#include "corvalenlib/transports/connect.h"

namespace CorvalenLib {

SocketSession::SocketSession(SocketAddress address, const IoLimits& limits)
    : Session(limits), address_(std::move(address)), channel_(limits.maxReply) {}

void SocketSession::open() { channel_.attach(connectTo(address_, limits().connectTimeout), FdChannel::Kind::Socket); }

int connectTo(const SocketAddress& address, std::chrono::milliseconds limit) {
    const auto budget = budgetFrom(limit);
    return connectWithin(HostAddresses::lookUp(unbracketedHost(address.host), budget), address.port, budget);
}

}  // namespace CorvalenLib
