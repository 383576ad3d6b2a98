// SPDX-License-Identifier: MIT
// Resource strings: what parses, into which fields, under which one name;
// and what is refused, with an error that names the text and the form.
#include <gtest/gtest.h>

#include "corvalenlib/core/resource.h"
#include "corvalenlib/core/errors.h"

namespace {

using namespace CorvalenLib;

struct Accepted {
    const char* text;
    Resource fields;
    const char* canonical;
};

class ResourceAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(ResourceAccepted, ParsesIntoFieldsAndOneCanonicalName) {
    const auto& row = GetParam();
    const Resource parsed = parseResource(row.text);
    EXPECT_EQ(parsed, row.fields) << row.text;
    EXPECT_EQ(canonicalName(parsed), row.canonical);
    EXPECT_EQ(canonicalName(parseResource(row.canonical)), row.canonical) << "canonical name does not parse back";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResourceAccepted,
    ::testing::Values(
        Accepted{"GPIB0::9::INSTR", GpibAddress{0, 9, {}}, "GPIB0::9::INSTR"},
        Accepted{"GPIB::9", GpibAddress{0, 9, {}}, "GPIB0::9::INSTR"},
        Accepted{"gpib1::30::instr", GpibAddress{1, 30, {}}, "GPIB1::30::INSTR"},
        Accepted{"GPIB0::22::5::INSTR", GpibAddress{0, 22, 5}, "GPIB0::22::5::INSTR"},
        Accepted{"  GPIB0::0::INSTR\t", GpibAddress{0, 0, {}}, "GPIB0::0::INSTR"},
        Accepted{"ASRL1::INSTR", SerialAddress{"/dev/ttyS0", 1}, "ASRL1::INSTR"},
        Accepted{"asrl4", SerialAddress{"/dev/ttyS3", 4}, "ASRL4::INSTR"},
        Accepted{"ASRL::INSTR", SerialAddress{"/dev/ttyS0", 1}, "ASRL1::INSTR"},
        Accepted{"ASRL/dev/ttyUSB0::INSTR", SerialAddress{"/dev/ttyUSB0", {}}, "ASRL/dev/ttyUSB0::INSTR"},
        Accepted{"asrl/dev/serial/by-id/usb-FTDI_A1::instr", SerialAddress{"/dev/serial/by-id/usb-FTDI_A1", {}},
                 "ASRL/dev/serial/by-id/usb-FTDI_A1::INSTR"},
        Accepted{"TCPIP::127.0.0.1::5025::SOCKET", SocketAddress{0, "127.0.0.1", 5025},
                 "TCPIP0::127.0.0.1::5025::SOCKET"},
        Accepted{"tcpip2::daq-7.lab.example::1::socket", SocketAddress{2, "daq-7.lab.example", 1},
                 "TCPIP2::daq-7.lab.example::1::SOCKET"},
        Accepted{"TCPIP::[::1]::5025::SOCKET", SocketAddress{0, "[::1]", 5025}, "TCPIP0::[::1]::5025::SOCKET"},
        Accepted{"TCPIP::192.0.2.7::INSTR", VxiAddress{0, "192.0.2.7", "inst0"}, "TCPIP0::192.0.2.7::inst0::INSTR"},
        Accepted{"TCPIP0::192.0.2.7::gpib0,9::INSTR", VxiAddress{0, "192.0.2.7", "gpib0,9"},
                 "TCPIP0::192.0.2.7::gpib0,9::INSTR"},
        Accepted{"tcpip1::gw.lab::GPIB0,09,3::instr", VxiAddress{1, "gw.lab", "gpib0,9,3"},
                 "TCPIP1::gw.lab::gpib0,9,3::INSTR"},
        Accepted{"TCPIP::gw::gpib,30::INSTR", VxiAddress{0, "gw", "gpib0,30"}, "TCPIP0::gw::gpib0,30::INSTR"},
        Accepted{"TCPIP::[::1]::INST02::INSTR", VxiAddress{0, "[::1]", "inst2"}, "TCPIP0::[::1]::inst2::INSTR"},
        Accepted{"USB::0x0957::1543::MY123::INSTR", UsbAddress{0, 0x0957, 1543, "MY123", {}},
                 "USB0::0x0957::0x0607::MY123::INSTR"},
        Accepted{"USB0::0x0957::0x0607::MY123::2::INSTR", UsbAddress{0, 0x0957, 0x0607, "MY123", 2},
                 "USB0::0x0957::0x0607::MY123::2::INSTR"}));

class ResourceRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(ResourceRefused, RaisesAnErrorNamingTheText) {
    const std::string text = GetParam();
    try {
        (void)parseResource(text);
        FAIL() << "accepted \"" << text << "\"";
    } catch (const IoError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind("malformed resource \"" + text + "\": ", 0), 0U) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ResourceRefused,
                         ::testing::Values("", "   ", "GPIB0", "GPIB0::INSTR", "GPIB0::31::INSTR", "GPIB0::-1::INSTR",
                                           "GPIB0::+9::INSTR", "GPIB0::9::31::INSTR", "GPIB0::9::1::2::INSTR",
                                           "GPIBx::9::INSTR", "GPIB100::9::INSTR", "GPIB0::::INSTR", "GPIB0::9::",
                                           "GPIB0::9::SOCKET", "GPIB0::99999999999999999999::INSTR", "ASRL0::INSTR",
                                           "ASRL257::INSTR", "ASRL1::9600::INSTR", "ASRL/::INSTR",
                                           "ASRL/dev/tty USB0::INSTR", "TCPIP::127.0.0.1::SOCKET",
                                           "TCPIP::127.0.0.1::0::SOCKET", "TCPIP::127.0.0.1::65536::SOCKET",
                                           "TCPIP::127.0.0.1::5025", "TCPIP::host name::5025::SOCKET",
                                           "TCPIP::[::1::5025::SOCKET", "TCPIP::a::b::c::INSTR", "TCPIP",
                                           "TCPIP::h::hislip0::INSTR", "TCPIP::h::inst::INSTR",
                                           "TCPIP::h::inst-1::INSTR", "TCPIP::h::com1::INSTR",
                                           "TCPIP::h::gpib0::INSTR", "TCPIP::h::gpib0,31::INSTR",
                                           "TCPIP::h::gpib0,9,31::INSTR", "TCPIP::h::gpib0,9,3,1::INSTR",
                                           "TCPIP::h::gpib0,,9::INSTR", "TCPIP::h::gpibx,9::INSTR",
                                           "TCPIP::[::1]x::INSTR",
                                           "USB::0x10000::1::S::INSTR", "USB::0x0957::0x0607::INSTR",
                                           "USB::0x0957::0x0607::S", "VXI0::1::INSTR", "COM1", "::INSTR"));

TEST(ResourceError, StatesTheExpectedForm) {
    try {
        (void)parseResource("GPIB0::31::INSTR");
        FAIL();
    } catch (const IoError& error) {
        EXPECT_STREQ(error.what(),
                     "malformed resource \"GPIB0::31::INSTR\": primary address \"31\" is not a number from 0 to 30; "
                     "expected GPIB[board]::primary[::secondary][::INSTR]");
    }
}

TEST(ResourceError, RefusesHislipByName) {
    try {
        (void)parseResource("TCPIP::192.0.2.7::hislip0::INSTR");
        FAIL();
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("\"hislip0\" is a HiSLIP device, which this library does not speak"),
                  std::string::npos)
            << error.what();
    }
}

TEST(ResourceInterface, GivesTheInterfaceTypeOfEachKind) {
    EXPECT_EQ(interfaceTypeOf(parseResource("GPIB0::9::INSTR")), "GPIB");
    EXPECT_EQ(interfaceTypeOf(parseResource("ASRL/dev/ttyUSB0::INSTR")), "ASRL");
    EXPECT_EQ(interfaceTypeOf(parseResource("TCPIP::h::5025::SOCKET")), "TCPIP");
    EXPECT_EQ(interfaceTypeOf(parseResource("TCPIP::h::INSTR")), "TCPIP");
    EXPECT_EQ(interfaceTypeOf(parseResource("USB::1::2::S::INSTR")), "USB");
}

// Interface resources: boards and the controllers a board is bound to.
TEST(ResourceInterface, ParsesBoardsAndControllersIntoOneCanonicalNameAndRefusesTheRest) {
    const std::pair<const char*, Interface> accepted[] = {
        {"GPIB0::INTFC", GpibBoard{0}},
        {"gpib2::intfc", GpibBoard{2}},
        {"PRLGX-TCPIP::192.0.2.50::INTFC", PrologixController{SocketAddress{0, "192.0.2.50", 1234}}},
        {"prlgx-tcpip::[::1]::4000::intfc", PrologixController{SocketAddress{0, "[::1]", 4000}}},
        {"PRLGX-ASRL1::INTFC", PrologixController{SerialAddress{"/dev/ttyS0", 1}}},
        {"PRLGX-ASRL/dev/ttyUSB0::INTFC", PrologixController{SerialAddress{"/dev/ttyUSB0", {}}}},
        {"TCPIP::192.0.2.60::gpib0::INTFC", VxiGateway{0, "192.0.2.60", "gpib0"}},
        {"TCPIP1::gw::GPIB::INTFC", VxiGateway{1, "gw", "gpib0"}},
    };
    const char* canonical[] = {"GPIB0::INTFC", "GPIB2::INTFC", "PRLGX-TCPIP::192.0.2.50::1234::INTFC",
                               "PRLGX-TCPIP::[::1]::4000::INTFC", "PRLGX-ASRL1::INTFC",
                               "PRLGX-ASRL/dev/ttyUSB0::INTFC", "TCPIP0::192.0.2.60::gpib0::INTFC",
                               "TCPIP1::gw::gpib0::INTFC"};
    for (std::size_t i = 0; i < std::size(accepted); ++i) {
        const auto& [text, fields] = accepted[i];
        EXPECT_EQ(parseInterface(text), fields) << text;
        EXPECT_EQ(canonicalName(parseInterface(text)), canonical[i]);
        EXPECT_EQ(parseInterface(canonical[i]), fields) << "canonical name does not parse back";
    }
    for (const char* text : {"GPIB0::9::INSTR", "GPIB0::1::INTFC", "PRLGX-TCPIP::INTFC", "PRLGX-TCPIP0::h::INTFC",
                             "PRLGX-TCPIP::h::0::INTFC", "PRLGX-ASRL0::INTFC", "PRLGX-ASRL::x::INTFC",
                             "PRLGX-GPIB::INTFC", "TCPIP::h::inst0::INTFC", "TCPIP::h::INTFC", "TCPIP::h::gpibx::INTFC",
                             ""}) {
        EXPECT_THROW((void)parseInterface(text), IoError) << text;
    }
    // An instrument is never opened at an interface resource.
    try {
        (void)parseResource("GPIB0::INTFC");
        FAIL();
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("names a board or a controller, not an instrument"), std::string::npos)
            << error.what();
    }
}

}  // namespace
