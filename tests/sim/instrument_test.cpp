// SPDX-License-Identifier: MIT
// The instrument model on a clock the test moves: scan timing, the reading
// memory, the error queue and the instrument's fitted parts.
#include "instrument.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tq820sim {
namespace {

using testing::InstrumentFixture;

// One channel of the program's scan: 0.25 s delay, 1 NPLC at 50 Hz and the
// fixed overhead.
constexpr double kChannelTime = 0.25 + 1.0 / 50.0 + Instrument::kOverhead;

TEST_F(InstrumentFixture, ReadingsAppearOneChannelTimeApartInTwoPassesTenSecondsApart) {
    configureProgramScan();
    clock.set(100.0);
    EXPECT_TRUE(silent("INITiate"));
    EXPECT_EQ(points(), 0);
    const std::vector<std::pair<double, int>> timeline = {{kChannelTime - 0.001, 0},
                                                          {kChannelTime + 0.001, 1},
                                                          {5 * kChannelTime + 0.001, 5},
                                                          {20 * kChannelTime + 0.001, 20},
                                                          {9.999, 20},
                                                          {10.0 + kChannelTime - 0.001, 20},
                                                          {10.0 + kChannelTime + 0.001, 21},
                                                          {10.0 + 20 * kChannelTime - 0.001, 39},
                                                          {10.0 + 20 * kChannelTime + 0.001, 40},
                                                          {1000.0, 40}};
    for (const auto& [after, expected] : timeline) {
        clock.set(100.0 + after);
        EXPECT_EQ(points(), expected) << after << " s after INITiate";
    }
    EXPECT_FALSE(instrument.scanRunning());
    // The first reading of the second pass is stamped one timer interval
    // after the first of the first pass.
    const std::string first = ask("DATA:REMove? 1");
    EXPECT_EQ(first.substr(first.find(',')), ",+000000000.272,101");
    for (int i = 0; i < 19; ++i) ask("DATA:REMove? 1");
    const std::string second = ask("DATA:REMove? 1");
    EXPECT_EQ(second.substr(second.find(',')), ",+000000010.272,101");
    EXPECT_EQ(points(), 19);
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(InstrumentFixture, PassesFollowEachOtherWhenTheTimerIsShorterThanAPass) {
    configureProgramScan();
    ask("TRIG:TIM 1;COUN 3");
    EXPECT_TRUE(silent("INIT"));
    clock.set(2 * 20 * kChannelTime + 0.001);
    EXPECT_EQ(points(), 40);
    ask("TRIG:SOUR IMM");
    clock.set(3 * 20 * kChannelTime + 0.001);
    EXPECT_EQ(points(), 60);
    // An immediate scan runs its passes back to back.
    EXPECT_TRUE(silent("INIT"));
    clock.advance(20 * kChannelTime * 1.5 + 0.001);
    EXPECT_EQ(points(), 30);
}

TEST_F(InstrumentFixture, AbortStopsTheScanAndKeepsWhatWasStored) {
    configureProgramScan();
    EXPECT_TRUE(silent("INITiate"));
    clock.set(3.0);
    EXPECT_TRUE(silent("ABORt"));
    const int stored = points();
    EXPECT_EQ(stored, static_cast<int>(3.0 / kChannelTime));
    clock.set(60.0);
    EXPECT_EQ(points(), stored);
    EXPECT_FALSE(instrument.scanRunning());
    // A new scan starts over with an empty memory.
    EXPECT_TRUE(silent("INIT"));
    EXPECT_EQ(points(), 0);
}

TEST_F(InstrumentFixture, ResetClearsMemoryAndSettingsButNotTheErrorQueue) {
    configureProgramScan();
    ask("INIT");
    clock.set(30.0);
    ask("BOGUS");
    EXPECT_EQ(points(), 40);
    EXPECT_EQ(ask("*RST;*OPC?"), "1");
    EXPECT_EQ(points(), 0);
    EXPECT_EQ(ask("ROUT:SCAN:SIZE?;:TRIG:COUN?;SOUR?;TIM?"), "+0;+1;IMM;+1.00000000E+00");
    EXPECT_EQ(ask("ROUT:CHAN:DEL? (@101);:FORM:READ:TIME?;CHAN?"), "+0.00000000E+00;0;0");
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kUndefinedHeader});
    // Nothing is left to scan after a reset.
    EXPECT_TRUE(silent("INIT"));
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kSettingsConflict});
}

TEST_F(InstrumentFixture, StartingARunningScanIsIgnored) {
    configureProgramScan();
    ask("INIT");
    clock.set(1.0);
    ask("INIT");
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kInitIgnored});
    clock.set(16.0);
    EXPECT_EQ(points(), 40);
}

TEST_F(InstrumentFixture, ReadingsArePlausibleAndFollowTheFormatSettings) {
    configureProgramScan();
    ask("INIT");
    clock.set(20.0);
    for (int i = 0; i < 40; ++i) {
        const std::string reading = ask("DATA:REMove? 1");
        const double value = std::stod(reading);
        const int channel = std::stoi(reading.substr(reading.rfind(',') + 1));
        EXPECT_EQ(channel, 101 + i % 20);
        if (channel <= 110) {
            EXPECT_NEAR(value, 22.0, 1.0) << reading;
        } else {
            EXPECT_LT(std::fabs(value), 10.0) << reading;
        }
        EXPECT_EQ(reading.size(), std::string("+2.21974610E+01,+000000000.256,101").size())
            << reading;
    }
    // Asking for more than is stored removes nothing and answers nothing.
    EXPECT_TRUE(silent("DATA:REMove? 1"));
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kDataOutOfRange});
    ask("INIT");
    clock.set(40.0);
    ask("FORM:READ:CHAN OFF;TIME OFF;UNIT ON");
    EXPECT_TRUE(silent("DATA:REMove? 41"));
    const std::string two = ask("DATA:REMove? 2");
    EXPECT_EQ(std::count(two.begin(), two.end(), ','), 1) << two;
    EXPECT_NE(two.find(" C,"), std::string::npos) << two;
}

TEST_F(InstrumentFixture, TemperatureUnitsConvertTheSameReading) {
    configureProgramScan();
    ask("ROUT:SCAN (@101);:TRIG:SOUR IMM;COUN 1");
    ask("INIT");
    clock.set(1.0);
    const double celsius = std::stod(ask("DATA:REM? 1"));
    ask("UNIT:TEMP K,(@101);:INIT");
    clock.set(2.0);
    EXPECT_NEAR(std::stod(ask("DATA:REM? 1")), celsius + 273.15, 0.2);
}

class SeededInstrument : public InstrumentFixture {
protected:
    static InstrumentOptions seeded(std::uint64_t seed) {
        InstrumentOptions options;
        options.seed = seed;
        return options;
    }
    std::vector<std::string> run(Instrument& other, ManualClock& otherClock) {
        for (const char* line :
             {"ROUT:SCAN (@101,111)", "TRIG:COUN 5", "FORM:READ:TIME ON", "INIT"}) {
            other.processLine(line);
        }
        otherClock.set(10.0);
        std::vector<std::string> readings;
        for (int i = 0; i < 10; ++i)
            readings.push_back(other.processLine("DATA:REMove? 1").value_or(""));
        return readings;
    }
};

TEST_F(SeededInstrument, TheSeedAloneDecidesTheReadings) {
    ManualClock clockA, clockB, clockC;
    Instrument a(clockA, seeded(7)), b(clockB, seeded(7)), c(clockC, seeded(8));
    const auto readingsA = run(a, clockA);
    EXPECT_EQ(readingsA, run(b, clockB));
    EXPECT_NE(readingsA, run(c, clockC));
    // Readings vary a little from pass to pass.
    EXPECT_NE(readingsA[0], readingsA[2]);
}

TEST(ErrorQueue, OldestFirstBoundedWithOverflowLast) {
    ErrorQueue queue;
    EXPECT_EQ(queue.pop().number, 0);
    for (int i = 1; i <= 12; ++i) queue.push({-100 - i, "e"});
    EXPECT_EQ(queue.size(), ErrorQueue::kCapacity);
    for (int i = 1; i < static_cast<int>(ErrorQueue::kCapacity); ++i)
        EXPECT_EQ(queue.pop().number, -100 - i);
    const ScpiError last = queue.pop();
    EXPECT_EQ(last.number, errors::kQueueOverflow);
    EXPECT_EQ(last.text, "Queue overflow");
    EXPECT_EQ(queue.pop().number, 0);
}

TEST_F(InstrumentFixture, ErrorQueueRepliesStatusBytesAndClearing) {
    EXPECT_EQ(ask("SYSTem:ERRor?"), "+0,\"No error\"");
    EXPECT_EQ(ask("*ESR?"), "+128");  // power on
    EXPECT_EQ(ask("*ESR?"), "+0");
    ask("FOO");
    ask("TRIG:COUN -1");
    EXPECT_EQ(ask("*STB?"), "+4");
    EXPECT_EQ(ask("*ESR?"), "+48");  // command and execution error
    EXPECT_EQ(ask("SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(ask("SYST:ERR:NEXT?"), "-222,\"Data out of range\"");
    EXPECT_EQ(ask("SYST:ERR?"), "+0,\"No error\"");
    for (int i = 0; i < 15; ++i) ask("FOO");
    ask("*CLS");
    EXPECT_EQ(ask("SYST:ERR?;*STB?"), "+0,\"No error\";+0");
    for (int i = 0; i < 15; ++i) ask("FOO");
    const std::vector<int> numbers = drainErrors();
    ASSERT_EQ(numbers.size(), ErrorQueue::kCapacity);
    EXPECT_EQ(numbers.back(), errors::kQueueOverflow);
}

class FaultyInstrument : public InstrumentFixture {
protected:
    static InstrumentOptions faults() {
        InstrumentOptions options;
        options.module = "";
        options.dmmOn = false;
        options.startErrors = {{-113, "Undefined header"}, {+101, "Calibration lost"}};
        return options;
    }
    FaultyInstrument() : InstrumentFixture(faults()) {}
};

TEST_F(FaultyInstrument, InjectedFaultsShowAsTheInstrumentWould) {
    EXPECT_EQ(ask("SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(ask("SYST:ERR?"), "+101,\"Calibration lost\"");
    EXPECT_EQ(ask("SYST:CTYP? 100"), "CORVALEN,0,0,0");
    EXPECT_EQ(ask("INST:DMM?;DMM:INST?"), "0;1");
    // Nothing measures while the DMM is off, and slot 100 has no channels.
    EXPECT_TRUE(silent("CONF:VOLT:DC 10,(@101)"));
    ask("INST:DMM ON");
    EXPECT_TRUE(silent("CONF:VOLT:DC 10,(@101)"));
    EXPECT_EQ(drainErrors(),
              (std::vector<int>{errors::kSettingsConflict, errors::kIllegalParameterValue}));
    EXPECT_EQ(ask("INST:DMM?"), "1");
}

class NoDmmInstrument : public InstrumentFixture {
protected:
    static InstrumentOptions faults() {
        InstrumentOptions options;
        options.dmmInstalled = false;
        return options;
    }
    NoDmmInstrument() : InstrumentFixture(faults()) {}
};

TEST_F(NoDmmInstrument, ReportsNoDmmAndRefusesToSwitchItOn) {
    EXPECT_EQ(ask("INST:DMM:INST?;:INST:DMM?"), "0;0");
    ask("INST:DMM ON");
    EXPECT_EQ(drainErrors(), std::vector<int>{errors::kSettingsConflict});
}

class StallOnly : public InstrumentFixture {
protected:
    static InstrumentOptions faults() {
        InstrumentOptions options;
        options.stallAt = 25;
        options.missingField = 2;
        return options;
    }
    StallOnly() : InstrumentFixture(faults()) {}
};

TEST_F(StallOnly, TheCountNeverReachesTheEndAndOneReplyLacksItsChannel) {
    configureProgramScan();
    ask("INIT");
    clock.set(1000.0);
    EXPECT_EQ(points(), 25);
    EXPECT_TRUE(instrument.scanRunning());
    const std::string first = ask("DATA:REMove? 1");
    const std::string second = ask("DATA:REMove? 1");
    EXPECT_EQ(std::count(first.begin(), first.end(), ','), 2) << first;
    EXPECT_EQ(std::count(second.begin(), second.end(), ','), 1) << second;
    EXPECT_EQ(instrument.takeFaultNotes().size(), 2U);
}

TEST_F(InstrumentFixture, IdentityModuleDateAndTime) {
    EXPECT_NE(ask("*IDN?").find("TQ820A"), std::string::npos);
    EXPECT_EQ(ask("SYSTem:CTYPe? 100"), "CORVALEN,TQ711A,0,1.0");
    EXPECT_EQ(ask("SYST:CTYP? 200"), "CORVALEN,0,0,0");
    EXPECT_TRUE(silent("SYST:CTYP? 150"));
    EXPECT_TRUE(silent("SYST:CTYP? 900"));
    EXPECT_EQ(drainErrors(), (std::vector<int>{errors::kDataOutOfRange, errors::kDataOutOfRange}));
    const std::string date = ask("SYSTem:DATE?");
    const std::string time = ask("SYSTem:TIME?");
    EXPECT_EQ(date.size(), 10U) << date;
    EXPECT_EQ(date.substr(0, 5), "2026,") << date;
    EXPECT_EQ(time.size(), 12U) << time;
    EXPECT_EQ(time.substr(time.size() - 4), ".123") << time;
}

}  // namespace
}  // namespace tq820sim
