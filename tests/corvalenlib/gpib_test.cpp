// SPDX-License-Identifier: MIT
// The GPIB session through a stand-in libgpib.so.0 (found through
// LD_LIBRARY_PATH) that forwards the device to a scripted TCP peer.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "corvalenlib/widgets/control.h"
#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/gpib_session.h"
#include "peers.h"

namespace {

using namespace std::chrono_literals;
using CorvalenLib::Control;
using CorvalenLib::IoError;

class GpibControl : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string target = "127.0.0.1:" + std::to_string(peer.port());
        ::setenv("TQ_FAKE_GPIB_PEER", target.c_str(), 1);
        ::unsetenv("CORVALEN_IO_ALIASES");
        control.setTimeout(1s);
    }

    void open(const std::string& resource) {
        control.OpenIO(resource);
        ASSERT_TRUE(peer.accept());
    }

    template <typename Function>
    Function standIn(const char* name) {
        void* library = ::dlopen(CorvalenLib::kGpibLibrary, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(library, nullptr) << "the stand-in library is not loaded";
        auto* function = reinterpret_cast<Function>(::dlsym(library, name));
        EXPECT_NE(function, nullptr) << name;
        ::dlclose(library);
        return function;
    }

    peers::TcpPeer peer;
    Control control;
};

TEST_F(GpibControl, OpensTheDeviceAtItsAddressAndExchangesLines) {
    open("GPIB0::9::INSTR");
    int device[6] = {};
    standIn<void (*)(int*)>("fake_gpib_last_device")(device);
    EXPECT_EQ(device[0], 0);             // board
    EXPECT_EQ(device[1], 9);             // primary address
    EXPECT_EQ(device[2], 0);             // no secondary address
    EXPECT_EQ(device[3], 11);            // T1s for a time-out of 1 s
    EXPECT_EQ(device[4], 1);             // EOI with the last byte
    EXPECT_EQ(device[5], 0x400 | '\n');  // reads end at LF
    EXPECT_EQ(control.IO().InterfaceType(), "GPIB");

    control.Output("*IDN?");
    EXPECT_EQ(peer.receive(6), "*IDN?\n");
    peer.send("CORVALEN,TQ820A,0,1.0\n");
    std::string identity;
    control.Enter(identity);
    EXPECT_EQ(identity, "CORVALEN,TQ820A,0,1.0\n");

    control.Output("SYSTem:CTYPe? 100");
    EXPECT_EQ(peer.receive(18), "SYSTem:CTYPe? 100\n");
    peer.sendSlowly("+1.0E+01\n", 2ms);
    double value = 0;
    control.Enter(value);
    EXPECT_DOUBLE_EQ(value, 10.0);
}

TEST_F(GpibControl, PassesTheSecondaryAddressAsTheBusEncodesIt) {
    open("GPIB1::22::5::INSTR");
    int device[6] = {};
    standIn<void (*)(int*)>("fake_gpib_last_device")(device);
    EXPECT_EQ(device[0], 1);
    EXPECT_EQ(device[1], 22);
    EXPECT_EQ(device[2], 0x60 + 5);
}

TEST_F(GpibControl, PostResetCallClearsTheDevice) {
    open("GPIB0::9::INSTR");
    const int before = standIn<int (*)()>("fake_gpib_clears")();
    control.IO().PostResetCall();
    EXPECT_EQ(standIn<int (*)()>("fake_gpib_clears")(), before + 1);
}

TEST_F(GpibControl, ReportsASilentDeviceAsATimeout) {
    open("GPIB0::9::INSTR");
    control.Output("*IDN?");
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    EXPECT_THROW(control.Enter(reply), CorvalenLib::TimeoutError);
    EXPECT_LT(peers::millisecondsSince(start), 3000);
}

// The device's time-out code follows a limit set after open, and a read ends
// by its deadline although the codes round a limit up (1.1 s to T3s).
struct LaterLimit {
    const char* name;
    std::chrono::milliseconds atOpen;
    std::chrono::milliseconds later;
    std::chrono::milliseconds replyAfter;  // 0: the device stays silent
    long long atLeastMs;
    long long atMostMs;
};

std::ostream& operator<<(std::ostream& out, const LaterLimit& row) { return out << row.name; }

class GpibLimit : public GpibControl, public ::testing::WithParamInterface<LaterLimit> {};

TEST_P(GpibLimit, ReadWaitsAsLongAsTheLimitSays) {
    const auto& row = GetParam();
    control.setTimeout(row.atOpen);
    open("GPIB0::9::INSTR");
    control.setTimeout(row.later);
    control.Output("*OPC?");
    ASSERT_EQ(peer.receive(6), "*OPC?\n");
    const auto start = std::chrono::steady_clock::now();
    std::thread device([&] {
        if (row.replyAfter.count() == 0) return;
        std::this_thread::sleep_for(row.replyAfter);
        peer.send("+1\n");
    });
    std::string reply;
    try {
        control.Enter(reply);
        EXPECT_NE(row.replyAfter.count(), 0) << "a reply from a silent device";
        EXPECT_EQ(reply, "+1\n");
    } catch (const CorvalenLib::TimeoutError& error) {
        EXPECT_EQ(row.replyAfter.count(), 0) << error.what();
    }
    device.join();
    EXPECT_GE(peers::millisecondsSince(start), row.atLeastMs);
    EXPECT_LT(peers::millisecondsSince(start), row.atMostMs);
}

INSTANTIATE_TEST_SUITE_P(
    Gpib, GpibLimit,
    ::testing::Values(LaterLimit{"ALongerLimitReachesTheOpenDevice", 200ms, 3s, 800ms, 800, 1500},
                      LaterLimit{"ALimitBetweenTwoCodesEndsTheReadOnTime", 1100ms, 1100ms, 0ms, 1100, 1500},
                      LaterLimit{"AShorterLimitReachesTheOpenDevice", 3s, 250ms, 0ms, 250, 600}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(GpibControl, FailsAtOnceWhenTheDeviceGoesAway) {
    control.setTimeout(10s);
    open("GPIB0::9::INSTR");
    control.Output("*IDN?");
    ASSERT_EQ(peer.receive(6), "*IDN?\n");
    peer.send("CORVAL");
    peer.close();
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    try {
        control.Enter(reply);
        FAIL() << "a broken reply was taken";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("GPIB0::9::INSTR: Enter: ibrd failed: "), std::string::npos)
            << error.what();
    }
    EXPECT_LT(peers::millisecondsSince(start), 1000);
    control.CloseIO();
    control.CloseIO();
}

TEST(GpibLibrary, NamesWhatIsMissingWhenLinuxGpibIsAbsent) {
    CorvalenLib::GpibSession session(CorvalenLib::GpibAddress{0, 9, {}}, CorvalenLib::IoLimits{},
                                     "libgpib-not-installed.so.0");
    try {
        session.open();
        FAIL() << "opened GPIB without its library";
    } catch (const IoError& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("GPIB needs linux-gpib"), std::string::npos) << text;
        EXPECT_NE(text.find("libgpib-not-installed.so.0"), std::string::npos) << text;
    }
    EXPECT_THROW(session.write("*IDN?\n"), IoError);
}

TEST(GpibLibrary, RefusesALibraryThatIsNotLinuxGpib) {
    CorvalenLib::GpibSession session(CorvalenLib::GpibAddress{0, 9, {}}, CorvalenLib::IoLimits{}, "libm.so.6");
    try {
        session.open();
        FAIL() << "took libm for linux-gpib";
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("libm.so.6 has no ibdev"), std::string::npos) << error.what();
    }
}

}  // namespace
