// SPDX-License-Identifier: MIT
// The VXI-11 client's reading of a server's bytes: record marking in chunks
// of any size, then each whole record as an RPC reply to the call we made,
// then its results as each VXI-11 answer the client decodes.
//
// Invariants: the records that come out are exactly those a plain reading
// of the whole stream finds, and the assembler refuses the stream exactly
// where that reading finds a record over the cap; no record exceeds the cap;
// accepted results are the record's tail; device_read's data never exceed
// the room asked for and are what the results carry, nothing when they
// carry an error. Everything else is an IoError, never a crash.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "corvalenlib/transports/rpc_stream.h"
#include "corvalenlib/transports/vxi11_session.h"
#include "fuzz/fuzz_check.h"
#include "vxi11/vxi11.h"

namespace {

using CorvalenLib::IoError;
namespace rpc = CorvalenLib::rpc;

std::uint32_t wordAt(std::string_view bytes, std::size_t at) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
           static_cast<std::uint32_t>(b[2]) << 8 | b[3];
}

// The records of stream read all at once; refused is set where one would
// exceed cap, and the records before it stand.
std::vector<std::string> plainRecords(std::string_view stream, std::size_t cap, bool& refused) {
    std::vector<std::string> records;
    std::string record;
    std::size_t fragments = 0;
    refused = false;
    while (stream.size() >= 4) {
        const auto mark = wordAt(stream, 0);
        const std::size_t length = mark & 0x7FFFFFFFU;
        if (length > cap - record.size() || ++fragments > 65536) {
            refused = true;
            return records;
        }
        stream.remove_prefix(4);
        if (stream.size() < length) break;
        record.append(stream.substr(0, length));
        stream.remove_prefix(length);
        if ((mark & 0x80000000U) != 0) {
            records.push_back(std::move(record));
            record.clear();
            fragments = 0;
        }
    }
    return records;
}

template <typename T>
void tryDecode(std::string_view results, bool_t (*decode)(XDR*, T*)) {
    T value{};
    try {
        rpc::decodeResults(results, decode, value, "a call");
    } catch (const IoError&) {
    }
}

void checkResults(std::string_view record, std::uint32_t xid, std::size_t room) {
    std::optional<std::string_view> results;
    try {
        results = rpc::acceptedResults(record, xid);
    } catch (const IoError&) {
        return;
    }
    if (!results) {
        TQ_FUZZ_CHECK(record.size() >= 4 && wordAt(record, 0) != xid);
        return;
    }
    TQ_FUZZ_CHECK(results->data() + results->size() == record.data() + record.size());
    tryDecode(*results, xdr_Create_LinkResp);
    tryDecode(*results, xdr_Device_WriteResp);
    tryDecode(*results, xdr_Device_Error);
    tryDecode(*results, xdr_u_int);
    std::string data = "kept";
    try {
        const auto block = CorvalenLib::decodeReadResults(*results, room, data);
        TQ_FUZZ_CHECK(data.compare(0, 4, "kept") == 0);
        const std::size_t added = data.size() - 4;
        TQ_FUZZ_CHECK(added <= room);
        if (block.error != 0) {
            TQ_FUZZ_CHECK(added == 0);
        } else {
            TQ_FUZZ_CHECK(added == wordAt(*results, 8));
            TQ_FUZZ_CHECK(results->compare(12, added, data, 4, added) == 0);
        }
    } catch (const IoError&) {
        TQ_FUZZ_CHECK(data == "kept");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    const std::size_t cap = 1 + input.word();
    const std::size_t room = input.word();
    const std::uint8_t chunkSeed = input.byte();
    const std::uint32_t xid = static_cast<std::uint32_t>(input.word()) << 16 | input.word();
    const std::string stream(input.text(input.size()));

    bool refused = false;
    const auto expected = plainRecords(stream, cap, refused);

    rpc::RecordAssembler assembler(cap);
    std::vector<std::string> records;
    bool raised = false;
    std::size_t at = 0;
    std::size_t chunk = 1 + chunkSeed % 17;
    try {
        while (at < stream.size()) {
            const auto piece = std::string_view(stream).substr(at, std::min(chunk, stream.size() - at));
            std::size_t taken = 0;
            while (taken < piece.size()) {
                const std::size_t step = assembler.feed(piece.substr(taken));
                TQ_FUZZ_CHECK(step > 0 || assembler.complete());
                taken += step;
                if (assembler.complete()) {
                    TQ_FUZZ_CHECK(assembler.record().size() <= cap);
                    records.push_back(assembler.record());
                    checkResults(assembler.record(), xid, room);
                    assembler.next();
                }
            }
            at += piece.size();
            chunk = 1 + (chunk * 7 + chunkSeed) % 29;  // vary how the bytes arrive
        }
    } catch (const IoError&) {
        raised = true;
    }
    TQ_FUZZ_CHECK(raised == refused);
    TQ_FUZZ_CHECK(records == expected);
    return 0;
}
