// SPDX-License-Identifier: MIT
// Replies held back by --reply-delay until they fall due. What they hold
// counts against the client's backlog as if it were already queued for
// sending, so a client that floods queries and never reads is cut off
// whether or not the replies are late.
#pragma once

#include "front_end.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace tq820sim {

class DelayedReplies {
public:
    // What one held reply costs beyond its bytes (its time, the string and
    // the queue's share): a flood of one-byte replies is counted by the
    // memory it takes, not by its bytes alone.
    static constexpr std::size_t kEntryCost = 64;

    // Holds the reply until due. With join, a reply due at the same moment
    // as the last one held is appended to it (one entry for the replies to
    // one read of a byte stream).
    void hold(Steady::time_point due, std::string reply, bool join);
    // The oldest reply that is due by now, taken out.
    std::optional<std::string> takeDue(Steady::time_point now);
    [[nodiscard]] std::optional<Steady::time_point> nextDue() const;
    [[nodiscard]] bool empty() const { return held_.empty(); }
    // Bytes held plus kEntryCost for each entry.
    [[nodiscard]] std::size_t cost() const { return bytes_ + held_.size() * kEntryCost; }
    void clear();

private:
    std::deque<std::pair<Steady::time_point, std::string>> held_;
    std::size_t bytes_ = 0;
};

}  // namespace tq820sim
