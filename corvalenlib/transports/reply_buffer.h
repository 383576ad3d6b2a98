// SPDX-License-Identifier: MIT
// Bytes received but not yet handed out as replies.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace CorvalenLib {

// Collects input until a reply's line end. Bytes after the line end stay for
// the next reply. Memory is bounded: a reply may be at most maxReply bytes
// long, line end included.
class ReplyBuffer {
public:
    explicit ReplyBuffer(std::size_t maxReply);

    // Moves the next complete reply, through its LF, into reply.
    bool takeReply(std::string& reply);
    // Moves everything pending into reply: a bus end marker ended the reply.
    void takeAll(std::string& reply);
    // Drops pending bytes through the first LF and says whether there was
    // one; without one, drops everything pending.
    bool dropThroughLineEnd();

    // Room to receive into, never more than the cap allows; empty when the
    // pending bytes already reach the cap without a line end.
    std::span<char> freeSpace();
    void commit(std::size_t received);

    [[nodiscard]] std::size_t pending() const { return end_ - begin_; }
    [[nodiscard]] std::size_t maxReply() const { return maxReply_; }
    void clear();

private:
    std::size_t maxReply_;
    std::vector<char> data_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t scanned_ = 0;  // pending bytes known to hold no LF
};

}  // namespace CorvalenLib
