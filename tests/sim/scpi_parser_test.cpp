// SPDX-License-Identifier: MIT
// The SCPI parser on the command forms real clients send, and on broken ones.
#include "scpi.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

namespace tq820sim {
namespace {

using testing::InstrumentFixture;

TEST(ScpiPattern, KeywordsMatchShortAndLongFormInAnyCase) {
    const Pattern pattern("CONFigure:VOLTage[:DC]");
    for (const std::vector<std::string>& nodes :
         std::vector<std::vector<std::string>>{{"CONF", "VOLT", "DC"},
                                               {"conf", "volt"},
                                               {"CONFIGURE", "voltage", "dc"},
                                               {"ConFigure", "VOLTage", "DC"}}) {
        EXPECT_TRUE(pattern.matches(nodes, false)) << nodes[0] << ":" << nodes[1];
    }
    // Neither short nor long form, or the wrong kind of message.
    EXPECT_FALSE(pattern.matches({"CONFIG", "VOLT"}, false));
    EXPECT_FALSE(pattern.matches({"CON", "VOLT"}, false));
    EXPECT_FALSE(pattern.matches({"CONF", "VOLT", "AC"}, false));
    EXPECT_FALSE(pattern.matches({"CONF", "VOLT"}, true));
    EXPECT_FALSE(pattern.matches({"VOLT"}, false));
}

TEST(ScpiPattern, OptionalNodesMayBeLeftOutAnywhere) {
    const Pattern nplc("[SENSe]:VOLTage[:DC]:NPLCycles");
    EXPECT_TRUE(nplc.matches({"SENSe", "VOLTage", "NPLC"}, false));
    EXPECT_TRUE(nplc.matches({"VOLT", "DC", "NPLC"}, false));
    EXPECT_TRUE(nplc.matches({"volt", "nplcycles"}, false));
    EXPECT_FALSE(nplc.matches({"SENS", "DC", "NPLC"}, false));
    const Pattern error("SYSTem:ERRor[:NEXT]?");
    EXPECT_TRUE(error.matches({"SYST", "ERR"}, true));
    EXPECT_TRUE(error.matches({"SYSTEM", "ERROR", "NEXT"}, true));
    EXPECT_FALSE(error.matches({"SYST", "ERR", "NEXT", "NEXT"}, true));
}

TEST(ScpiUnits, HeadersAndParametersAreSeparated) {
    const MessageUnit unit = parseUnit("  :CONFigure:VOLTage:DC 10, (@111:120)  ");
    EXPECT_TRUE(unit.absolute);
    EXPECT_FALSE(unit.query);
    EXPECT_EQ(unit.nodes, (std::vector<std::string>{"CONFigure", "VOLTage", "DC"}));
    EXPECT_EQ(splitParameters(unit.parameters), (std::vector<std::string>{"10", "(@111:120)"}));
    EXPECT_EQ(splitParameters("TCouple, J, (@101,105,111:115)"),
              (std::vector<std::string>{"TCouple", "J", "(@101,105,111:115)"}));
    const MessageUnit common = parseUnit("*idn?");
    EXPECT_TRUE(common.common);
    EXPECT_TRUE(common.query);
    EXPECT_EQ(splitUnits("*RST;*OPC?"), (std::vector<std::string>{"*RST", "*OPC?"}));
    EXPECT_EQ(splitUnits("A \"x;y\";B").size(), 2U);
}

TEST(ScpiUnits, MalformedHeadersAreRejected) {
    for (const char* text : {"CONF::VOLT", ":", "CONF:", "*", "CONF:VO!LT"}) {
        EXPECT_THROW(parseUnit(text), ScpiFailure) << text;
    }
    try {
        parseUnit(std::string("SYST\x01:ERR?", 10));
        FAIL() << "a control character in a header passed";
    } catch (const ScpiFailure& failure) {
        EXPECT_EQ(failure.number, errors::kInvalidCharacter);
    }
}

TEST(ScpiNumbers, AllNumericFormsAndTheirKeywords) {
    EXPECT_EQ(parseNumeric("10").value, 10.0);
    EXPECT_EQ(parseNumeric("+0.25").value, 0.25);
    EXPECT_EQ(parseNumeric(".5").value, 0.5);
    EXPECT_EQ(parseNumeric("5.").value, 5.0);
    EXPECT_EQ(parseNumeric("1.0E1").value, 10.0);
    EXPECT_EQ(parseNumeric("-2.5e-1").value, -0.25);
    EXPECT_EQ(parseNumeric("min").kind, Numeric::Kind::Min);
    EXPECT_EQ(parseNumeric("MAXimum").kind, Numeric::Kind::Max);
    EXPECT_EQ(parseNumeric("DEF").kind, Numeric::Kind::Def);
    auto errorOf = [](const char* text) {
        try {
            parseNumeric(text);
        } catch (const ScpiFailure& failure) {
            return failure.number;
        }
        return 0;
    };
    EXPECT_EQ(errorOf("1e"), errors::kInvalidCharInNumber);
    EXPECT_EQ(errorOf("1..2"), errors::kInvalidCharInNumber);
    EXPECT_EQ(errorOf("10 V"), errors::kInvalidSuffix);
    EXPECT_EQ(errorOf("TEN"), errors::kDataType);
    EXPECT_EQ(errorOf("."), errors::kInvalidCharInNumber);
    EXPECT_EQ(errorOf("1e999"), -123);
}

TEST(ScpiChannels, ListsRangesAndTheirCompactForm) {
    EXPECT_EQ(parseChannelList("(@101,105,111:113)"), (std::vector<int>{101, 105, 111, 112, 113}));
    EXPECT_EQ(parseChannelList("(@103:101)"), (std::vector<int>{103, 102, 101}));
    EXPECT_EQ(parseChannelList("(@ 101 : 102 )"), (std::vector<int>{101, 102}));
    EXPECT_TRUE(parseChannelList("(@)").empty());
    EXPECT_EQ(formatChannelList({101, 102, 103, 105, 111, 112}), "(@101:103,105,111:112)");
    for (const char* text :
         {"(101)", "@101", "(@10a)", "(@101:)", "(@,101)", "(@1:999999)", "(@101"}) {
        EXPECT_THROW(parseChannelList(text), ScpiFailure) << text;
    }
    // A line full of ranges cannot make the list grow without bound.
    std::string repeated = "(@101:7000";
    for (int i = 0; i < 9000; ++i) repeated += ",101:7000";
    EXPECT_THROW(parseChannelList(repeated + ")"), ScpiFailure);
    std::string many = "(@101";
    for (int i = 0; i < 9000; ++i) many += ",101";
    EXPECT_THROW(parseChannelList(many + ")"), ScpiFailure);
}

TEST_F(InstrumentFixture, CompoundLinesContinueFromThePreviousPath) {
    EXPECT_TRUE(silent("TRIG:COUN 3;SOUR TIM;TIM 5"));
    EXPECT_EQ(ask("TRIGger:COUNt?;SOURce?;TIMer?"), "+3;TIM;+5.00000000E+00");
    // A common command leaves the path where it was.
    EXPECT_EQ(ask("TRIG:COUN 4;*OPC?;COUN?"), "1;+4");
    // A leading colon goes back to the root.
    EXPECT_EQ(ask("TRIG:COUN 5;:ROUT:SCAN (@101:103);:ROUT:SCAN:SIZE?"), "+3");
    EXPECT_TRUE(drainErrors().empty());
    // Without the colon the second header is looked for below TRIGger.
    EXPECT_TRUE(silent("TRIG:COUN 6;TRIG:SOUR IMM"));
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kUndefinedHeader});
}

TEST_F(InstrumentFixture, ErrorsInALineQueueAndStopOnlyWhereSCPISays) {
    // A command error ends the line; the replies before it still go out.
    EXPECT_EQ(ask("*IDN?;BOGUS;*OPC?"), "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0");
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kUndefinedHeader});
    // An execution error spoils only its unit.
    EXPECT_EQ(ask("TRIG:COUN 0;:TRIG:COUN?"), "+1");
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kDataOutOfRange});
    // A query of something that cannot be asked gets no reply at all.
    EXPECT_TRUE(silent("*RST?"));
    EXPECT_TRUE(silent("ABORt?"));
    EXPECT_EQ(drainErrors(),
              (std::vector<int>{errors::kUndefinedHeader, errors::kUndefinedHeader}));
    // Parameter counts and kinds.
    EXPECT_TRUE(silent("TRIG:COUN"));
    EXPECT_TRUE(silent("*RST 5"));
    EXPECT_TRUE(silent("TRIG:SOUR SOMETIMES"));
    EXPECT_TRUE(silent("ROUT:SCAN (@101:150)"));
    EXPECT_TRUE(silent("ROUT:CHAN:DEL 0.25, 101"));
    EXPECT_EQ(drainErrors(),
              (std::vector<int>{errors::kMissingParameter, errors::kParameterNotAllowed,
                                errors::kIllegalParameterValue, errors::kIllegalParameterValue,
                                errors::kDataType}));
}

TEST_F(InstrumentFixture, ConfigurationReadsBackAsSet) {
    configureProgramScan();
    EXPECT_EQ(ask("ROUTe:SCAN:SIZE?"), "+20");
    EXPECT_EQ(ask("TRIGger:COUNt?"), "+2");
    EXPECT_EQ(ask("ROUTe:CHANnel:DELay? (@101)"), "+2.50000000E-01");
    EXPECT_EQ(ask("TRIGger:TIMer?"), "+1.00000000E+01");
    EXPECT_EQ(ask("ROUT:SCAN?"), "(@101:120)");
    EXPECT_EQ(ask("CONF? (@110,111)"), "\"TEMP TC,J\",\"VOLT:DC +1.00000000E+01\"");
    EXPECT_EQ(ask("UNIT:TEMP? (@101,102)"), "C,C");
    EXPECT_EQ(ask("TEMP:TRAN:TC:RJUN:TYPE? (@101)"), "INT");
    EXPECT_EQ(ask("VOLT:NPLC? (@120)"), "+1.00000000E+00");
    EXPECT_EQ(ask("VOLT:RANG? (@111)"), "+1.00000000E+01");
    EXPECT_EQ(ask("FORM:READ:TIME?;TIME:TYPE?;:FORM:READ:CHAN?"), "1;REL;1");
    EXPECT_EQ(ask("TRIG:SOUR?"), "TIM");
    EXPECT_TRUE(drainErrors().empty());
    // Settings round up to what the hardware offers, or are refused.
    EXPECT_TRUE(silent("VOLT:NPLC 0.5,(@111);:CONF:VOLT:DC 2,(@112);:CONF:VOLT:DC 400,(@113)"));
    EXPECT_EQ(ask("VOLT:NPLC? (@111);:VOLT:RANG? (@112,113)"),
              "+1.00000000E+00;+1.00000000E+01,+1.00000000E+01");
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kDataOutOfRange});
}

}  // namespace
}  // namespace tq820sim
