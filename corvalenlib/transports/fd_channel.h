// SPDX-License-Identifier: MIT
// The byte stream under a socket or serial session: a non-blocking file
// descriptor, waited on with poll against a monotonic deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "corvalenlib/transports/reply_buffer.h"

namespace CorvalenLib {

class FdChannel {
public:
    enum class Kind { Socket, Terminal };

    explicit FdChannel(std::size_t maxReply) : buffer_(maxReply) {}
    ~FdChannel() { close(); }
    FdChannel(const FdChannel&) = delete;
    FdChannel& operator=(const FdChannel&) = delete;

    // Takes over fd, which must be in non-blocking mode.
    void attach(int fd, Kind kind);
    void close() noexcept;

    void writeAll(std::string_view data, std::chrono::milliseconds timeout);
    // One reply through its LF; bytes after it stay for the next call.
    void readReply(std::string& reply, std::chrono::milliseconds timeout);
    // Drops buffered input and whatever the peer has sent but we never read.
    void discardInput();
    // Bytes of an unfinished reply held for the next call.
    [[nodiscard]] std::size_t pendingBytes() const { return buffer_.pending(); }

private:
    using Deadline = std::chrono::steady_clock::time_point;

    [[nodiscard]] bool waitFor(short events, Deadline deadline) const;
    // Reads once into the buffer; false when nothing came in time. Raises
    // when the peer has gone.
    bool receive(Deadline deadline);
    // Sockets block in read with the kernel's receive time-out set to what
    // is left until deadline: one system call per reply in the common case.
    void armReceiveTimeout(Deadline deadline);
    [[noreturn]] void failOnError(int error, std::string_view operation) const;
    [[noreturn]] void failReadTimeout(std::chrono::milliseconds timeout) const;
    // Drops the rest of a reply that overran the cap, so that its tail is
    // never handed out as the next reply.
    void skipRestOfOverlongReply(Deadline deadline, std::chrono::milliseconds timeout);

    int fd_ = -1;
    Kind kind_ = Kind::Socket;
    std::chrono::microseconds armedTimeout_{0};
    ReplyBuffer buffer_;
    bool inOverlongReply_ = false;
};

}  // namespace CorvalenLib
