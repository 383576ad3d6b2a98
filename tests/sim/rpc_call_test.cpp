// SPDX-License-Identifier: MIT
// The simulator's RPC-call parser on bad input: what it answers, and that
// a record over the cap is refused before its bytes are kept. The fuzz
// target shows it never crashes; these show it answers as RPC asks.
#include "rpc_call.h"

#include <gtest/gtest.h>

namespace tq820sim::rpc {
namespace {

std::string words(std::initializer_list<std::uint32_t> values) {
    XdrWriter out;
    for (std::uint32_t value : values) out.u32(value);
    return out.bytes();
}

// xid 5, CALL, RPC 2, program, version, procedure, two empty AUTH_NONE.
std::string header(std::uint32_t rpcVersion, std::uint32_t program, std::uint32_t version,
                   std::uint32_t procedure) {
    return words({5, 0, rpcVersion, program, version, procedure, 0, 0, 0, 0});
}

std::string core(std::uint32_t procedure) {
    return header(2, kDeviceCoreProgram, kDeviceCoreVersion, procedure);
}

// The accepted reply's status, or -1 for a denial, -2 for no reply.
int acceptStatus(const Dispatch& dispatch) {
    if (dispatch.request) return 0;
    if (dispatch.reply.empty()) return -2;
    XdrReader in(dispatch.reply);
    EXPECT_EQ(in.u32(), 5u);
    EXPECT_EQ(in.u32(), 1u);
    if (in.u32() == 1) return -1;
    in.u32();
    in.u32();
    return static_cast<int>(in.u32());
}

TEST(RpcCall, BadCallsGetTheAnswerRpcAsks) {
    const std::string link = words({1, 0, 0});  // lid, io_timeout, lock_timeout
    struct Row {
        const char* what;
        std::string record;
        int expected;
    };
    const std::vector<Row> rows = {
        {"cut inside the header", core(11).substr(0, 22), -2},
        {"a reply, not a call", words({5, 1, 0, 0, 0, 0}), -2},
        {"authentication body over 400 bytes",
         words({5, 0, 2, kDeviceCoreProgram, 1, 11, 1, 404}) + std::string(404, 'a'), -2},
        {"RPC version 3", header(3, kDeviceCoreProgram, 1, 11), -1},
        {"another program", header(2, kPortmapProgram, 2, 3), 1},
        {"version 2 of the core channel", header(2, kDeviceCoreProgram, 2, 11), 2},
        {"procedure 21", core(21), 3},
        {"device_write cut short", core(11) + link, 4},
        {"data length past the record", core(11) + link + words({8, 3}) + "ab", 4},
        {"bytes after the arguments", core(23) + words({1, 0}), 4},
        {"create_link with lockDevice 2", core(10) + words({1, 2, 0, 0}), 4},
        {"device_read", core(12) + words({1, 64, 1000, 0, 0, 10}), 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(acceptStatus(dispatchCall(row.record, Service::DeviceCore)), row.expected)
            << row.what;
    }
    const Dispatch mismatch = dispatchCall(header(2, kDeviceCoreProgram, 9, 11), Service::DeviceCore);
    EXPECT_EQ(mismatch.reply.substr(24), words({1, 1}));  // the versions served: 1 to 1
}

TEST(RpcCall, RecordsReassembleAcrossFragmentsAndReadsAndStopAtTheCap) {
    const std::string record = core(0);
    const std::string framed = frameRecord(record, 7) + frameRecord("xyz");
    RecordReader reader(64);
    std::vector<std::string> records;
    for (char byte : framed) {  // one byte a read: the worst a socket does
        reader.feed(std::string_view(&byte, 1));
        while (auto next = reader.next()) records.push_back(*next);
    }
    EXPECT_EQ(records, (std::vector<std::string>{record, "xyz"}));
    EXPECT_EQ(reader.buffered(), 0u);

    // 40 + 40 bytes of fragments: the second header already tells it is over.
    RecordReader capped(64);
    capped.feed(frameRecord(std::string(80, 'a'), 40).substr(0, 48));
    EXPECT_THROW(capped.next(), ProtocolError);
}

}  // namespace
}  // namespace tq820sim::rpc
