// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/reply_buffer.h"

#include <algorithm>
#include <cstring>

namespace CorvalenLib {
namespace {
constexpr std::size_t kFirstSize = 64 * 1024;
}

ReplyBuffer::ReplyBuffer(std::size_t maxReply) : maxReply_(maxReply) {}

bool ReplyBuffer::takeReply(std::string& reply) {
    if (scanned_ == pending()) return false;
    const char* const from = data_.data() + begin_ + scanned_;
    const auto* lf = static_cast<const char*>(std::memchr(from, '\n', pending() - scanned_));
    if (lf == nullptr) {
        scanned_ = pending();
        return false;
    }
    const auto length = static_cast<std::size_t>(lf - (data_.data() + begin_)) + 1;
    reply.assign(data_.data() + begin_, length);
    begin_ += length;
    scanned_ = 0;
    if (begin_ == end_) begin_ = end_ = 0;
    return true;
}

bool ReplyBuffer::dropThroughLineEnd() {
    const char* const from = data_.data() + begin_;
    const auto* lf = static_cast<const char*>(std::memchr(from, '\n', pending()));
    if (lf == nullptr) {
        clear();
        return false;
    }
    begin_ += static_cast<std::size_t>(lf - from) + 1;
    scanned_ = 0;
    if (begin_ == end_) begin_ = end_ = 0;
    return true;
}

void ReplyBuffer::takeAll(std::string& reply) {
    reply.assign(data_.data() + begin_, pending());
    clear();
}

std::span<char> ReplyBuffer::freeSpace() {
    if (pending() >= maxReply_) return {};
    if (end_ == data_.size() && begin_ > 0) {
        std::memmove(data_.data(), data_.data() + begin_, pending());
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == data_.size()) {
        data_.resize(std::min(std::max(kFirstSize, data_.size() * 2), maxReply_));
    }
    // Never read past the cap: what cannot belong to this reply waits in the
    // kernel's buffer, so memory stays bounded even for an endless reply.
    const std::size_t room = std::min(data_.size() - end_, maxReply_ - pending());
    return {data_.data() + end_, room};
}

void ReplyBuffer::commit(std::size_t received) { end_ += received; }

void ReplyBuffer::clear() { begin_ = end_ = scanned_ = 0; }

}  // namespace CorvalenLib
