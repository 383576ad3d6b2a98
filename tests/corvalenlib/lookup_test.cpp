// SPDX-License-Identifier: MIT
// The host-name lookup is part of the connect bound, against a name server
// that never answers. This binary runs with an /etc/resolv.conf of its own
// (tests/support/with-resolv-conf inside tests/support/in-netns) that names
// 127.0.0.1, where the test holds a UDP socket and reads nothing from it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"

namespace {

using namespace std::chrono_literals;

class SilentNameServer {
public:
    SilentNameServer() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(53);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~SilentNameServer() {
        if (fd_ >= 0) ::close(fd_);
    }
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;
    [[nodiscard]] bool bound() const { return bound_; }
    // Queries that came in, never answered.
    int queries() {
        int count = 0;
        char datagram[512];
        while (::recv(fd_, datagram, sizeof datagram, MSG_DONTWAIT) >= 0) ++count;
        return count;
    }

private:
    int fd_;
    bool bound_ = false;
};

class SilentResolver : public ::testing::TestWithParam<const char*> {};

TEST_P(SilentResolver, EndsTheOpenWithinTheConnectTimeOut) {
    SilentNameServer server;
    ASSERT_TRUE(server.bound()) << "run through tests/support/in-netns: port 53 must be free";
    CorvalenLib::IoLimits limits;
    limits.connectTimeout = 400ms;
    auto session = CorvalenLib::makeSession(CorvalenLib::parseResource(GetParam()), limits, {});
    const auto start = std::chrono::steady_clock::now();
    try {
        session->open();
        FAIL() << "opened without an answer from the name server";
    } catch (const CorvalenLib::TimeoutError& error) {
        EXPECT_STREQ(error.what(), "no answer from the name service for instrument.example within 400 ms");
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 900ms);
    EXPECT_GT(server.queries(), 0) << "the lookup never reached the test's name server";
}

INSTANTIATE_TEST_SUITE_P(Table, SilentResolver,
                         ::testing::Values("TCPIP0::instrument.example::5025::SOCKET",
                                           "TCPIP0::instrument.example::INSTR"),
                         [](const auto& row) { return row.index == 0 ? "Socket" : "Vxi11"; });

}  // namespace
