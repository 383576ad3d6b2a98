// SPDX-License-Identifier: MIT
// Reply numbers and the reply buffer, apart from any bus.
#include <gtest/gtest.h>

#include <limits>

#include "corvalenlib/transports/reply_buffer.h"
#include "corvalenlib/core/scpi_number.h"

namespace {

using CorvalenLib::parseScpiNumber;
using CorvalenLib::ReplyBuffer;
using CorvalenLib::toInt32;

TEST(ScpiNumber, ReadsTheInstrumentsNumberForms) {
    EXPECT_EQ(parseScpiNumber("+4.00000000E+01\n"), 40.0);
    EXPECT_EQ(parseScpiNumber("1"), 1.0);
    EXPECT_EQ(parseScpiNumber("-113\r\n"), -113.0);
    EXPECT_EQ(parseScpiNumber("9.9E37"), 9.9e37);
    EXPECT_EQ(parseScpiNumber("  +000000000.256 \t\n"), 0.256);
    EXPECT_EQ(parseScpiNumber(".5"), 0.5);
    EXPECT_EQ(parseScpiNumber("5."), 5.0);
    EXPECT_EQ(parseScpiNumber("-2.5e-3"), -0.0025);
    EXPECT_EQ(parseScpiNumber("+9.91000000E+37"), 9.91e37);
}

TEST(ScpiNumber, RefusesEverythingElse) {
    for (const char* text : {"", " \r\n", "+", "-", ".", "abc", "1,2", "+1.0E+01,+2", "1e", "1e+", "0x10", "inf",
                             "nan", "-inf", "++1", "+-1", "1 2", "1e999", "1.0V", "\"1\"", "#H10", ",1"}) {
        EXPECT_EQ(parseScpiNumber(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(ScpiNumber, RoundsToAWholeNumberHalfToEvenWithinTheInt32Range) {
    EXPECT_EQ(toInt32(0.5), 0);
    EXPECT_EQ(toInt32(1.5), 2);
    EXPECT_EQ(toInt32(2.5), 2);
    EXPECT_EQ(toInt32(-2.5), -2);
    EXPECT_EQ(toInt32(-3.5), -4);
    EXPECT_EQ(toInt32(2.4999), 2);
    EXPECT_EQ(toInt32(2.5001), 3);
    EXPECT_EQ(toInt32(-0.4), 0);
    EXPECT_EQ(toInt32(2147483647.0), 2147483647);
    EXPECT_EQ(toInt32(2147483647.4), 2147483647);
    EXPECT_EQ(toInt32(-2147483648.0), -2147483647 - 1);
    EXPECT_EQ(toInt32(-2147483648.5), -2147483647 - 1);
    EXPECT_EQ(toInt32(2147483647.5), std::nullopt);
    EXPECT_EQ(toInt32(-2147483648.6), std::nullopt);
    EXPECT_EQ(toInt32(9.9e37), std::nullopt);
    EXPECT_EQ(toInt32(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
}

void put(ReplyBuffer& buffer, std::string_view bytes) {
    while (!bytes.empty()) {
        auto space = buffer.freeSpace();
        ASSERT_FALSE(space.empty()) << "no room left";
        const auto n = std::min(space.size(), bytes.size());
        std::copy_n(bytes.begin(), n, space.begin());
        buffer.commit(n);
        bytes.remove_prefix(n);
    }
}

TEST(ReplyBuffer, HandsOutRepliesThroughTheirLineEndAndKeepsTheRest) {
    ReplyBuffer buffer(1024);
    std::string reply;
    EXPECT_FALSE(buffer.takeReply(reply));
    put(buffer, "one\r\ntwo\nthr");
    ASSERT_TRUE(buffer.takeReply(reply));
    EXPECT_EQ(reply, "one\r\n");
    ASSERT_TRUE(buffer.takeReply(reply));
    EXPECT_EQ(reply, "two\n");
    EXPECT_FALSE(buffer.takeReply(reply));
    put(buffer, "ee\n");
    ASSERT_TRUE(buffer.takeReply(reply));
    EXPECT_EQ(reply, "three\n");
    EXPECT_EQ(buffer.pending(), 0U);
}

TEST(ReplyBuffer, OffersNoRoomBeyondTheCapWithoutALineEnd) {
    ReplyBuffer buffer(100);
    put(buffer, std::string(99, 'x'));
    std::string reply;
    EXPECT_FALSE(buffer.takeReply(reply));
    EXPECT_EQ(buffer.freeSpace().size(), 1U);
    put(buffer, "\n");
    ASSERT_TRUE(buffer.takeReply(reply));
    EXPECT_EQ(reply.size(), 100U);  // a reply of exactly the cap, line end included, fits
    put(buffer, std::string(100, 'y'));
    EXPECT_TRUE(buffer.freeSpace().empty());
}

TEST(ReplyBuffer, ReusesRoomFreedByTakenReplies) {
    ReplyBuffer buffer(64 * 1024);
    std::string reply;
    const std::string line(1000, 'r');
    for (int i = 0; i < 500; ++i) {  // far more than the cap in total
        put(buffer, line + "\n");
        ASSERT_TRUE(buffer.takeReply(reply));
        ASSERT_EQ(reply.size(), 1001U);
    }
    put(buffer, "partial");
    buffer.takeAll(reply);
    EXPECT_EQ(reply, "partial");
}

}  // namespace
