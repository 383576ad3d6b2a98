// SPDX-License-Identifier: MIT
// The locale-independent text rules the program applies to instrument
// replies and to the numbers it lists.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>

#include "io/reply_text.h"
#include "sequence/reading_reply.h"

namespace tq {
namespace {

TEST(CutAtLineEnd, KeepsOnlyTheTextAheadOfTheFirstLineEnd) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"abc\r\n", "abc"}, {"abc\n", "abc"},      {"abc\r", "abc"}, {"abc", "abc"},
        {"", ""},           {"\nabc", ""},         {"\rabc", ""},    {"a\rb\nc", "a"},
        {"a\nb\r", "a"},    {"one\ntwo\n", "one"}, {"x\r\r\n", "x"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        cutAtLineEnd(text);
        EXPECT_EQ(text, c.out) << "input of " << c.in.size() << " characters";
    }
}

TEST(NumericValue, ReadsTheNumberATextBeginsWith) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"1", 1.0},
        {"+1\n", 1.0},
        {"0\n", 0.0},
        {"-113,\"Undefined header\"", -113.0},
        {"+0,\"No error\"", 0.0},
        {" \t\n 42xyz", 42.0},
        {"+2.21974610E+01,+000000000.256,101", 22.197461},
        {".5", 0.5},
        {"-.25e1", -2.5},
        {"7.", 7.0},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"3E-2x", 0.03},
        {"12 34", 12.0},
        {"", 0.0},
        {"abc", 0.0},
        {"\r1", 0.0},
        {"+", 0.0},
        {"-.", 0.0},
        {"--1", 0.0},
        {"e5", 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(numericValue(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(NumericValue, ANumberBeyondADoubleIsAnErrorNotInfinity) {
    EXPECT_THROW((void)numericValue("1e999,\"x\""), std::range_error);
    EXPECT_THROW((void)numericValue("-1e400"), std::range_error);
}

TEST(NumberAsText, FifteenDigitsPointOnlyWhenNeededBlankWhenNotNegative) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {15.0, " 15"},
        {12.5, " 12.5"},
        {-113.0, "-113"},
        {5.0, " 5"},
        {0.0, " 0"},
        {-0.0, " 0"},
        {0.5, " 0.5"},
        {-0.25, "-0.25"},
        {1.0 / 3.0, " 0.333333333333333"},
        {123456789012345.0, " 123456789012345"},
        {1234567890123456.0, " 1.23456789012346E+15"},
        {2147483647.0, " 2147483647"},
        {1e-7, " 1E-07"},
        {0.1 + 0.2, " 0.3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(numberAsText(c.value), c.text);
    }
    EXPECT_EQ(numberInList(15.0), "15");
    EXPECT_EQ(numberInList(-2.5), "-2.5");
}

TEST(QuotedReply, ShowsControlBytesAndCutsLongReplies) {
    EXPECT_EQ(quotedReply("1,2\r\n"), "\"1,2\\x0D\\x0A\"");
    EXPECT_EQ(quotedReply(std::string("a\0\"b", 4)), "\"a\\x00\\x22b\"");
    const std::string longReply(1000, '7');
    EXPECT_EQ(quotedReply(longReply), "\"" + std::string(80, '7') + "\" (1000 characters in all)");
}

TEST(SplitReadingReply, SplitsAtTheFirstTwoCommasOnly) {
    const struct {
        const char* reply;
        const char* value;
        const char* time;
        const char* channel;
    } cases[] = {
        {"+2.21974610E+01,+000000000.256,101", "+2.21974610E+01", "+000000000.256", "101"},
        {"a,b,c,d", "a", "b", "c,d"},
        {",b,c", "", "b", "c"},
        {"a,,c", "a", "", "c"},
        {"a,b,", "a", "b", ""},
        {",,", "", "", ""},
    };
    for (const auto& c : cases) {
        const ReadingReply r = splitReadingReply(c.reply);
        EXPECT_EQ(r.value, c.value) << c.reply;
        EXPECT_EQ(r.time, c.time) << c.reply;
        EXPECT_EQ(r.channel, c.channel) << c.reply;
    }
    for (const char* bad : {"", "abc", "a,b", ","}) {
        EXPECT_THROW((void)splitReadingReply(bad), std::invalid_argument) << bad;
    }
}

}  // namespace
}  // namespace tq
