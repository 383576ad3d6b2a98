// SPDX-License-Identifier: MIT
// The portmapper (program 100000, version 2) on TCP and UDP port 111, as
// far as VXI-11 clients use it: GETPORT names the core channel's port, NULL
// answers, DUMP lists what is served; SET and UNSET are refused.
#pragma once

#include "broadcast.h"
#include "front_end.h"
#include "rpc_stream.h"

#include <memory>

namespace tq820sim {

class PortmapperFront final : public FrontEnd {
public:
    static constexpr int kPort = 111;
    static constexpr std::size_t kMaxConnections = 16;

    PortmapperFront(SharedCore& core, int coreChannelPort)
        : core_(core), coreChannelPort_(coreChannelPort) {}
    ~PortmapperFront() override;
    PortmapperFront(const PortmapperFront&) = delete;
    PortmapperFront& operator=(const PortmapperFront&) = delete;

    // Binds TCP and UDP port 111 on the VXI-11 host, and UDP port 111 of
    // every address for broadcasts; returns "HOST:111".
    std::string listen();

    void collect(std::vector<pollfd>& fds) override;
    void service(std::span<const pollfd> fds) override;
    [[nodiscard]] std::optional<Steady::time_point> deadline() const override;
    [[nodiscard]] bool active() const override { return listener_ >= 0; }

private:
    void accept();
    void closeIdle();
    void closeLongestIdle();
    void answerDatagram();
    void answerBroadcast();
    // The reply record to one call record, or nothing when it is dropped.
    [[nodiscard]] std::string answer(std::string_view record) const;
    [[nodiscard]] std::vector<rpc::Mapping> mappings() const;

    SharedCore& core_;
    int coreChannelPort_;
    int listener_ = -1;
    int datagram_ = -1;
    std::unique_ptr<BroadcastListener> broadcast_;
    std::vector<std::unique_ptr<RpcStream>> connections_;
    std::size_t polledConnections_ = 0;
};

}  // namespace tq820sim
