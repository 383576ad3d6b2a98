// SPDX-License-Identifier: MIT
// One reading as the instrument sends it with time stamp and channel on:
// "<value>,<time stamp>,<channel>".
#pragma once

#include <string>

namespace tq {

struct ReadingReply {
    std::string value;
    std::string time;
    std::string channel;  // everything after the second comma, further commas included
};

// Splits a trimmed reply at its first two commas; the fields stay text
// exactly as received and may be empty. Fewer than two commas raise
// std::invalid_argument.
[[nodiscard]] ReadingReply splitReadingReply(const std::string& reply);

}  // namespace tq
