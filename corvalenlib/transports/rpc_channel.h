// SPDX-License-Identifier: MIT
// One TCP connection that carries ONC RPC calls and their replies, every
// wait bounded by a deadline on the monotonic clock. No threads and no RPC
// library client: the connect, each send and each receive are our own
// system calls, so none of them can wait past the deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "corvalenlib/transports/connect.h"
#include "corvalenlib/transports/rpc_stream.h"

namespace CorvalenLib {

class RpcChannel {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    using Budget = CorvalenLib::Budget;

    // peer names the server in error texts ("the portmapper").
    RpcChannel(std::string peer, std::size_t maxRecord);
    ~RpcChannel() { close(); }
    RpcChannel(const RpcChannel&) = delete;
    RpcChannel& operator=(const RpcChannel&) = delete;

    // Connects to port on one of host's addresses.
    void connect(const HostAddresses& host, std::uint16_t port, const Budget& budget);
    // Takes over fd, a connected stream or seqpacket socket, numbering the
    // calls from firstXid: tests and fuzzing write replies ahead this way.
    void attach(int fd, std::uint32_t firstXid);
    void close() noexcept;
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

    // Sends one call and hands its results to decode, whose value it
    // returns. Replies to other calls, late ones given up on before, are
    // dropped. A reply that does not decode closes the connection: what
    // follows it on the line cannot be trusted.
    template <typename Encode, typename Decode>
    auto call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
              std::size_t bodyLimit, Encode&& encode, Decode&& decode, const Budget& budget) {
        requireOpen();
        const std::uint32_t xid = nextXid_++;
        outgoing_.clear();
        rpc::appendCall(outgoing_, {xid, program, version, procedure}, bodyLimit, encode);
        sendAll(outgoing_, budget);
        const auto results = awaitResults(xid, budget);
        try {
            return decode(results);
        } catch (const IoError&) {
            close();
            throw;
        }
    }

private:
    void requireOpen() const;
    void sendAll(std::string_view bytes, const Budget& budget);
    std::string_view awaitResults(std::uint32_t xid, const Budget& budget);
    // Reads once into the inbox; false when the deadline passed first.
    bool receive(Deadline deadline);
    void armReceiveTimeout(Deadline deadline);
    [[noreturn]] void failOnError(int error, std::string_view operation);

    std::string peer_;
    int fd_ = -1;
    std::uint32_t nextXid_;
    std::string outgoing_;
    std::vector<char> inbox_;
    std::size_t inboxBegin_ = 0;
    std::size_t inboxEnd_ = 0;
    rpc::RecordAssembler assembler_;
    std::chrono::microseconds armedTimeout_{0};
};

}  // namespace CorvalenLib
