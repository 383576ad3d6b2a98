// SPDX-License-Identifier: MIT
// The control over a raw TCP socket, against a scripted loopback peer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "corvalenlib/widgets/control.h"
#include "corvalenlib/core/errors.h"
#include "peers.h"

namespace {

using namespace std::chrono_literals;
using CorvalenLib::Control;
using CorvalenLib::IoError;
using CorvalenLib::TimeoutError;
using peers::millisecondsSince;

class SocketControl : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("CORVALEN_IO_ALIASES");
        control.setTimeout(300ms);
        control.OpenIO(peer.resource());
        ASSERT_TRUE(peer.accept());
    }

    std::string query(const std::string& command, std::string_view reply) {
        control.Output(command);
        EXPECT_EQ(peer.receive(command.size() + 1), command + "\n");
        peer.send(reply);
        std::string answer;
        control.Enter(answer);
        return answer;
    }

    peers::TcpPeer peer;
    Control control;
};

TEST_F(SocketControl, SendsEachCommandWithOneLineEndAndKeepsTheReplysLineEnd) {
    EXPECT_EQ(control.IO().InterfaceType(), "TCPIP");
    EXPECT_EQ(query("*IDN?", "CORVALEN,TQ820A,0,1.0\n"), "CORVALEN,TQ820A,0,1.0\n");
    control.Output("CONFigure:TEMPerature TCouple,J,(@101:110)");
    control.Output("ABORt");
    EXPECT_EQ(peer.receiveUntilQuiet(), "CONFigure:TEMPerature TCouple,J,(@101:110)\nABORt\n");
    // A CR before the LF belongs to the reply: it is the program's to cut.
    EXPECT_EQ(query("SYSTem:ERRor?", "+0,\"No error\"\r\n"), "+0,\"No error\"\r\n");
}

TEST_F(SocketControl, KeepsBytesAfterALineEndForTheNextReply) {
    control.Output("DATA:POINTS?");
    peer.send("+20\n+21\n+2");
    std::int32_t count = 0;
    control.Enter(count);
    EXPECT_EQ(count, 20);
    control.Enter(count);
    EXPECT_EQ(count, 21);
    peer.send("2\n");
    control.Enter(count);
    EXPECT_EQ(count, 22);
}

TEST_F(SocketControl, AssemblesAReplySentInManySmallPieces) {
    control.setTimeout(10s);  // the time-out bounds the whole reply, and a loaded machine sleeps long
    control.Output("DATA:REMove? 1");
    const std::string reading = "+2.21974610E+01,+000000000.256,101\n";
    std::jthread writer([&] { peer.sendSlowly(reading, 2ms); });
    std::string answer;
    control.Enter(answer);
    EXPECT_EQ(answer, reading);
}

TEST_F(SocketControl, ConvertsScpiNumbersForEachTargetKind) {
    std::int32_t whole = 0;
    double real = 0.0;
    CorvalenLib::PlainNumber plain;
    control.Output("Q?");
    peer.send("-113\n +4.00000000E+01 \r\n9.9E37\n2.5\n");
    control.Enter(whole);
    EXPECT_EQ(whole, -113);
    control.Enter(real);
    EXPECT_DOUBLE_EQ(real, 40.0);
    control.Enter(plain);
    EXPECT_DOUBLE_EQ(plain.value, 9.9e37);
    control.Enter(whole);
    EXPECT_EQ(whole, 2);  // halves round to even
}

TEST_F(SocketControl, RefusesRepliesThatAreNotNumbersOfTheTargetsKind) {
    std::int32_t whole = 7;
    double real = 0.0;
    peer.send("9.9E37\n+1.0E+01,+2\n\n");
    try {
        control.Enter(whole);
        FAIL() << "9.9E37 fitted a 32-bit integer";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("outside the 32-bit integer range"), std::string::npos) << error.what();
    }
    EXPECT_EQ(whole, 7);
    EXPECT_THROW(control.Enter(real), IoError);  // two numbers in one reply
    try {
        control.Enter(real);
        FAIL() << "an empty reply gave a number";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("reply \"\\n\" is not a number"), std::string::npos) << error.what();
    }
}

TEST_F(SocketControl, TimesOutOnASilentPeerWithinItsBound) {
    control.Output("*IDN?");
    const auto start = std::chrono::steady_clock::now();
    std::string answer;
    try {
        control.Enter(answer);
        FAIL() << "a silent peer gave a reply";
    } catch (const TimeoutError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("TCPIP0::127.0.0.1::" + std::to_string(peer.port()) + "::SOCKET: Enter: no reply within 300 ms"),
                  std::string::npos)
            << text;
    }
    const auto elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 1500);
}

TEST_F(SocketControl, ReportsAReplyWithoutLineEndAsATimeout) {
    control.Output("*IDN?");
    peer.send("CORVALEN,TQ820A");
    std::string answer;
    try {
        control.Enter(answer);
        FAIL() << "a reply without line end was taken";
    } catch (const TimeoutError& error) {
        EXPECT_NE(std::string(error.what()).find("no line end within 300 ms (15 bytes"), std::string::npos) << error.what();
    }
}

TEST_F(SocketControl, FailsAtOnceWhenThePeerClosesMidReply) {
    control.setTimeout(10s);
    control.Output("*IDN?");
    ASSERT_EQ(peer.receive(6), "*IDN?\n");  // unread input would turn the close into a reset
    peer.send("CORVALEN,TQ8");
    peer.close();
    const auto start = std::chrono::steady_clock::now();
    std::string answer;
    try {
        control.Enter(answer);
        FAIL() << "a broken reply was taken";
    } catch (const TimeoutError&) {
        FAIL() << "waited for the time-out on a closed connection";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("closed by the instrument after 12 bytes"), std::string::npos)
            << error.what();
    }
    EXPECT_LT(millisecondsSince(start), 1000);
}

TEST_F(SocketControl, FailsOnWriteOnceThePeerHasGone) {
    peer.close();
    std::this_thread::sleep_for(50ms);
    // The first write may still be taken by the kernel; the reset comes back
    // on one of the next few.
    EXPECT_THROW(
        {
            for (int i = 0; i < 10; ++i) {
                control.Output("*CLS");
                std::this_thread::sleep_for(20ms);
            }
        },
        IoError);
}

TEST_F(SocketControl, StopsAnEndlessReplyAtTheCapWithoutWaitingForTheTimeout) {
    control.setTimeout(5s);
    std::jthread writer([&] { peer.sendEndlessly(3 * 1024 * 1024); });
    const auto start = std::chrono::steady_clock::now();
    std::string answer;
    try {
        control.Enter(answer);
        FAIL() << "an endless reply was taken";
    } catch (const TimeoutError&) {
        FAIL() << "waited for the time-out";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("reply longer than 1 MiB without a line end"), std::string::npos)
            << error.what();
    }
    EXPECT_LT(millisecondsSince(start), 4000);
    control.CloseIO();
}

TEST_F(SocketControl, NeverHandsOutTheTailOfAnOverlongReplyAsTheNextReply) {
    std::jthread writer([&] { peer.send(std::string(1536 * 1024, 'x') + "\n+7\n"); });
    std::string answer;
    EXPECT_THROW(control.Enter(answer), IoError);
    std::int32_t value = 0;
    control.Enter(value);
    EXPECT_EQ(value, 7);
}

TEST_F(SocketControl, PostResetCallDropsStaleInput) {
    peer.send("stale\nhalf a rep");
    std::this_thread::sleep_for(50ms);
    control.IO().PostResetCall();
    std::int32_t value = 0;
    peer.send("+5\n");
    control.Enter(value);
    EXPECT_EQ(value, 5);
}

TEST_F(SocketControl, CloseIOIsSafeTwiceAndTheControlIsClosedAfterwards) {
    control.CloseIO();
    EXPECT_FALSE(peer.stillOpenAfter(1000ms));
    control.CloseIO();
    EXPECT_THROW(control.IO(), IoError);
    EXPECT_THROW(control.Output("*IDN?"), IoError);
    std::string answer;
    EXPECT_THROW(control.Enter(answer), IoError);
}

TEST_F(SocketControl, OpenIOOnAnOpenControlClosesTheOldConnectionFirst) {
    peers::TcpPeer second;
    control.OpenIO(second.resource());
    EXPECT_FALSE(peer.stillOpenAfter(1000ms));
    ASSERT_TRUE(second.accept());
    control.Output("*IDN?");
    EXPECT_EQ(second.receive(6), "*IDN?\n");
}

TEST(SocketOpen, NamesResourceOperationAndCauseWhenNothingListens) {
    std::uint16_t port = 0;
    {
        peers::TcpPeer gone;  // a port that was free a moment ago
        port = gone.port();
    }
    Control control;
    const std::string resource = "TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET";
    try {
        control.OpenIO(resource);
        FAIL() << "opened a port nobody listens on";
    } catch (const IoError& error) {
        EXPECT_EQ(std::string(error.what()),
                  resource + ": OpenIO: cannot connect to 127.0.0.1 port " + std::to_string(port) +
                      ": Connection refused");
    }
    EXPECT_THROW(control.IO(), IoError);
}

TEST(SocketOpen, RefusesMalformedAndUnsupportedResources) {
    Control control;
    try {
        control.OpenIO("TCPIP::127.0.0.1::SOCKET");
        FAIL();
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("TCPIP::127.0.0.1::SOCKET: OpenIO: malformed resource"),
                  std::string::npos)
            << error.what();
    }
    try {
        control.OpenIO("TCPIP::192.0.2.1::hislip0::INSTR");  // refused before any connection
        FAIL();
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("HiSLIP device, which this library does not speak"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_THROW(control.OpenIO("USB::0x0957::0x0607::MY1::INSTR"), IoError);
}

TEST(SocketAlias, OpensTheResourceAnAliasStandsFor) {
    peers::TcpPeer peer;
    const std::string aliases = "bench = ASRL3::INSTR; GPIB0::9::INSTR=" + peer.resource();
    ::setenv("CORVALEN_IO_ALIASES", aliases.c_str(), 1);
    Control control;
    control.OpenIO("gpib0::9::instr");
    ::unsetenv("CORVALEN_IO_ALIASES");
    ASSERT_TRUE(peer.accept());
    EXPECT_EQ(control.IO().InterfaceType(), "TCPIP");
    EXPECT_EQ(control.openResource(),
              "TCPIP0::127.0.0.1::" + std::to_string(peer.port()) + "::SOCKET (alias gpib0::9::instr)");
}

TEST(SocketTrace, TracesEveryExchangeWithEscapedBytesWhenSwitchedOn) {
    peers::TcpPeer peer;
    ::setenv("CORVALEN_IO_TRACE", "1", 1);
    Control control;
    ::unsetenv("CORVALEN_IO_TRACE");
    control.setTimeout(100ms);
    ::testing::internal::CaptureStderr();
    control.OpenIO(peer.resource());
    ASSERT_TRUE(peer.accept());
    control.Output("*IDN?");
    peer.send("A\tB\r\n");
    std::string answer;
    control.Enter(answer);
    EXPECT_THROW(control.Enter(answer), TimeoutError);
    control.CloseIO();
    const std::string trace = ::testing::internal::GetCapturedStderr();
    const std::string name = "TCPIP0::127.0.0.1::" + std::to_string(peer.port()) + "::SOCKET";
    for (const std::string& expected :
         {name + " OPEN TCPIP\n", name + " OUTPUT \"*IDN?\\n\"\n", name + " ENTER \"A\\tB\\r\\n\"\n",
          name + " TIMEOUT " + name + ": Enter: no reply within 100 ms\n", name + " CLOSE\n"}) {
        EXPECT_NE(trace.find(expected), std::string::npos) << "missing: " << expected << "in:\n" << trace;
    }
    EXPECT_EQ(trace.rfind("corvalen-io ", 0), 0U) << trace;
}

TEST(SocketTrace, StaysSilentWhenOff) {
    ::unsetenv("CORVALEN_IO_TRACE");
    peers::TcpPeer peer;
    Control control;
    ::testing::internal::CaptureStderr();
    control.OpenIO(peer.resource());
    control.Output("*IDN?");
    control.CloseIO();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
