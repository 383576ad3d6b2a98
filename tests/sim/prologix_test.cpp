// SPDX-License-Identifier: MIT
// The Prologix controller model against its manual: the ++ commands, the
// escapes, the bus address, the read time-out and what the instrument
// makes of reads that find nothing to say.
#include "prologix.h"

#include <gtest/gtest.h>

namespace tq820sim {
namespace {

const std::string kIdentity = "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0";

class PrologixTest : public ::testing::Test {
protected:
    explicit PrologixTest(GpibAddress address = {})
        : controller(instrument, connectionFaults, faults, clock, {address, "GPIB-USB"}) {}

    // Everything for the host, time-outs waited out on the clock.
    std::string send(std::string_view bytes) {
        PrologixOutput out = controller.receive(bytes);
        keep(out);
        for (int i = 0; i < 100 && controller.deadline(); ++i) {
            clock.set(*controller.deadline());
            keep(out = controller.advance());
        }
        return host;
    }
    void keep(const PrologixOutput& out) {
        host += out.toHost;
        closed = closed || out.close;
        for (const BusEvent& event : out.events) {
            if (std::string(event.kind) == "RX") heard.push_back(event.text);
            if (std::string(event.kind) == "TX") said.push_back(event.text);
        }
    }
    std::vector<int> errors() {
        std::vector<int> numbers;
        for (int i = 0; i < 20; ++i) {
            const std::string reply = instrument.processLine("SYSTem:ERRor?").value_or("0");
            if (std::stoi(reply) == 0) break;
            numbers.push_back(std::stoi(reply));
        }
        return numbers;
    }

    ManualClock clock;
    Instrument instrument{clock, {}};
    ConnectionFaults connectionFaults;
    PrologixFaults faults;
    PrologixController controller;
    std::string host;
    std::vector<std::string> heard;  // lines the instrument received
    std::vector<std::string> said;   // what it sent, as read
    bool closed = false;
};

TEST_F(PrologixTest, ControllerCommandsSetAndTellTheirValues) {
    struct Case {
        const char* input;
        const char* answer;
    };
    const Case cases[] = {
        {"++ver\n", "Prologix GPIB-USB Controller version 6.107\r\n"},
        {"++addr\r", "9\r\n"},
        {"++addr 5 96\n++addr\n", "5 96\r\n"},
        {"++addr 31\n++addr 9 95\n++addr 9 96 1\n++addr x\n++addr\n", "9\r\n"},
        {"++auto 1\n++auto\n", "1\r\n"},
        {"++auto 2\n++auto\n", "0\r\n"},
        {"++eoi 0\n++eoi\n", "0\r\n"},
        {"++eos 3\n++eos\n++eos 4\n++eos\n", "3\r\n3\r\n"},
        {"++eot_enable 1\n++eot_char 255\n++eot_enable\n++eot_char\n", "1\r\n255\r\n"},
        {"++read_tmo_ms\n++read_tmo_ms 3000\n++read_tmo_ms 0\n++read_tmo_ms\n", "500\r\n3000\r\n"},
        {"++mode\n++savecfg 0\n++savecfg\n", "1\r\n0\r\n"},
        {"++auto 1\n++eos 2\n++addr 4\n++rst\n++auto\n++eos\n++addr\n", "0\r\n0\r\n9\r\n"},
        {"++spoll\n++srq\n", "0\r\n0\r\n"},
        {"++ifc\n++loc\n++llo\n++trg\n++clr\n", ""},
        // Unknown or misspelt commands are ignored; so is "+" alone.
        {"++bogus\n++VER\n++ read\n++\n", ""},
    };
    for (const Case& c : cases) {
        PrologixController fresh(instrument, connectionFaults, faults, clock, {});
        const PrologixOutput out = fresh.receive(c.input);
        EXPECT_EQ(out.toHost, c.answer) << c.input;
    }
    EXPECT_NE(send("++help\n").find("++read_tmo_ms"), std::string::npos);
    EXPECT_TRUE(heard.empty()) << "controller commands never reach the instrument";
}

TEST_F(PrologixTest, QueryIsAnsweredOnlyWhenReadAndEndsAtItsLineFeed) {
    EXPECT_EQ(send("*IDN?\r\n"), "");
    EXPECT_EQ(send("++read eoi\n"), kIdentity + "\n");
    EXPECT_EQ(heard, std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(said, std::vector<std::string>{kIdentity});
    // Command and read in one write, as a client that saves a round trip does.
    EXPECT_EQ(send("*OPC?\n++read eoi\n"), kIdentity + "\n1\n");
    // ++read 44 stops at the first comma; the rest stays for the next read.
    host.clear();
    EXPECT_EQ(send("SYSTem:ERRor?\n++read 44\n"), "+0,");
    EXPECT_EQ(send("++read\n"), "+0,\"No error\"\n");
    EXPECT_TRUE(errors().empty());
}

TEST_F(PrologixTest, EveryEscapedByteReachesTheInstrumentAsItself) {
    // ESC before CR, LF, ESC and '+' sends the byte as data; an escaped
    // "++" at the start is data, not a command.
    send("*IDN?\x1b\r\x1b\x1b\x1b+\n");
    send("\x1b+\x1b+ver\n");
    send("A\x1b\nB\n");
    EXPECT_EQ(heard, (std::vector<std::string>{"*IDN?\\x0D\\x1B+", "++ver", "A", "B"}));
    EXPECT_EQ(host, "") << "nothing is read unless asked";
}

TEST_F(PrologixTest, TerminatorAndEoiDecideWhereTheInstrumentsMessageEnds) {
    struct Case {
        const char* setup;
        std::vector<std::string> heard;
    };
    const Case cases[] = {
        {"++eos 0\n", {"*OPC?"}},   {"++eos 1\n", {"*OPC?"}},  // CR, then EOI
        {"++eos 2\n", {"*OPC?"}},   {"++eos 3\n", {"*OPC?"}},  // EOI alone
        {"++eos 3\n++eoi 0\n", {}},  // no end: the instrument keeps listening
        {"++eos 1\n++eoi 0\n", {}},
    };
    for (const Case& c : cases) {
        heard.clear();
        controller.receive("++rst\n++clr\n");
        send(c.setup);
        send("*OPC?\n");
        EXPECT_EQ(heard, c.heard) << c.setup;
    }
    // What was left unterminated is completed by the next message.
    heard.clear();
    send("++rst\n++clr\n++eos 3\n++eoi 0\n*ID\n++eos 2\nN?\n");
    EXPECT_EQ(heard, std::vector<std::string>{"*IDN?"});
}

TEST_F(PrologixTest, OtherAddressesHaveNoListenerAndTheirReadsTimeOutEmpty) {
    EXPECT_EQ(controller.receive("++addr 5\n*IDN?\n++read eoi\n++addr 9\n++ver\n").toHost, "");
    ASSERT_TRUE(controller.deadline());
    EXPECT_DOUBLE_EQ(*controller.deadline(), 0.5) << "the read waits out ++read_tmo_ms";
    clock.set(0.499);
    EXPECT_EQ(controller.advance().toHost, "") << "input waits while the controller reads";
    clock.set(0.5);
    EXPECT_EQ(controller.advance().toHost, "Prologix GPIB-USB Controller version 6.107\r\n");
    EXPECT_TRUE(heard.empty());
    EXPECT_TRUE(errors().empty()) << "the instrument was never addressed";

    // A plain ++read returns the reply at once and then waits out the time-out.
    controller.receive("++read_tmo_ms 120\n*OPC?\n++read\n");
    EXPECT_DOUBLE_EQ(*controller.deadline(), 0.5 + 0.12);
}

class PrologixSecondaryTest : public PrologixTest {
protected:
    PrologixSecondaryTest() : PrologixTest({9, 98}) {}
};

TEST_F(PrologixSecondaryTest, InstrumentWithASecondaryAddressHearsOnlyThatAddress) {
    EXPECT_EQ(send("++addr 9\n*OPC?\n++read eoi\n++addr 9 97\n*OPC?\n++read eoi\n"), "");
    EXPECT_EQ(send("++addr 9 98\n*OPC?\n++read eoi\n"), "1\n");
    EXPECT_EQ(heard, std::vector<std::string>{"*OPC?"});
}

TEST_F(PrologixTest, ReadsThatFindNothingOrAnUnreadReplyLeaveTheIEEE4882Errors) {
    struct Case {
        const char* input;
        const char* host;
        std::vector<int> errors;
    };
    const Case cases[] = {
        // ++auto 1 reads after every message: a command that is not a query
        // leaves the instrument addressed to talk with nothing to say.
        {"++auto 1\n*RST\n", "", {-420}},
        {"++auto 1\n*OPC?\n", "1\n", {}},
        {"++read eoi\n", "", {-420}},
        {"*OPC?\n*OPC?\n++read eoi\n", "1\n", {-410}},
        {"*OPC?\n++clr\n++read eoi\n", "", {-420}},
        {"++eot_enable 1\n++eot_char 42\n*OPC?\n++read eoi\n", "1\n*", {}},
        {"*OPC?\n++spoll\n++read eoi\n++spoll\n", "16\r\n1\n0\r\n", {}},
    };
    for (const Case& c : cases) {
        host.clear();
        send("++rst\n++clr\n");
        EXPECT_EQ(send(c.input), c.host) << c.input;
        EXPECT_EQ(errors(), c.errors) << c.input;
    }
}

TEST_F(PrologixTest, ReadFaultsDropDelayOrCutTheAnswer) {
    faults.dropRead = 1;
    faults.lateRead = 2;
    faults.cutRead = 5;
    controller.receive("*OPC?\n++read eoi\n");
    EXPECT_FALSE(controller.deadline()) << "a dropped read leaves the reply unread";
    EXPECT_EQ(controller.receive("++read eoi\n").toHost, "");
    EXPECT_DOUBLE_EQ(*controller.deadline(), 0.5) << "the late read times out as usual";
    clock.set(0.5 + PrologixController::kLateBy);
    EXPECT_EQ(controller.advance().toHost, "");
    EXPECT_EQ(send("++read eoi\n*OPC?\n++read eoi\n"), "1\n1\n");
    const PrologixOutput cut = controller.receive("*IDN?\n++read eoi\n++ver\n");
    EXPECT_EQ(cut.toHost, kIdentity.substr(0, (kIdentity.size() + 1) / 2));
    EXPECT_TRUE(cut.close);
    EXPECT_EQ(controller.receive("++ver\n").toHost, "") << "nothing after the line is gone";
    controller.connect();
    EXPECT_EQ(controller.receive("++ver\n").toHost.substr(0, 8), "Prologix");
}

// The late answer's query runs past the read time-out: reads before it is
// ready wait for it up to their own time-out and find no error meanwhile.
TEST_F(PrologixTest, ReadsOfALateAnswerWaitForItWithoutAnError) {
    struct Step {
        double at;  // seconds after the late read
        const char* input;
    };
    struct Case {
        std::vector<Step> steps;
        std::string host;
    };
    const Case cases[] = {
        // Ready at 2.5: the read at 1.0 times out at 1.5, the one at 2.0 waits.
        {{{0.0, "*OPC?\n++read eoi\n"}, {1.0, "++spoll\n++read eoi\n"}, {2.0, "++read eoi\n"}},
         "0\r\n1\n"},
        // The control's way: its re-sent read, past the first time-out.
        {{{0.0, "++read_tmo_ms 3000\n*OPC?\n++read eoi\n"}, {3.5, "++read eoi\n"}}, "1\n"},
        {{{0.0, "*OPC?\n++read eoi\n"}, {3.0, "++spoll\n++read eoi\n"}}, "16\r\n1\n"},
    };
    for (const Case& c : cases) {
        host.clear();
        send("++rst\n++clr\n");
        faults.lateRead = faults.reads + 1;
        const double start = clock.seconds() + 10;
        for (const Step& step : c.steps) {
            clock.set(start + step.at);
            send(step.input);
        }
        EXPECT_EQ(host, c.host) << c.steps.front().input;
        EXPECT_EQ(errors(), std::vector<int>{}) << c.steps.front().input;
    }
}

TEST_F(PrologixTest, EndlessLineOrFloodWhileReadingClosesTheConnection) {
    EXPECT_TRUE(controller.receive(std::string(Session::kMaxLine + 1, 'A')).close);
    controller.connect();
    controller.receive("++read\n");  // busy for the read time-out
    EXPECT_FALSE(controller.receive(std::string(1000, 'x')).close);
    EXPECT_TRUE(controller.receive(std::string(PrologixController::kMaxPending, 'x')).close);
}

}  // namespace
}  // namespace tq820sim
