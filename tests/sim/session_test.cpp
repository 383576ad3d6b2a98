// SPDX-License-Identifier: MIT
// A conversation's bytes: line assembly, line ends, over-long and binary
// input, and the faults that concern the connection.
#include "session.h"
#include "options.h"

#include <gtest/gtest.h>

namespace tq820sim {
namespace {

class SessionTest : public ::testing::Test {
protected:
    std::string repliesOf(const Output& output) {
        std::string all;
        for (const std::string& reply : output.replies) all += reply;
        return all;
    }
    std::vector<std::string> eventsOf(const Output& output, Event::Kind kind) {
        std::vector<std::string> texts;
        for (const Event& event : output.events) {
            if (event.kind == kind) texts.push_back(event.text);
        }
        return texts;
    }

    ManualClock clock;
    Instrument instrument{clock, {}};
    ConnectionFaults faults;
    Session session{instrument, faults};
};

TEST_F(SessionTest, LinesMayArriveInPiecesOrTogetherWithEitherLineEnd) {
    EXPECT_TRUE(session.receive("*ID").replies.empty());
    const Output idn = session.receive("N?\r\n*OPC?\n*O");
    EXPECT_EQ(repliesOf(idn), "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0\n1\n");
    EXPECT_EQ(eventsOf(idn, Event::Kind::Received), (std::vector<std::string>{"*IDN?", "*OPC?"}));
    EXPECT_EQ(repliesOf(session.receive("PC?\n")), "1\n");
    // A blank line is no command.
    EXPECT_TRUE(session.receive("\n\r\n").replies.empty());
    EXPECT_EQ(instrument.errorQueue().size(), 0U);
}

TEST_F(SessionTest, BinaryInputGivesErrorsAndTheInstrumentStillAnswers) {
    std::string noise;
    for (int byte = 0; byte < 256; ++byte) noise += static_cast<char>(byte);
    const Output output = session.receive(noise + noise + "\n");
    EXPECT_TRUE(output.replies.empty());
    EXPECT_FALSE(output.close);
    EXPECT_GT(instrument.errorQueue().size(), 0U);
    // The transcript shows the bytes escaped, on one line.
    const auto received = eventsOf(output, Event::Kind::Received);
    ASSERT_EQ(received.size(), 3U);  // byte 10 ends the first two lines
    EXPECT_EQ(received[0], "\\x00\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\x09");
    EXPECT_EQ(received[1].substr(0, 8), "\\x0B\\x0C");
    EXPECT_EQ(received[1].find_first_of("\n\r"), std::string::npos);
    EXPECT_EQ(repliesOf(session.receive("*OPC?\n")), "1\n");
}

TEST_F(SessionTest, RandomCommandLikeLinesNeverCrashOrLeaveTheQueueUnbounded) {
    // Pieces of real commands shuffled with bytes of every kind.
    const std::vector<std::string> pieces = {"CONF",
                                             ":",
                                             "VOLT",
                                             "DC",
                                             "?",
                                             ";",
                                             "*",
                                             "IDN",
                                             "(@",
                                             "101",
                                             ":",
                                             "120",
                                             ")",
                                             ",",
                                             " ",
                                             "1e9",
                                             "MIN",
                                             "DATA:REM? ",
                                             "INIT",
                                             "ABOR",
                                             "\"",
                                             "'",
                                             "TRIG:COUN INF",
                                             std::string(1, '\0'),
                                             "\xff",
                                             "\r"};
    std::uint64_t state = 42;
    auto next = [&state]() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>(state >> 33U);
    };
    for (int line = 0; line < 3000; ++line) {
        std::string text;
        const std::size_t length = next() % 12;
        for (std::size_t i = 0; i < length; ++i) text += pieces[next() % pieces.size()];
        clock.advance(0.5);
        session.receive(text + "\n");
        ASSERT_LE(instrument.errorQueue().size(), ErrorQueue::kCapacity);
    }
    session.receive("*CLS\n");
    EXPECT_EQ(repliesOf(session.receive("*OPC?\n")), "1\n");
}

TEST_F(SessionTest, AnOverlongLineIsRefusedAndTheConnectionClosed) {
    const std::string longest(Session::kMaxLine, 'A');
    EXPECT_FALSE(session.receive(longest + "\n").close);
    const Output output = session.receive(longest + "B");
    EXPECT_TRUE(output.close);
    EXPECT_TRUE(session.receive("*IDN?\n").replies.empty());
    ConnectionFaults otherFaults;
    Session next(instrument, otherFaults);
    EXPECT_EQ(repliesOf(next.receive("SYST:ERR?;:SYST:ERR?\n")),
              "-113,\"Undefined header\";-363,\"Input buffer overrun\"\n");
}

TEST_F(SessionTest, CloseAfterCountsLinesOverEveryConnection) {
    faults.closeAfter = 3;
    EXPECT_FALSE(session.receive("*OPC?\n").close);
    Session second(instrument, faults);
    const Output output = second.receive("*OPC?\n*OPC?\n*OPC?\n");
    EXPECT_TRUE(output.close);
    // The third line is answered, the fourth never read.
    EXPECT_EQ(repliesOf(output), "1\n1\n");
    EXPECT_EQ(eventsOf(output, Event::Kind::Fault).size(), 1U);
}

TEST_F(SessionTest, GarbageAndMissingLineEndHitExactlyTheQueriesNamed) {
    faults.garbageReply = 2;
    faults.noLineEnd = 4;
    EXPECT_EQ(repliesOf(session.receive("*OPC?\n")), "1\n");
    const std::string garbage = repliesOf(session.receive("*IDN?\n"));
    EXPECT_EQ(garbage.find("TQ820A"), std::string::npos);
    EXPECT_EQ(garbage.back(), '\n');
    EXPECT_EQ(garbage.find('\n'), garbage.size() - 1);
    EXPECT_TRUE(session.receive("ABORt\n").replies.empty());
    // Queries three and four share a line: its reply loses its line end.
    const Output output = session.receive("*OPC?;*IDN?\n");
    EXPECT_EQ(repliesOf(output), "1;CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0");
    EXPECT_EQ(eventsOf(output, Event::Kind::Fault).size(), 1U);
    EXPECT_EQ(repliesOf(session.receive("*OPC?\n")), "1\n");
}

TEST(SimulatorOptions, TheCommandLineAsDocumented) {
    const SimulatorOptions defaults = parseOptions({});
    EXPECT_TRUE(defaults.tcp);
    EXPECT_FALSE(defaults.pty);
    EXPECT_EQ(defaults.host, "127.0.0.1");
    EXPECT_EQ(defaults.port, 5025);
    EXPECT_EQ(defaults.idleTimeoutS, 300);
    const SimulatorOptions options =
        parseOptions({"--pty", "--tcp", "0", "--speed", "50", "--seed=9", "--error",
                      "-113,\"Undefined header\"", "--error", "+101,Calibration lost", "--module",
                      "", "--no-line-end", "7", "--reply-delay", "20", "--idle-timeout", "0"});
    EXPECT_TRUE(options.pty);
    EXPECT_TRUE(options.tcp);
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.speed, 50.0);
    EXPECT_EQ(options.instrument.seed, 9U);
    ASSERT_EQ(options.instrument.startErrors.size(), 2U);
    EXPECT_EQ(options.instrument.startErrors[0].text, "Undefined header");
    EXPECT_EQ(options.instrument.startErrors[1].number, 101);
    EXPECT_EQ(options.instrument.module, "");
    EXPECT_EQ(options.faults.noLineEnd, 7);
    EXPECT_EQ(options.replyDelayMs, 20);
    EXPECT_EQ(options.idleTimeoutS, 0);
    EXPECT_EQ(parseOptions({"--tcp", "0.0.0.0:6000"}).host, "0.0.0.0");
    EXPECT_EQ(parseOptions({"--pty"}).tcp, false);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--tcp"},
                                               {"--tcp", "70000"},
                                               {"--tcp", ":5"},
                                               {"--speed", "0"},
                                               {"--speed", "fast"},
                                               {"--close-after", "-1"},
                                               {"--idle-timeout", "-1"},
                                               {"--error", "0,none"},
                                               {"--error", "x"},
                                               {"--frobnicate"},
                                               {"--pty=yes"}}) {
        EXPECT_THROW(parseOptions(bad), OptionsError) << bad[0];
    }
}

}  // namespace
}  // namespace tq820sim
