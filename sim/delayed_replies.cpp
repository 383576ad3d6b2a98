// SPDX-License-Identifier: MIT
#include "delayed_replies.h"

namespace tq820sim {

void DelayedReplies::hold(Steady::time_point due, std::string reply, bool join) {
    bytes_ += reply.size();
    if (join && !held_.empty() && held_.back().first == due) {
        held_.back().second += reply;
        return;
    }
    held_.emplace_back(due, std::move(reply));
}

std::optional<std::string> DelayedReplies::takeDue(Steady::time_point now) {
    if (held_.empty() || held_.front().first > now) return std::nullopt;
    std::string reply = std::move(held_.front().second);
    held_.pop_front();
    bytes_ -= reply.size();
    return reply;
}

std::optional<Steady::time_point> DelayedReplies::nextDue() const {
    if (held_.empty()) return std::nullopt;
    return held_.front().first;
}

void DelayedReplies::clear() {
    held_.clear();
    bytes_ = 0;
}

}  // namespace tq820sim
