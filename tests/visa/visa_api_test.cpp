// SPDX-License-Identifier: MIT
// The VISA C API's answers to what C programs get wrong (null pointers,
// handles never given or already closed, formats it does not build) and its
// formatted I/O, locks and events, on a session to the real simulator.
#include <visa.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "tests/corvalenlib/sim_process.h"

namespace {

constexpr ViSession kNeverGiven = 0x7FFF0001;

class VisaApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("CORVALEN_IO_ALIASES", "", 1);
        sim_ = new peers::SimProcess({"--tcp", "0"});
        const std::string line = sim_->readLine();  // "TCP 127.0.0.1:PORT\n"
        resource_ = "TCPIP::127.0.0.1::" + line.substr(line.rfind(':') + 1, line.size() - line.rfind(':') - 2) +
                    "::SOCKET";
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
        ASSERT_EQ(viOpen(rm_, resource_.c_str(), VI_NO_LOCK, 0, &vi_), VI_SUCCESS);
    }
    void TearDown() override { viClose(rm_); }

    static inline peers::SimProcess* sim_ = nullptr;
    static inline std::string resource_;
    ViSession rm_ = VI_NULL;
    ViSession vi_ = VI_NULL;
};

TEST_F(VisaApi, HandlesThatAreNoSessionAreRefused) {
    ViChar text[VI_FIND_BUFLEN];
    ViUInt32 count = 0;
    ViUInt16 stb = 0;
    ViByte byte = 0;
    const ViStatus calls[] = {
        viRead(kNeverGiven, &byte, 1, &count),
        viWrite(kNeverGiven, &byte, 1, &count),
        viClear(kNeverGiven),
        viPrintf(kNeverGiven, "*IDN?\n"),
        viScanf(kNeverGiven, "%t", text),
        viGetAttribute(kNeverGiven, VI_ATTR_TMO_VALUE, &count),
        viSetAttribute(kNeverGiven, VI_ATTR_TMO_VALUE, 100),
        viLock(kNeverGiven, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr),
        viDisableEvent(kNeverGiven, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH),
        viReadSTB(kNeverGiven, &stb),
        viFindNext(kNeverGiven, text),
        viIn8(kNeverGiven, VI_A16_SPACE, 0, &byte),
        viClose(kNeverGiven),
        viOpen(vi_, resource_.c_str(), VI_NO_LOCK, 0, &count),  // a session is no resource manager
    };
    for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i], VI_ERROR_INV_OBJECT) << "call " << i;

    // Closing the resource manager closes its sessions; their handles die with them.
    ASSERT_EQ(viClose(rm_), VI_SUCCESS);
    EXPECT_EQ(viWrite(vi_, &byte, 1, &count), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(vi_), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
}

TEST_F(VisaApi, NullPointersAndBadNamesGiveStatuses) {
    ViSession other = VI_NULL;
    ViUInt16 type = 0, number = 0;
    ViUInt32 count = 0;
    ViFindList list = VI_NULL;
    ViChar text[VI_FIND_BUFLEN];
    EXPECT_EQ(viOpenDefaultRM(nullptr), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(viOpen(rm_, resource_.c_str(), VI_NO_LOCK, 0, nullptr), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(viOpen(rm_, nullptr, VI_NO_LOCK, 0, &other), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viOpen(rm_, "TCPIP::nowhere::", VI_NO_LOCK, 0, &other), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viOpen(rm_, resource_.c_str(), 0x80, 0, &other), VI_ERROR_INV_ACC_MODE);
    EXPECT_EQ(viOpen(rm_, "TCPIP::127.0.0.1::1::SOCKET", VI_NO_LOCK, 0, &other), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(other, VI_NULL);
    EXPECT_EQ(viParseRsrc(rm_, "GPIB0::99::INSTR", &type, &number), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viParseRsrc(rm_, "gpib3::9::instr", &type, &number), VI_SUCCESS);
    EXPECT_EQ(type, VI_INTF_GPIB);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(viFindRsrc(rm_, "(TCPIP", &list, &count, text), VI_ERROR_INV_EXPR);
    EXPECT_EQ(viFindRsrc(rm_, "?*", &list, &count, nullptr), VI_ERROR_USER_BUF);
    EXPECT_EQ(viRead(vi_, nullptr, 10, &count), VI_ERROR_USER_BUF);
    EXPECT_EQ(viWrite(vi_, nullptr, 10, &count), VI_ERROR_USER_BUF);
    EXPECT_EQ(viGetAttribute(vi_, VI_ATTR_TMO_VALUE, nullptr), VI_ERROR_USER_BUF);
    EXPECT_EQ(viStatusDesc(vi_, VI_ERROR_TMO, nullptr), VI_ERROR_USER_BUF);
    EXPECT_EQ(viPrintf(vi_, nullptr), VI_ERROR_INV_FMT);
    EXPECT_EQ(viPrintf(vi_, "%s\n", static_cast<const char*>(nullptr)), VI_ERROR_USER_BUF);
    EXPECT_EQ(viQueryf(vi_, "*OPC?\n", "%d", nullptr), VI_ERROR_USER_BUF);
}

TEST_F(VisaApi, FormattedOutputConversions) {
    ViChar out[256];
    const auto printed = [&](ViStatus status) { return status == VI_SUCCESS ? std::string(out) : "status " + std::to_string(status); };
    EXPECT_EQ(printed(viSPrintf(vi_, reinterpret_cast<ViPBuf>(out), "%d|%ld|%lld|%hd|%u|%x|%X|%o", -7, 123456789012L,
                                -5LL, 70000, 4000000000U, 255, 255, 8)),
              "-7|123456789012|-5|4464|4000000000|ff|FF|10");
    EXPECT_EQ(printed(viSPrintf(vi_, reinterpret_cast<ViPBuf>(out), "%f|%.3e|%g|%8.2lf|%-5s|%5s|%c|%%|%*d|%.*f", 0.25,
                                12345.678, 1e-5, 3.14159, "ab", "cd", 'Z', 6, 42, 1, 2.25)),
              "0.250000|1.235e+04|1e-05|    3.14|ab   |   cd|Z|%|    42|2.2");
    const char* notBuilt[] = {"%b", "%B", "%y", "%,3d", "%@1d", "%zd", "%ls", "%!ol"};
    for (const char* format : notBuilt) {
        EXPECT_EQ(viSPrintf(vi_, reinterpret_cast<ViPBuf>(out), format, 1), VI_ERROR_NSUP_FMT) << format;
    }
    const char* invalid[] = {"%", "%q", "%5", "%hf", "%Ld", "%t", "%99999999d"};
    for (const char* format : invalid) {
        EXPECT_EQ(viSPrintf(vi_, reinterpret_cast<ViPBuf>(out), format, 1), VI_ERROR_INV_FMT) << format;
    }
}

TEST_F(VisaApi, FormattedInputConversions) {
    int i = 0;
    long l = 0;
    short h = 0;
    unsigned x = 0;
    float f = 0;
    double d = 0;
    char word[16] = {}, rest[64] = {}, two[3] = {};
    ViInt32 size = sizeof word;
    const auto* input = reinterpret_cast<ViConstBuf>("  -12,+7E1;99999999999 3.5e-1 ff word-one ok rest of it\n");
    ASSERT_EQ(viSScanf(vi_, input, "%d,%f;%ld %lf %x %#s %2c%t", &i, &f, &l, &d, &x, &size, word, two, rest),
              VI_SUCCESS);
    EXPECT_EQ(i, -12);
    EXPECT_FLOAT_EQ(f, 70.0F);
    EXPECT_EQ(l, 99999999999L);
    EXPECT_DOUBLE_EQ(d, 0.35);
    EXPECT_EQ(x, 255U);
    EXPECT_STREQ(word, "word-one");
    EXPECT_EQ(size, 8);
    EXPECT_EQ(std::string(two, 2), "ok");  // after the format's space skipped the input's
    EXPECT_STREQ(rest, " rest of it\n");
    // A field that does not match ends the reading; what follows stays as it was.
    i = 5;
    ASSERT_EQ(viSScanf(vi_, reinterpret_cast<ViConstBuf>("40000 x"), "%hd %d", &h, &i), VI_SUCCESS);
    EXPECT_EQ(h, 32767);  // clamped to a short
    EXPECT_EQ(i, 5);
    // # bounds a string to the caller's buffer.
    size = 4;
    ASSERT_EQ(viSScanf(vi_, reinterpret_cast<ViConstBuf>("abcdefgh"), "%#s", &size, word), VI_SUCCESS);
    EXPECT_STREQ(word, "abc");
    EXPECT_EQ(viSScanf(vi_, input, "%[a-z]", word), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(viSScanf(vi_, input, "%.2f", &f), VI_ERROR_INV_FMT);
}

TEST_F(VisaApi, QueriesThroughTheSimulator) {
    ViChar idn[256] = {};
    ViInt32 count = 0;
    ASSERT_EQ(viSetAttribute(vi_, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
    ASSERT_EQ(viQueryf(vi_, "*IDN?\n", "%t", idn), VI_SUCCESS);
    EXPECT_NE(std::strstr(idn, "TQ820A"), nullptr) << idn;
    // Output without a line end waits in the buffer until one comes.
    ASSERT_EQ(viPrintf(vi_, "TRIGger:COUNt %d", 3), VI_SUCCESS);
    ASSERT_EQ(viPrintf(vi_, "\n"), VI_SUCCESS);
    ASSERT_EQ(viQueryf(vi_, "TRIGger:COUNt?\n", "%d", &count), VI_SUCCESS);
    EXPECT_EQ(count, 3);
    ViUInt16 stb = 0;
    EXPECT_EQ(viReadSTB(vi_, &stb), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viAssertTrigger(vi_, VI_TRIG_PROT_DEFAULT), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viFlush(vi_, 0), VI_ERROR_INV_MASK);
    EXPECT_EQ(viFlush(vi_, VI_READ_BUF | VI_READ_BUF_DISCARD), VI_ERROR_INV_MASK);
    EXPECT_EQ(viFlush(vi_, VI_WRITE_BUF | VI_READ_BUF_DISCARD), VI_SUCCESS);
}

TEST_F(VisaApi, AttributesKeepTheirWidthsAndRefuseWhatIsNotThere) {
    union {
        ViUInt64 wide;
        ViUInt8 bytes[8];
    } value{~0ULL};
    ASSERT_EQ(viGetAttribute(vi_, VI_ATTR_TERMCHAR, &value), VI_SUCCESS);
    EXPECT_EQ(value.bytes[0], '\n');
    EXPECT_EQ(value.bytes[1], 0xFF);  // one byte written, no more
    value.wide = ~0ULL;
    ASSERT_EQ(viGetAttribute(vi_, VI_ATTR_INTF_TYPE, &value), VI_SUCCESS);
    EXPECT_EQ(value.wide, 0xFFFFFFFFFFFF0000ULL | VI_INTF_TCPIP);
    EXPECT_EQ(viGetAttribute(vi_, VI_ATTR_GPIB_PRIMARY_ADDR, &value), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viGetAttribute(vi_, VI_ATTR_USB_SERIAL_NUM, &value), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viSetAttribute(vi_, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY);
    EXPECT_EQ(viSetAttribute(vi_, VI_ATTR_TERMCHAR_EN, 5), VI_ERROR_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(vi_, VI_ATTR_ASRL_BAUD, 19200), VI_ERROR_NSUP_ATTR);
    ViChar text[VI_FIND_BUFLEN];
    ASSERT_EQ(viGetAttribute(rm_, VI_ATTR_RSRC_MANF_NAME, text), VI_SUCCESS);
    EXPECT_STREQ(text, "corvalen");
}

TEST_F(VisaApi, ExclusiveLocksWithinTheProcess) {
    ViSession other = VI_NULL;
    ASSERT_EQ(viOpen(rm_, resource_.c_str(), VI_NO_LOCK, 0, &other), VI_SUCCESS);
    ASSERT_EQ(viLock(vi_, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    EXPECT_EQ(viLock(vi_, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS_NESTED_EXCLUSIVE);
    EXPECT_EQ(viPrintf(other, "*CLS\n"), VI_ERROR_RSRC_LOCKED);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(viLock(other, VI_EXCLUSIVE_LOCK, 150, nullptr, nullptr), VI_ERROR_TMO);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(viLock(other, VI_SHARED_LOCK, 0, nullptr, nullptr), VI_ERROR_INV_LOCK_TYPE);
    EXPECT_EQ(viUnlock(other), VI_ERROR_SESN_NLOCKED);
    EXPECT_EQ(viUnlock(vi_), VI_SUCCESS_NESTED_EXCLUSIVE);
    EXPECT_EQ(viUnlock(vi_), VI_SUCCESS);
    EXPECT_EQ(viPrintf(other, "*CLS\n"), VI_SUCCESS);
    // Closing a session releases its lock.
    ASSERT_EQ(viLock(other, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    ASSERT_EQ(viClose(other), VI_SUCCESS);
    EXPECT_EQ(viPrintf(vi_, "*CLS\n"), VI_SUCCESS);
}

TEST_F(VisaApi, EventsAnswerAsALibraryWithoutEvents) {
    ViEventType type = 1;
    ViEvent event = 1;
    EXPECT_EQ(viEnableEvent(vi_, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
    EXPECT_EQ(viEnableEvent(vi_, VI_EVENT_SERVICE_REQ, 0x40, VI_NULL), VI_ERROR_INV_MECH);
    EXPECT_EQ(viDisableEvent(vi_, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_EVENT_DIS);
    EXPECT_EQ(viDiscardEvents(vi_, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_QUEUE_EMPTY);
    EXPECT_EQ(viWaitOnEvent(vi_, VI_EVENT_SERVICE_REQ, 10, &type, &event), VI_ERROR_NENABLED);
    EXPECT_EQ(type, 0U);
    EXPECT_EQ(viDisableEvent(vi_, 0x12345678, VI_ALL_MECH), VI_ERROR_INV_EVENT);
    ViChar text[VI_FIND_BUFLEN];
    EXPECT_EQ(viStatusDesc(vi_, VI_ERROR_NSUP_OPER, text), VI_SUCCESS);
    EXPECT_NE(std::strstr(text, "VI_ERROR_NSUP_OPER"), nullptr);
    EXPECT_EQ(viStatusDesc(vi_, 0x12345, text), VI_WARN_UNKNOWN_STATUS);
}

}  // namespace
