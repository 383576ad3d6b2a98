// SPDX-License-Identifier: MIT
// The line-end cut that RemoveTermination applies to every string reply, and
// the split of a reading reply into value, time stamp and channel.
//
// Invariants: the cut keeps exactly the text before the first LF or CR,
// whichever comes first, and is idempotent. The split raises
// std::invalid_argument exactly when the reply has fewer than two commas;
// otherwise value and time hold no comma and value "," time "," channel gives
// the reply back byte for byte.
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_check.h"
#include "io/reply_text.h"
#include "sequence/reading_reply.h"

namespace {

void checkCut(const std::string& reply) {
    std::string cut = reply;
    tq::cutAtLineEnd(cut);
    const auto lineEnd = reply.find_first_of("\r\n");
    TQ_FUZZ_CHECK(cut == reply.substr(0, lineEnd));
    std::string again = cut;
    tq::cutAtLineEnd(again);
    TQ_FUZZ_CHECK(again == cut);
}

void checkSplit(const std::string& reply) {
    std::size_t commas = 0;
    for (const char c : reply) commas += c == ',' ? 1U : 0U;
    try {
        const tq::ReadingReply reading = tq::splitReadingReply(reply);
        TQ_FUZZ_CHECK(commas >= 2);
        TQ_FUZZ_CHECK(reading.value.find(',') == std::string::npos);
        TQ_FUZZ_CHECK(reading.time.find(',') == std::string::npos);
        TQ_FUZZ_CHECK(reading.value + "," + reading.time + "," + reading.channel == reply);
    } catch (const std::invalid_argument&) {
        TQ_FUZZ_CHECK(commas < 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    checkCut(reply);
    checkSplit(reply);
    // As the program does it: the trimmed reply is what gets split.
    std::string trimmed = reply;
    tq::cutAtLineEnd(trimmed);
    checkSplit(trimmed);
    return 0;
}
