// SPDX-License-Identifier: MIT
// Reaching a host over TCP within one bound: the name lookup, then a
// connect to each of the host's addresses in turn, all against one deadline
// on the monotonic clock. Every TCP session and RPC channel connects here.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace CorvalenLib {

// When a wait ends and how error texts show its length.
struct Budget {
    std::chrono::steady_clock::time_point deadline;
    std::chrono::milliseconds shown;
};

// A budget of wait from now, shown as wait.
[[nodiscard]] Budget budgetFrom(std::chrono::milliseconds wait);

// The addresses of one host, looked up once and used for every connection
// of one open.
class HostAddresses {
public:
    // host is a name or an address, an IPv6 one without brackets. An
    // address needs no lookup; a name goes to the system's name service
    // (files, DNS, mDNS as nsswitch.conf says) in the background, and a
    // lookup that has not ended by the deadline is given up on. Raises
    // TimeoutError then, IoError when the name is unknown.
    static HostAddresses lookUp(const std::string& host, const Budget& budget);

    [[nodiscard]] const std::string& host() const { return host_; }

    struct Address {
        sockaddr_storage storage;
        socklen_t length;
    };
    [[nodiscard]] const std::vector<Address>& addresses() const { return addresses_; }

private:
    std::string host_;
    std::vector<Address> addresses_;
};

// A connected non-blocking TCP socket to port on the first of host's
// addresses that accepts, with Nagle's delay off. peer names the server in
// error texts ("the portmapper"); empty for the instrument itself. Raises
// TimeoutError when the deadline passes first, IoError when every address
// refuses.
[[nodiscard]] int connectWithin(const HostAddresses& host, std::uint16_t port, const Budget& budget,
                                std::string_view peer = {});

}  // namespace CorvalenLib
