// SPDX-License-Identifier: MIT
// The serial session on a pseudo-terminal: the test holds the master side,
// the control opens the terminal side as it would a USB-serial adapter.
#include <gtest/gtest.h>
#include <termios.h>

#include <thread>

#include "corvalenlib/widgets/control.h"
#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/serial_session.h"
#include "peers.h"

namespace {

using namespace std::chrono_literals;
using CorvalenLib::Control;
using CorvalenLib::IoError;

class SerialControl : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("CORVALEN_IO_ALIASES");
        control.setTimeout(300ms);
        control.OpenIO(line.resource());
    }

    peers::PtyPeer line;
    Control control;
};

TEST_F(SerialControl, IsASerialInterfaceAndPassesBytesUnchanged) {
    EXPECT_EQ(control.IO().InterfaceType(), "ASRL");
    control.Output("SYSTem:REMote");
    control.Output("*IDN?");
    // Raw mode: no echo, no CR added to the LF.
    EXPECT_EQ(line.receiveUntilQuiet(), "SYSTem:REMote\n*IDN?\n");
    line.send("CORVALEN,TQ820A,0,1.0\r\n");
    std::string reply;
    control.Enter(reply);
    EXPECT_EQ(reply, "CORVALEN,TQ820A,0,1.0\r\n");
}

TEST_F(SerialControl, SetsTheLineToVisasDefaults) {
    const termios settings = line.terminalSettings();
    EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B9600));
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL), 0U);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0U);
}

TEST_F(SerialControl, AssemblesAReplyArrivingByteByByte) {
    control.setTimeout(10s);  // the time-out bounds the whole reply, and a loaded machine sleeps long
    std::jthread writer([&] { line.sendSlowly("+2.21974610E+01,+000000000.256,101\n", 1ms); });
    std::string reply;
    control.Enter(reply);
    EXPECT_EQ(reply, "+2.21974610E+01,+000000000.256,101\n");
}

TEST_F(SerialControl, TimesOutOnASilentLine) {
    control.Output("*IDN?");
    const auto start = std::chrono::steady_clock::now();
    std::int32_t value = 0;
    EXPECT_THROW(control.Enter(value), CorvalenLib::TimeoutError);
    const auto elapsed = peers::millisecondsSince(start);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 1500);
}

TEST_F(SerialControl, FailsAtOnceWhenTheLineHangsUp) {
    control.setTimeout(10s);
    line.send("+1");
    line.close();
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    try {
        control.Enter(reply);
        FAIL() << "a hung-up line gave a reply";
    } catch (const CorvalenLib::TimeoutError&) {
        FAIL() << "waited for the time-out on a hung-up line";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("ASRL" + line.device() + "::INSTR: Enter: "), std::string::npos)
            << error.what();
    }
    EXPECT_LT(peers::millisecondsSince(start), 1000);
}

TEST_F(SerialControl, StopsAnEndlessReplyAtTheCap) {
    control.setTimeout(5s);
    std::jthread writer([&] { line.sendEndlessly(2 * 1024 * 1024); });
    std::string reply;
    try {
        control.Enter(reply);
        FAIL() << "an endless reply was taken";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("reply longer than 1 MiB"), std::string::npos) << error.what();
    }
    control.CloseIO();
    line.close();
}

TEST_F(SerialControl, PostResetCallDropsStaleInput) {
    line.send("+1\n+2");
    std::this_thread::sleep_for(50ms);
    control.IO().PostResetCall();
    line.send("+3\n");
    std::int32_t value = 0;
    control.Enter(value);
    EXPECT_EQ(value, 3);
}

TEST(SerialOpen, AppliesTheChosenLineSettings) {
    peers::PtyPeer line;
    Control control;
    control.setSerialSettings({19200, 7, CorvalenLib::Parity::Even, 2, CorvalenLib::FlowControl::XonXoff});
    control.OpenIO(line.resource());
    const termios settings = line.terminalSettings();
    // A pseudo-terminal keeps speed, stop bits and flow control; it always
    // runs 8 data bits without parity, so those are checked below.
    EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B19200));
    EXPECT_EQ(settings.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
}

TEST(SerialLine, SetsFramingAsChosen) {
    termios line{};
    line.c_cflag = CS8 | CRTSCTS;
    line.c_lflag = ICANON | ECHO;
    CorvalenLib::applyLineSettings(line, {4800, 7, CorvalenLib::Parity::Odd, 1, CorvalenLib::FlowControl::None});
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(line.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), static_cast<tcflag_t>(PARENB | PARODD));
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0U);
    EXPECT_EQ(::cfgetispeed(&line), static_cast<speed_t>(B4800));
    CorvalenLib::applyLineSettings(line, {9600, 5, CorvalenLib::Parity::Even, 1, CorvalenLib::FlowControl::RtsCts});
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_EQ(line.c_cflag & (PARENB | PARODD | CRTSCTS), static_cast<tcflag_t>(PARENB | CRTSCTS));
    EXPECT_THROW(CorvalenLib::applyLineSettings(line, {9600, 9, CorvalenLib::Parity::None, 1,
                                                       CorvalenLib::FlowControl::None}),
                 IoError);
}

TEST(SerialOpen, NamesTheDeviceThatCannotBeOpened) {
    Control control;
    try {
        control.OpenIO("ASRL/dev/ttyUSB-not-there::INSTR");
        FAIL() << "opened a device that does not exist";
    } catch (const IoError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "ASRL/dev/ttyUSB-not-there::INSTR: OpenIO: cannot open /dev/ttyUSB-not-there: "
                  "No such file or directory");
    }
    try {
        control.OpenIO("ASRL/dev/null::INSTR");
        FAIL() << "took /dev/null for a serial line";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("/dev/null is not a serial line"), std::string::npos) << error.what();
    }
}

TEST(SerialOpen, RefusesABaudRateTheLineCannotRun) {
    peers::PtyPeer line;
    Control control;
    CorvalenLib::SerialSettings settings;
    settings.baudRate = 12345;
    control.setSerialSettings(settings);
    EXPECT_THROW(control.OpenIO(line.resource()), IoError);
}

}  // namespace
