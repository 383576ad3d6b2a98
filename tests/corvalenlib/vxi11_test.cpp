// SPDX-License-Identifier: MIT
// VXI-11: the RPC framing and reply checks on exact bytes, then the control's
// VXI-11 session against the real tq820-sim in this test's own network
// namespace (tests/support/in-netns), where the portmapper's port 111 is free.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "corvalenlib/widgets/control.h"
#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/rpc_stream.h"
#include "peers.h"
#include "sim_process.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using CorvalenLib::Control;
using CorvalenLib::IoError;
using CorvalenLib::TimeoutError;
namespace rpc = CorvalenLib::rpc;

std::string words(std::initializer_list<std::uint32_t> values) {
    std::string bytes;
    for (const auto value : values) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(value >> shift);
    }
    return bytes;
}

std::string fragment(std::string_view data, bool last) {
    return words({(last ? 0x80000000U : 0U) | static_cast<std::uint32_t>(data.size())}) + std::string(data);
}

template <typename Row>
std::string rowName(const ::testing::TestParamInfo<Row>& row) {
    std::string name = row.param.name;
    for (auto& c : name) c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    return name;
}

// --- record marking ---

struct Framing {
    const char* name;
    std::string wire;
    std::size_t cap;
    std::vector<std::string> records;  // what comes out, in order
    const char* error;                 // or the start of the error raised
};

class RpcRecords : public ::testing::TestWithParam<Framing> {};

TEST_P(RpcRecords, ReassembleFragmentsHoweverTheBytesArrive) {
    const auto& row = GetParam();
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, row.wire.size()}) {
        rpc::RecordAssembler assembler(row.cap);
        std::vector<std::string> records;
        std::string error;
        try {
            for (std::size_t at = 0; at < row.wire.size();) {
                const auto piece = std::string_view(row.wire).substr(at, std::min(chunk, row.wire.size() - at));
                std::size_t taken = 0;
                while (taken < piece.size()) {
                    taken += assembler.feed(piece.substr(taken));
                    if (assembler.complete()) {
                        records.push_back(assembler.record());
                        assembler.next();
                    }
                }
                at += piece.size();
            }
        } catch (const IoError& e) {
            error = e.what();
        }
        EXPECT_EQ(records, row.records) << row.name << ", chunks of " << chunk;
        EXPECT_EQ(error.substr(0, std::string_view(row.error).size()), row.error) << row.name << ": " << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RpcRecords,
    ::testing::Values(
        Framing{"one fragment", fragment("abc", true), 64, {"abc"}, ""},
        Framing{"three fragments", fragment("ab", false) + fragment("", false) + fragment("cd", true), 64, {"abcd"}, ""},
        Framing{"empty record", fragment("", true), 64, {""}, ""},
        Framing{"records back to back", fragment("ab", true) + fragment("c", false) + fragment("d", true), 64,
                {"ab", "cd"}, ""},
        Framing{"record at the cap", fragment("1234", false) + fragment("5678", true), 8, {"12345678"}, ""},
        Framing{"fragment over the cap", fragment("123456789", true), 8, {}, "RPC record longer than 8 bytes"},
        Framing{"fragments over the cap", fragment("12345", false) + fragment("6789", true), 8, {},
                "RPC record longer than 8 bytes"},
        Framing{"claimed 2 GiB", words({0xFFFFFFFFU}), 1024 * 1024, {}, "RPC record longer than 1 MiB"}),
    rowName<Framing>);

// --- replies ---

constexpr std::uint32_t kXid = 0x1234;

struct Reply {
    const char* name;
    std::string record;
    std::optional<std::string> results;  // empty: the record answers another call
    const char* error;
};

class RpcReplies : public ::testing::TestWithParam<Reply> {};

TEST_P(RpcReplies, GiveTheResultsOfTheirOwnCallOrNameWhyNot) {
    const auto& row = GetParam();
    try {
        const auto results = rpc::acceptedResults(row.record, kXid);
        EXPECT_STREQ(row.error, "") << row.name;
        EXPECT_EQ(results.has_value(), row.results.has_value()) << row.name;
        if (results && row.results) {
            EXPECT_EQ(*results, *row.results) << row.name;
        }
    } catch (const IoError& error) {
        EXPECT_NE(row.error[0], '\0') << row.name << ": " << error.what();
        EXPECT_NE(std::string(error.what()).find(row.error), std::string::npos) << error.what();
    }
}

const std::string kAccepted = words({kXid, 1, 0, 0, 0});  // reply, accepted, no verifier

INSTANTIATE_TEST_SUITE_P(
    Table, RpcReplies,
    ::testing::Values(
        Reply{"success", kAccepted + words({0, 42}), words({42}), ""},
        Reply{"success with a verifier", words({kXid, 1, 0, 1, 5}) + "12345\0\0\0"s + words({0, 7}), words({7}), ""},
        Reply{"another call's reply", words({kXid + 1, 1, 0, 0, 0, 0}), std::nullopt, ""},
        Reply{"program unavailable", kAccepted + words({1}), std::nullopt, "(PROG_UNAVAIL)"},
        Reply{"program mismatch", kAccepted + words({2, 3, 4}), std::nullopt, "versions 3 to 4 of the program"},
        Reply{"procedure unavailable", kAccepted + words({3}), std::nullopt, "(PROC_UNAVAIL)"},
        Reply{"garbage arguments", kAccepted + words({4}), std::nullopt, "(GARBAGE_ARGS)"},
        Reply{"system error", kAccepted + words({5}), std::nullopt, "(SYSTEM_ERR)"},
        Reply{"RPC version refused", words({kXid, 1, 1, 0, 2, 2}), std::nullopt, "versions 2 to 2 (RPC_MISMATCH)"},
        Reply{"authentication refused", words({kXid, 1, 1, 1, 5}), std::nullopt, "(AUTH_ERROR 5)"},
        Reply{"a call, not a reply", words({kXid, 0, 2}), std::nullopt, "RPC message of type 0"},
        Reply{"cut short", words({kXid, 1, 0, 0}), std::nullopt, "truncated RPC reply"},
        Reply{"verifier cut short", words({kXid, 1, 0, 0, 8, 0}), std::nullopt, "verifier cut short"},
        Reply{"huge verifier", words({kXid, 1, 0, 0, 1000}), std::nullopt, "a verifier of 1000 bytes"},
        Reply{"no xid", "\x12\x34"s, std::nullopt, "truncated RPC reply"}),
    rowName<Reply>);

TEST(RpcCall, FramesAPortmapperGetportAsOneRecord) {
    std::string out = "x";  // appended, not replaced
    rpc::appendCall(out, {7, 100000, 2, 3}, 16, [](XDR* stream) {
        u_int values[4] = {0x0607AF, 1, 6, 0};
        for (auto& value : values) {
            if (xdr_u_int(stream, &value) == 0) return false;
        }
        return true;
    });
    EXPECT_EQ(out, "x" + words({0x80000038U, 7, 0, 2, 100000, 2, 3, 0, 0, 0, 0, 0x0607AF, 1, 6, 0}));
}

// --- the control against tq820-sim ---

constexpr const char* kIdentity = "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0\n";
constexpr const char* kNoError = "+0,\"No error\"\n";

// tq820-sim serving VXI-11 on a free port of 127.0.0.1, with its options.
class Simulator {
public:
    explicit Simulator(const std::vector<std::string>& options) : process_(wordsFor(options)) {
        const bool portmapper = std::find(options.begin(), options.end(), "--portmapper") != options.end();
        // One start-up line per served address; wait for those we need.
        for (bool vxi = false, mapper = !portmapper; !(vxi && mapper);) {
            const std::string line = process_.readLine();
            vxi = vxi || line.starts_with("VXI11 ");
            mapper = mapper || line.starts_with("PORTMAPPER ");
        }
    }

private:
    static std::vector<std::string> wordsFor(const std::vector<std::string>& options) {
        std::vector<std::string> words{"--vxi11", "127.0.0.1:0"};
        words.insert(words.end(), options.begin(), options.end());
        return words;
    }

    peers::SimProcess process_;
};

std::string resource(const std::string& device) { return "TCPIP::127.0.0.1::" + device + "::INSTR"; }

struct Exchange {
    const char* name;
    std::vector<std::string> options;
    const char* device;
};

class Vxi11Exchanges : public ::testing::TestWithParam<Exchange> {
protected:
    void SetUp() override { ::unsetenv("CORVALEN_IO_ALIASES"); }

    std::string query(const std::string& command) {
        control.Output(command);
        std::string reply;
        control.Enter(reply);
        return reply;
    }

    Control control;
};

TEST_P(Vxi11Exchanges, CarryEveryCommandAndReplyExactly) {
    const auto& row = GetParam();
    auto options = row.options;
    options.emplace_back("--portmapper");
    Simulator sim(options);
    control.setTimeout(5s);
    control.OpenIO(resource(row.device));
    EXPECT_EQ(control.IO().InterfaceType(), "TCPIP");
    EXPECT_EQ(query("*IDN?"), kIdentity);
    // Longer than the smallest write block, so that it goes in several.
    control.Output("CONFigure:TEMPerature TCouple,J,(@101:110)");
    EXPECT_EQ(query("SYSTem:ERRor?"), kNoError);
    std::int32_t points = -1;
    control.Output("DATA:POINts?");
    control.Enter(points);
    EXPECT_EQ(points, 0);
    // A reply the program never read is gone after the clear that follows a reset.
    control.Output("*IDN?");
    control.IO().PostResetCall();
    EXPECT_EQ(query("SYSTem:ERRor?"), kNoError);
    // The link is destroyed on close, and a new one comes up.
    control.CloseIO();
    control.OpenIO(resource(row.device));
    EXPECT_EQ(query("*IDN?"), kIdentity);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Vxi11Exchanges,
    ::testing::Values(Exchange{"plain", {}, "inst0"},
                      Exchange{"fragmented replies", {"--rpc-fragment", "5"}, "inst0"},
                      Exchange{"small read blocks", {"--read-block", "3"}, "inst0"},
                      Exchange{"small write blocks", {"--max-recv-size", "16"}, "inst0"},
                      Exchange{"empty read block", {"--vxi11-empty-read", "2"}, "inst0"},
                      Exchange{"gateway", {"--gateway"}, "gpib0,9"},
                      Exchange{"everything at once",
                               {"--gateway", "--rpc-fragment", "1", "--read-block", "1", "--max-recv-size", "1"},
                               "GPIB0,09"}),
    rowName<Exchange>);

enum class Step { Open, Enter, QueryTwice };

struct Failure {
    const char* name;
    std::vector<std::string> options;
    const char* device;
    Step step;
    const char* error;  // the end of the control's message
    bool timeout;
};

class Vxi11Failures : public ::testing::TestWithParam<Failure> {
protected:
    void SetUp() override { ::unsetenv("CORVALEN_IO_ALIASES"); }
    Control control;
};

TEST_P(Vxi11Failures, EndInOneClearErrorWithinTheTimeOuts) {
    const auto& row = GetParam();
    Simulator sim(row.options);
    control.setTimeout(300ms);
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    bool timedOut = false;
    try {
        control.OpenIO(resource(row.device));
        std::string reply;
        if (row.step == Step::QueryTwice) {
            control.Output("*IDN?");
            control.Enter(reply);
            control.Output("*IDN?");
        }
        if (row.step != Step::Open) control.Enter(reply);
        FAIL() << row.name << ": no error";
    } catch (const TimeoutError& error) {
        message = error.what();
        timedOut = true;
    } catch (const IoError& error) {
        message = error.what();
    }
    EXPECT_TRUE(message.ends_with(row.error)) << message;
    EXPECT_EQ(timedOut, row.timeout) << message;
    // The I/O time-out with the grace we give the device, or the connect time-out.
    EXPECT_LT(peers::millisecondsSince(start), 4'000) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Vxi11Failures,
    ::testing::Values(
        Failure{"no portmapper", {}, "inst0", Step::Open,
                "OpenIO: cannot connect to the portmapper at 127.0.0.1 port 111: Connection refused", false},
        Failure{"address not on the gateway", {"--portmapper", "--gateway"}, "gpib0,5", Step::Open,
                "OpenIO: create_link for device \"gpib0,5\": device not accessible (VXI-11 error 3)", false},
        Failure{"gateway address on an instrument", {"--portmapper"}, "gpib0,9", Step::Open,
                "device not accessible (VXI-11 error 3)", false},
        Failure{"silent instrument", {"--portmapper"}, "inst0", Step::Enter,
                "Enter: device_read: I/O timeout (VXI-11 error 15) after 300 ms", true},
        Failure{"closed connection", {"--portmapper", "--close-after", "1"}, "inst0", Step::QueryTwice,
                "Enter: connection closed by the VXI-11 server", false},
        Failure{"link dropped", {"--portmapper", "--vxi11-drop-link", "2"}, "inst0", Step::QueryTwice,
                "invalid link identifier (VXI-11 error 4)", false},
        Failure{"lying record", {"--portmapper", "--vxi11-lying-record", "2"}, "inst0", Step::QueryTwice,
                "Output: malformed results in the reply to device_write", false}),
    rowName<Failure>);

}  // namespace
