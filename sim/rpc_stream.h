// SPDX-License-Identifier: MIT
// One ONC RPC client over TCP, as the VXI-11 and portmapper front ends keep
// it: the records it sent, reassembled, and the framed replies it has not
// taken yet.
#pragma once

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
    std::optional<std::string> nextRecord() { return records_.next(); }
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

private:
    int fd_;
    std::string peer_;
    rpc::RecordReader records_;
    std::string unsent_;
};

}  // namespace tq820sim
