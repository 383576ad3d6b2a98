// SPDX-License-Identifier: MIT
// One ONC RPC client over TCP, as the VXI-11 and portmapper front ends keep
// it: the records it sent, reassembled, the framed replies it has not taken
// yet, and when it last made a call or was answered.
#pragma once

#include "front_end.h"
#include "rpc_call.h"

#include <poll.h>

#include <string>

namespace tq820sim {

class RpcStream {
public:
    static constexpr std::size_t kMaxBacklog = 1 << 20;

    RpcStream(int fd, std::string peer, std::size_t maxRecord)
        : fd_(fd), peer_(std::move(peer)), records_(maxRecord) {}
    ~RpcStream() { close(); }
    RpcStream(const RpcStream&) = delete;
    RpcStream& operator=(const RpcStream&) = delete;

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] const std::string& peer() const { return peer_; }
    [[nodiscard]] pollfd pollRequest(bool wantInput) const;

    // Reads what the socket has into the record reader; false once the
    // peer has closed or the connection failed (then it is closed).
    bool receive();
    // The next whole call record; throws rpc::ProtocolError on a record
    // over the cap.
    std::optional<std::string> nextRecord();
    // Queues the reply record in fragments of fragmentSize (0: one) and
    // writes what the peer takes; false when the connection was closed for
    // a failed write or a peer that does not read.
    bool send(std::string_view record, std::size_t fragmentSize);
    // Queues bytes already framed (a fault may have bent the marks).
    bool sendFramed(std::string_view bytes);
    // Writes queued bytes; false as for send().
    bool flush();
    [[nodiscard]] bool drained() const { return unsent_.empty(); }
    void close();
    // The last whole call received or reply queued (or the connection's
    // start): bytes that never make up a call, a byte a second say, are
    // not activity.
    [[nodiscard]] Steady::time_point lastActive() const { return lastActive_; }

private:
    int fd_;
    std::string peer_;
    rpc::RecordReader records_;
    std::string unsent_;
    Steady::time_point lastActive_ = Steady::now();
};

// The moment an idle connection is closed; nothing when idle-timeout
// seconds is 0 (never).
std::optional<Steady::time_point> idleDeadline(const RpcStream& stream, int idleTimeoutS);

}  // namespace tq820sim
