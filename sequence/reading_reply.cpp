// SPDX-License-Identifier: MIT
#include "sequence/reading_reply.h"

#include <stdexcept>

#include "io/reply_text.h"

namespace tq {

ReadingReply splitReadingReply(const std::string& reply) {
    const auto firstComma = reply.find(',');
    const auto secondComma =
        firstComma == std::string::npos ? std::string::npos : reply.find(',', firstComma + 1);
    if (secondComma == std::string::npos) {
        throw std::invalid_argument("reading reply " + quotedReply(reply) +
                                    " has fewer than two commas; expected value,time,channel");
    }
    return ReadingReply{reply.substr(0, firstComma),
                        reply.substr(firstComma + 1, secondComma - firstComma - 1),
                        reply.substr(secondComma + 1)};
}

}  // namespace tq
