// SPDX-License-Identifier: MIT
// Whole runs against the scripted instrument, clicked through the real
// window: the exact dialogue, the list, and every way a run ends.
#include <algorithm>
#include <ostream>

#include "io/reply_text.h"
#include "tests/program/program_fixture.h"

namespace tq::testing {
namespace {

const char* const kFailureText =
    "Unable to communicate with instrument;\ncheck the instrument address.";

std::vector<std::string> concat(std::vector<std::string> head,
                                const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::vector<std::string> expectedListing() {
    std::vector<std::string> expected = {
        "Select the I/O type or address.",
        "Then click on \"Get Readings\" to trigger instrument.",
        "Will take some time.",
        "",
        "Start Date (yyyy,mm,dd): +2026,+12,+09",
        "Start Time (hh,mm,ss): +11,+42,+07.000",
        "Rdng#\tChannel\tValue\t\tTime",
    };
    for (int i = 0; i < 40; ++i) {
        std::string reply = goodReading(i);
        reply.pop_back();  // its LF
        const auto c1 = reply.find(',');
        const auto c2 = reply.find(',', c1 + 1);
        expected.push_back(std::to_string(i + 1) + "\t" + reply.substr(c2 + 1) + "\t" +
                           reply.substr(0, c1) + "\t" + reply.substr(c1 + 1, c2 - c1 - 1));
    }
    return expected;
}

// The index of the date query in a first run opened by "Run": failing there
// stops the run right after the progress text.
std::size_t dateQueryStep() {
    const std::vector<std::string> calls = goodRunCalls();
    const auto date = std::find(calls.begin(), calls.end(), "Output SYSTem:DATE?");
    return static_cast<std::size_t>(date - calls.begin()) + 2;  // after OpenIO, InterfaceType
}

// ---- the good run ----------------------------------------------------------

using GoodRun = ProgramTest;

TEST_F(GoodRun, RunFirstOpensTheDesignAddressAndSendsExactlyTheDialogue) {
    openWindow();
    click("GetReadings");
    EXPECT_FALSE(endStatus.has_value());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(script->texts(), concat({"OpenIO GPIB0::9::INSTR", "InterfaceType"}, goodRunCalls()));
}

TEST_F(GoodRun, ListsTheHeadAndFortyRowsWithFieldsReordered) {
    openWindow();
    click("GetReadings");
    const std::vector<std::string> expected = expectedListing();
    EXPECT_EQ(lines(), expected);
    ASSERT_EQ(lines().size(), 47U);
    // Spot-check one row by hand: the reply's third field comes second.
    EXPECT_EQ(lines()[7], "1\t101\t+2.20000000E+01\t+000000000.000");
    EXPECT_EQ(lines()[46], "40\t120\t+1.53900000E+00\t+000000014.750");
}

TEST_F(GoodRun, ShowsIdentityAndProgressWhileTheScanRuns) {
    openWindow();
    script->failAtCall = dateQueryStep();
    click("GetReadings");
    ASSERT_EQ(endStatus, 1);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].listWhileShown, (std::vector<std::string>{
                                              "Instrument ID is:",
                                              "Corvalen,TQ820A,MY42000123,2.1-1.0-1.0",
                                              "",
                                              "Scanning and making measurements; please wait.",
                                              "The instrument will scan through the channels once,",
                                              "then wait a pre-determined time, and scan again.",
                                              "Measurement time is about: 15 seconds.",
                                          }));
}

TEST_F(GoodRun, SecondRunNeitherReopensNorRepeatsTheRemoteStep) {
    script->interfaceType = "ASRL";
    openWindow();
    click("GetReadings");
    const std::size_t before = script->calls.size();
    restockReadings();
    click("GetReadings");
    EXPECT_FALSE(endStatus.has_value());
    std::vector<std::string> second = callsFrom(before);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second.front(), "Output *IDN?");
    EXPECT_EQ(script->count("OpenIO GPIB0::9::INSTR"), 1U);
    EXPECT_EQ(script->count("Output SYSTem:REMote"), 1U);
    EXPECT_EQ(lines(), expectedListing()) << "the second run replaces the first listing";
}

TEST_F(GoodRun, SelectFirstOpensTheChosenAddressThenRunDoesNotReopen) {
    openWindow();
    click("SelectIO");
    EXPECT_EQ(script->texts(),
              (std::vector<std::string>{"SelectIODialog", "OpenIO ASRL1::INSTR", "InterfaceType"}));
    EXPECT_EQ(lines().size(), 3U) << "Select I/O leaves the list alone";
    const std::size_t before = script->calls.size();
    click("GetReadings");
    EXPECT_EQ(callsFrom(before), goodRunCalls());
    EXPECT_FALSE(endStatus.has_value());
}

TEST_F(GoodRun, SelectAfterARunReopensWithoutClosingAndKeepsTheList) {
    openWindow();
    click("GetReadings");
    const std::vector<std::string> listing = lines();
    const std::size_t before = script->calls.size();
    click("SelectIO");
    EXPECT_EQ(callsFrom(before),
              (std::vector<std::string>{"SelectIODialog", "OpenIO ASRL1::INSTR", "InterfaceType"}));
    EXPECT_EQ(lines(), listing);
}

TEST_F(GoodRun, DmmOffIsSwitchedOnBeforeAbort) {
    script->answer("INSTrument:DMM?", {"0\n"});
    openWindow();
    click("GetReadings");
    EXPECT_FALSE(endStatus.has_value());
    const std::vector<std::string> commands = script->commands();
    const auto on = std::find(commands.begin(), commands.end(), "INSTrument:DMM ON");
    ASSERT_NE(on, commands.end());
    EXPECT_EQ(*(on - 1), "INSTrument:DMM?");
    EXPECT_EQ(*(on + 1), "ABORt");
    EXPECT_EQ(script->count("Output INSTrument:DMM ON"), 1U);
}

// ---- the serial remote step --------------------------------------------------

using RemoteStep = ProgramTest;

TEST_F(RemoteStep, SerialGetsRemoteFirstAndAFullSecondBeforeTheNextCommand) {
    script->interfaceType = "ASRL";
    clock.step = 0.1;
    openWindow();
    click("GetReadings");
    ASSERT_GE(script->calls.size(), 4U);
    EXPECT_EQ(script->calls[2].text, "Output SYSTem:REMote");
    EXPECT_EQ(script->calls[3].text, "Output *IDN?");
    const double pause = script->calls[3].time - script->calls[2].time;
    EXPECT_GT(pause, 1.0);
    EXPECT_LT(pause, 1.35) << "a busy wait, not a much longer one";
}

TEST_F(RemoteStep, AnyOtherInterfaceTypeGetsNoRemoteAndNoPause) {
    for (const char* type : {"asrl", "ASRL ", "GPIB", "TCPIP", ""}) {
        SCOPED_TRACE(type);
        freshInstrument();
        script->interfaceType = type;
        openWindow();
        const double start = clock.now;
        click("SelectIO");
        EXPECT_EQ(script->count("Output SYSTem:REMote"), 0U);
        EXPECT_LT(clock.now - start, 0.5);
    }
}

TEST_F(RemoteStep, DelayEndsAtTheFirstReadingPastTheTarget) {
    openWindow();
    clock.step = 0.25;
    const double start = clock.now;
    window->delay(1000.0F);
    // Readings at +0.25 (target 1.25), 0.5, 0.75, 1.0, 1.25 (equal: goes on),
    // 1.5: the first one greater than the target.
    EXPECT_DOUBLE_EQ(clock.now - start, 1.5);
    const double zeroStart = clock.now;
    window->delay(0.0F);
    EXPECT_DOUBLE_EQ(clock.now - zeroStart, 0.5);
    const double negativeStart = clock.now;
    window->delay(-5.0F);
    EXPECT_DOUBLE_EQ(clock.now - negativeStart, 0.5);
}

// ---- failed checks -----------------------------------------------------------

struct CheckCase {
    const char* query;
    const char* reply;
    const char* message;
};

void PrintTo(const CheckCase& c, std::ostream* out) {
    *out << c.query << " answered " << quotedReply(c.reply);
}

class FailedCheck : public ProgramTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(FailedCheck, ShowsItsMessageClosesAndSendsNothingMore) {
    const CheckCase& c = GetParam();
    script->answer(c.query, {c.reply});
    openWindow();
    click("GetReadings");
    EXPECT_EQ(endStatus, 2);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].title, "Corvalen Example Program");
    EXPECT_EQ(messages[0].text, c.message);
    EXPECT_EQ(messages[0].icon, MessageIcon::Exclamation);
    const std::vector<std::string> calls = script->texts();
    ASSERT_GE(calls.size(), 3U);
    EXPECT_EQ(calls.back(), "CloseIO");
    EXPECT_EQ(calls[calls.size() - 2], "Enter string") << "nothing sent after the failed check";
    EXPECT_EQ(calls[calls.size() - 3], std::string("Output ") + c.query);
    EXPECT_EQ(messages[0].callsBefore, calls.size() - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, FailedCheck,
    ::testing::Values(
        CheckCase{"*IDN?", "Corvalen,tq820a,1,1\n",
                  "Incorrect instrument addressed; use the correct address."},
        CheckCase{"*IDN?", "\n", "Incorrect instrument addressed; use the correct address."},
        CheckCase{"*IDN?", "Corvalen,TQ820\nA\n",
                  "Incorrect instrument addressed; use the correct address."},
        CheckCase{"SYSTem:CTYPe? 100", "Corvalen,TQ710A,0,1.0\n",
                  "Incorrect Module Installed in slot 100!"},
        CheckCase{"SYSTem:CTYPe? 100", "0,0,0,0\n", "Incorrect Module Installed in slot 100!"},
        CheckCase{"INSTrument:DMM:INSTalled?", "0\n",
                  "DMM not installed; unable to make measurements."},
        CheckCase{"INSTrument:DMM:INSTalled?", "",
                  "DMM not installed; unable to make measurements."},
        CheckCase{"INSTrument:DMM:INSTalled?", "yes\n",
                  "DMM not installed; unable to make measurements."}));

TEST_F(ProgramTest, FailedIdentityLeavesTheStartUpLinesWhileItsMessageShows) {
    script->answer("*IDN?", {"Other,XY999,0,0\n"});
    openWindow();
    click("GetReadings");
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].listWhileShown.size(), 3U);
    EXPECT_EQ(lines().size(), 3U);
}

TEST_F(ProgramTest, FailedModuleShowsTheIdentityAlreadyListed) {
    script->answer("SYSTem:CTYPe? 100", {"\n"});
    openWindow();
    click("GetReadings");
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(
        messages[0].listWhileShown,
        (std::vector<std::string>{"Instrument ID is:", "Corvalen,TQ820A,MY42000123,2.1-1.0-1.0"}));
}

TEST_F(ProgramTest, DmmRepliesThatPass) {
    for (const char* reply : {"1", "+1\n", " 1", "-1", "0.5", "1e-3"}) {
        SCOPED_TRACE(reply);
        freshInstrument();
        script->answer("INSTrument:DMM:INSTalled?", {reply});
        openWindow();
        click("GetReadings");
        EXPECT_FALSE(endStatus.has_value());
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(lines().size(), 47U);
    }
}

// ---- the instrument's error queue ------------------------------------------

using ErrorQueue = ProgramTest;

TEST_F(ErrorQueue, OneErrorOneBoxThenClearCloseAndEnd) {
    script->answer("SYSTem:ERRor?", {"-113,\"Undefined header\"\n", "+0,\"No error\"\n"});
    openWindow();
    click("GetReadings");
    EXPECT_EQ(endStatus, 3);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].title, "Corvalen Example Program");
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(messages[0].text,
              "Error in: RunProg\n"
              "Error Number: -113\n"
              "Error Message: -113,\"Undefined header\"\n");
    const std::vector<std::string> calls = script->texts();
    const std::vector<std::string> tail(calls.end() - 7, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Output ABORt", "Output SYSTem:ERRor?",
                                              "Enter string", "Output SYSTem:ERRor?",
                                              "Enter string", "Output *CLS", "CloseIO"}));
}

TEST_F(ErrorQueue, TwoErrorsWrapTheTextAndPositiveNumbersGetABlank) {
    script->answer("SYSTem:ERRor?", {"+0,\"No error\"\n", "-222,\"Data out of range\"",
                                     "+5,\"Vendor\"", "+0,\"No error\"\n"});
    openWindow();
    click("GetReadings");
    EXPECT_EQ(endStatus, 3);
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_EQ(messages[0].text,
              "Error in: Setup\n"
              "Error Number: -222\n"
              "Error Message: -222,\"Data out of range\"");
    EXPECT_EQ(messages[1].text,
              "Error in: Error in: Setup\n"
              "Error Number: -222\n"
              "Error Message: -222,\"Data out of range\"\n"
              "Error Number:  5\n"
              "Error Message: +5,\"Vendor\"");
    EXPECT_EQ(script->count("Output SYSTem:ERRor?"), 4U);
    EXPECT_EQ(script->count("Output INITiate"), 0U) << "no later stage runs";
    const std::vector<std::string> calls = script->texts();
    EXPECT_EQ(calls.back(), "CloseIO");
    EXPECT_EQ(calls[calls.size() - 2], "Output *CLS");
}

TEST_F(ErrorQueue, ErrorsAfterTheListingKeepTheRows) {
    script->answer("SYSTem:ERRor?", {"+0,\"No error\"\n", "+0,\"No error\"\n",
                                     "-350,\"Queue overflow\"\n", "+0,\"No error\"\n"});
    openWindow();
    click("GetReadings");
    EXPECT_EQ(endStatus, 3);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].text.rfind("Error in: Readings\n", 0), 0U);
    EXPECT_EQ(lines(), expectedListing());
}

TEST_F(ErrorQueue, AReplyThatIsNoNumberCountsAsNoError) {
    script->answer("SYSTem:ERRor?", {"No error\n"});
    openWindow();
    click("GetReadings");
    EXPECT_FALSE(endStatus.has_value());
    EXPECT_EQ(script->count("Output *CLS"), 0U);
}

// ---- the failure path ------------------------------------------------------

struct FailurePathCheck {
    static void expectFailure(const std::vector<Message>& messages,
                              const std::optional<int>& status, const Script& script) {
        EXPECT_EQ(status, 1);
        ASSERT_EQ(messages.size(), 1U);
        EXPECT_EQ(messages[0].title, "Example Program");
        EXPECT_EQ(messages[0].text, kFailureText);
        EXPECT_EQ(messages[0].icon, MessageIcon::Exclamation);
        ASSERT_FALSE(script.calls.empty());
        EXPECT_EQ(script.calls.back().text, "CloseIO");
        EXPECT_EQ(messages[0].callsBefore, script.calls.size() - 1) << "CloseIO after the box";
    }
};

using FailurePath = ProgramTest;

TEST_F(FailurePath, OpenIoFailureShowsTheMessageClosesAnywayAndTellsStderrWhy) {
    script->failAtCall = 0;
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    FailurePathCheck::expectFailure(messages, endStatus, *script);
    EXPECT_EQ(script->texts(), (std::vector<std::string>{"OpenIO GPIB0::9::INSTR", "CloseIO"}));
    EXPECT_EQ(err, "tq820-scan: scripted failure at \"OpenIO GPIB0::9::INSTR\"\n");
}

TEST_F(FailurePath, SelectIoFailsTheSameWay) {
    script->failAtCall = 1;
    openWindow();
    (void)clickCapturingStderr("SelectIO");
    FailurePathCheck::expectFailure(messages, endStatus, *script);
}

TEST_F(FailurePath, EveryStepOfAGoodRunCanFailAndEndsTheSameWay) {
    const std::size_t steps = goodRunCalls().size() + 2;
    for (std::size_t step = 0; step < steps; ++step) {
        SCOPED_TRACE(step);
        freshInstrument();
        script->failAtCall = step;
        openWindow();
        (void)clickCapturingStderr("GetReadings");
        FailurePathCheck::expectFailure(messages, endStatus, *script);
        EXPECT_EQ(script->calls.size(), step + 2) << "nothing runs after the failing step";
    }
}

TEST_F(FailurePath, ASecondFailureWhileClosingIsReportedAndStillEnds) {
    // End_Prog's CloseIO fails: the failure path shows its message, closes
    // once more (failing again) and ends.
    script->answer("*IDN?", {"nothing\n"});
    script->failAtCall = 4;  // OpenIO, InterfaceType, Output, Enter, CloseIO
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_EQ(messages[1].text, kFailureText);
    EXPECT_EQ(script->count("CloseIO"), 2U);
    EXPECT_NE(err.find("tq820-scan: scripted failure at \"CloseIO\""), std::string::npos) << err;
}

TEST_F(FailurePath, CloseIoFailingInsideTheFailurePathIsReportedAndStillEnds) {
    script->answer("*IDN?", {});  // no reply: a time-out
    script->failAtCall = 4;       // OpenIO, InterfaceType, Output, Enter, CloseIO
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    EXPECT_NE(err.find("time-out"), std::string::npos) << err;
    EXPECT_NE(err.find("closing the connection failed too"), std::string::npos) << err;
}

// ---- the reading count and the measurement time ---------------------------------

struct CountCase {
    const char* scanSize;
    const char* triggerCount;
    int expectedReadings;
};

void PrintTo(const CountCase& c, std::ostream* out) {
    *out << "scan size " << c.scanSize << " x trigger count " << c.triggerCount;
}

class ReadingCount : public ProgramTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(ReadingCount, RoundsHalvesToEvenAndListsThatManyRows) {
    const CountCase& c = GetParam();
    script->answer("ROUTe:SCAN:SIZE?", {c.scanSize});
    script->answer("TRIGger:COUNt?", {c.triggerCount});
    script->answer("DATA:POINTS?", {std::to_string(c.expectedReadings)});
    openWindow();
    click("GetReadings");
    EXPECT_FALSE(endStatus.has_value());
    EXPECT_EQ(lines().size(), 7U + static_cast<std::size_t>(c.expectedReadings));
    EXPECT_EQ(script->count("Output DATA:REMove? 1"), static_cast<std::size_t>(c.expectedReadings));
}

INSTANTIATE_TEST_SUITE_P(Rounding, ReadingCount,
                         ::testing::Values(CountCase{"40.5", "1", 40}, CountCase{"41.5", "1", 42},
                                           CountCase{"20.25", "2", 40}, CountCase{"0", "2", 0},
                                           CountCase{"20", "0", 0}));

TEST_F(ProgramTest, AReadingCountBeyondThirtyTwoBitsIsAnOverflowNotAWrap) {
    script->answer("ROUTe:SCAN:SIZE?", {"1073741824"});  // 2^30 x 2 = 2^31
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    EXPECT_NE(err.find("reading count out of range"), std::string::npos) << err;
    EXPECT_EQ(script->count("Output INITiate"), 0U);
    EXPECT_EQ(script->count("Output SYSTem:ERRor?"), 1U) << "the Setup check never ran";
}

TEST_F(ProgramTest, MeasurementTimeFollowsTheReadBackSettings) {
    struct Case {
        const char* count;
        const char* delay;
        const char* interval;
        const char* shown;
    };
    for (const Case& c : {Case{"1", "0.25", "10", "5"}, Case{"3", "0.25", "10", "25"},
                          Case{"2", "0.125", "2.5", "5"}, Case{"2", "0.01", "0.3", "0.5"}}) {
        SCOPED_TRACE(c.shown);
        freshInstrument();
        script->answer("TRIGger:COUNt?", {c.count});
        script->answer("ROUTe:CHANnel:DELay? (@101)", {c.delay});
        script->answer("TRIGger:TIMer?", {c.interval});
        script->failAtCall = dateQueryStep();
        openWindow();
        (void)clickCapturingStderr("GetReadings");
        ASSERT_EQ(messages.size(), 1U);
        EXPECT_EQ(messages[0].listWhileShown.back(),
                  std::string("Measurement time is about: ") + c.shown + " seconds.");
    }
}

TEST_F(ProgramTest, AnInfiniteTimerIntervalIsAFloatingPointError) {
    script->answer("TRIGger:TIMer?", {"1e308"});
    script->answer("TRIGger:COUNt?", {"4"});
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    EXPECT_NE(err.find("measurement time cannot be computed"), std::string::npos) << err;
}

// ---- reading replies and start stamps ----------------------------------------

TEST_F(ProgramTest, OddButValidReadingRepliesAreListedAsReceived) {
    script->answer("DATA:POINTS?", {"4"});
    script->answer("ROUTe:SCAN:SIZE?", {"2"});
    script->answer("DATA:REMove? 1", {"a,b,c,d\r\n", ",1.5,101", "1.0,,102", " 7 , 8 ,\n"});
    openWindow();
    click("GetReadings");
    EXPECT_FALSE(endStatus.has_value());
    const std::vector<std::string> all = lines();
    ASSERT_EQ(all.size(), 11U);
    EXPECT_EQ(std::vector<std::string>(all.begin() + 7, all.end()),
              (std::vector<std::string>{"1\tc,d\ta\tb", "2\t101\t\t1.5", "3\t102\t1.0\t",
                                        "4\t\t 7 \t 8 "}));
}

TEST_F(ProgramTest, AMalformedReadingEndsTheRunAndKeepsTheRowsBefore) {
    for (const char* bad : {"+1.0E+00,+0.5\n", "+1.0E+00\n", "\n"}) {
        SCOPED_TRACE(bad);
        freshInstrument();
        script->answer("DATA:REMove? 1", {goodReading(0), goodReading(1), bad});
        openWindow();
        const std::string err = clickCapturingStderr("GetReadings");
        EXPECT_EQ(endStatus, 1);
        EXPECT_EQ(lines().size(), 9U) << "head and two rows stay";
        EXPECT_NE(err.find("fewer than two commas"), std::string::npos) << err;
        EXPECT_EQ(script->count("Output DATA:REMove? 1"), 3U);
        EXPECT_EQ(script->texts().back(), "CloseIO");
    }
}

TEST_F(ProgramTest, StartDateAndTimeAreListedWholeAndEmptyOnesFail) {
    script->answer("SYSTem:DATE?", {"2026,12,09"});
    script->answer("SYSTem:TIME?", {"7\r\n"});
    openWindow();
    click("GetReadings");
    ASSERT_FALSE(endStatus.has_value());
    EXPECT_EQ(lines()[4], "Start Date (yyyy,mm,dd): 2026,12,09");
    EXPECT_EQ(lines()[5], "Start Time (hh,mm,ss): 7");

    for (const char* query : {"SYSTem:DATE?", "SYSTem:TIME?"}) {
        SCOPED_TRACE(query);
        freshInstrument();
        script->answer(query, {"\r\n"});
        openWindow();
        const std::string err = clickCapturingStderr("GetReadings");
        EXPECT_EQ(endStatus, 1);
        EXPECT_NE(err.find("empty start"), std::string::npos) << err;
        EXPECT_EQ(script->count("Output DATA:POINTS?"), 3U) << "the error comes after the wait";
        EXPECT_EQ(script->count("Output DATA:REMove? 1"), 0U);
    }
}

// ---- the wait for stored readings --------------------------------------------

using StoredReadings = ProgramTest;

TEST_F(StoredReadings, TheWaitOnlyPollsAndLeavesTheListAlone) {
    script->answer("DATA:POINTS?", {"0", "0", "0", "7", "7", "39", "40"});
    openWindow();
    click("GetReadings");
    EXPECT_FALSE(endStatus.has_value());
    const std::vector<std::string> calls = script->texts();
    const auto first = std::find(calls.begin(), calls.end(), "Output DATA:POINTS?");
    const auto firstRemove = std::find(calls.begin(), calls.end(), "Output DATA:REMove? 1");
    std::vector<std::string> expected;
    for (int i = 0; i < 7; ++i) {
        expected.insert(expected.end(), {"Output DATA:POINTS?", "Enter int32"});
    }
    EXPECT_EQ(std::vector<std::string>(first, firstRemove), expected);
}

TEST_F(StoredReadings, ACountAboveTheExpectedIsAnError) {
    script->answer("DATA:POINTS?", {"20", "41"});
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    EXPECT_NE(err.find("stored 41 readings, more than the 40 expected"), std::string::npos) << err;
    EXPECT_EQ(script->count("Output DATA:POINTS?"), 2U);
}

TEST_F(StoredReadings, AStalledScanEndsAfterTheBoundSinceTheLastNewReading) {
    // 15 s of measurement and a 10 s timer give 2 x 25 = 50 s, so the
    // 60 s floor holds. The count moves at poll 2000 (2 s) and then stalls.
    clock.step = 0.001;
    std::deque<std::string> counts(2000, "5");
    counts.push_back("6");
    script->answer("DATA:POINTS?", counts);
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    EXPECT_NE(err.find("no new reading stored for 60 s"), std::string::npos) << err;
    const std::size_t polls = script->count("Output DATA:POINTS?");
    // Each poll reads the clock once: 2001 polls, then about 60 s at 1 ms.
    EXPECT_GT(polls, 2001U + 59000U);
    EXPECT_LT(polls, 2001U + 61000U);
}

TEST_F(StoredReadings, AScanRestartedForeverEndsThroughTheStallBound) {
    // The count climbs 0..30 (a reading a second at 10 ms a poll), falls
    // to 0 and climbs again, forever: only a new highest count is progress,
    // so the 60 s bound runs from the first time 30 was seen.
    clock.step = 0.01;
    constexpr int kPollsPerReading = 100;
    constexpr int kTop = 30;
    std::deque<std::string> counts;
    for (int count = 0; count <= kTop; ++count) {
        counts.insert(counts.end(), kPollsPerReading, std::to_string(count));
    }
    script->answer("DATA:POINTS?", counts);
    script->cycling.insert("DATA:POINTS?");
    script->failAtCall = 200000;  // a wait that never ends fails here instead
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    EXPECT_NE(err.find("no new reading stored for 60 s"), std::string::npos) << err;
    EXPECT_NE(err.find("held 30 before"), std::string::npos) << err;
    const std::vector<Call>& calls = script->calls;
    const auto firstPoll = std::find_if(calls.begin(), calls.end(), [](const Call& call) {
        return call.text == "Output DATA:POINTS?";
    });
    ASSERT_NE(firstPoll, calls.end());
    const double firstRestart = firstPoll->time + (kTop + 1) * kPollsPerReading * clock.step;
    const std::size_t polls = script->count("Output DATA:POINTS?");
    EXPECT_GT(polls, std::size_t{(kTop + 1) * kPollsPerReading}) << "the scan restarted";
    EXPECT_LT(clock.now - firstRestart, 90.0);
}

TEST_F(StoredReadings, ALongMeasurementGetsALongerBound) {
    clock.step = 1.0;
    script->answer("TRIGger:TIMer?", {"100"});  // meas_time 105 s: bound 2 x 205 = 410 s
    script->answer("DATA:POINTS?", {"3"});
    openWindow();
    const std::string err = clickCapturingStderr("GetReadings");
    EXPECT_EQ(endStatus, 1);
    EXPECT_NE(err.find("no new reading stored for 410 s"), std::string::npos) << err;
    const std::size_t polls = script->count("Output DATA:POINTS?");
    EXPECT_GT(polls, 405U);
    EXPECT_LT(polls, 415U);
}

}  // namespace
}  // namespace tq::testing
