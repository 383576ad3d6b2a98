// Aliases as CORVALEN_IO_ALIASES spells them.
#include <gtest/gtest.h>

#include "corvalenlib/aliases.h"
#include "io/corvalen.h"

namespace {

using CorvalenLib::lookupAlias;

TEST(Aliases, MatchesAResourceAliasInAnySpellingAndANameWithoutCase) {
    const std::string aliases = " bench=ASRL/dev/ttyUSB0::INSTR ;GPIB0::9::INSTR = TCPIP::127.0.0.1::5025::SOCKET;;";
    EXPECT_EQ(lookupAlias(aliases, "GPIB0::9::INSTR"), "TCPIP::127.0.0.1::5025::SOCKET");
    EXPECT_EQ(lookupAlias(aliases, "gpib::9"), "TCPIP::127.0.0.1::5025::SOCKET");
    EXPECT_EQ(lookupAlias(aliases, "Bench"), "ASRL/dev/ttyUSB0::INSTR");
    EXPECT_EQ(lookupAlias(aliases, "GPIB0::10::INSTR"), std::nullopt);
    EXPECT_EQ(lookupAlias(aliases, "bench2"), std::nullopt);
    EXPECT_EQ(lookupAlias("", "GPIB0::9::INSTR"), std::nullopt);
}

TEST(Aliases, ResolvesOnceAndTakesTheFirstMatch) {
    const std::string aliases = "a=b;b=GPIB0::3::INSTR;a=GPIB0::4::INSTR";
    EXPECT_EQ(lookupAlias(aliases, "a"), "b");
}

TEST(Aliases, RefusesAnEntryWithoutAliasAndResource) {
    EXPECT_THROW((void)lookupAlias("GPIB0::9::INSTR", "x"), CorvalenLib::IoError);
    EXPECT_THROW((void)lookupAlias("ok=GPIB0::1::INSTR;=TCPIP::h::1::SOCKET", "x"), CorvalenLib::IoError);
}

}  // namespace
