// SPDX-License-Identifier: MIT
// The simulator's RPC-call parser: bytes from a VXI-11 or portmapper client
// reassembled into records (in pieces as a socket hands them over), each
// record decoded as a call to the core channel and to the portmapper, and
// the whole input taken as one UDP datagram.
//
// Invariants: the reader fails only with ProtocolError, and keeps no record
// over its cap and no more record bytes than came in; a record framed in
// fragments of any size reads back unchanged; a decoded call keeps the
// record's xid and carries the arguments of its procedure; a reply the RPC
// layer gives on its own is a short REPLY to the same xid; no call is both
// answered and passed on.
#include <string>

#include "fuzz/fuzz_check.h"
#include "sim/rpc_call.h"

namespace {

using namespace tq820sim::rpc;

constexpr std::size_t kCap = 4096;

std::uint32_t xidOf(std::string_view record) {
    XdrReader in(record);
    return in.u32();
}

bool argumentsFit(std::uint32_t procedure, const Arguments& arguments, Service service) {
    if (service == Service::Portmapper) {
        return procedure == 0 || procedure == 4 ? std::holds_alternative<NoArgs>(arguments)
                                                : std::holds_alternative<Mapping>(arguments);
    }
    switch (static_cast<DeviceProc>(procedure)) {
        case DeviceProc::CreateLink:
            return std::holds_alternative<CreateLinkArgs>(arguments);
        case DeviceProc::DeviceWrite:
            return std::holds_alternative<WriteArgs>(arguments);
        case DeviceProc::DeviceRead:
            return std::holds_alternative<ReadArgs>(arguments);
        case DeviceProc::DeviceUnlock:
        case DeviceProc::DestroyLink:
            return std::holds_alternative<LinkArgs>(arguments);
        default:
            return true;
    }
}

void checkDispatch(std::string_view record, Service service) {
    const Dispatch dispatch = dispatchCall(record, service);
    TQ_FUZZ_CHECK(!(dispatch.request && !dispatch.reply.empty()));
    if (dispatch.request) {
        TQ_FUZZ_CHECK(dispatch.request->xid == xidOf(record));
        TQ_FUZZ_CHECK(argumentsFit(dispatch.request->procedure, dispatch.request->arguments,
                                   service));
        if (const auto* write = std::get_if<WriteArgs>(&dispatch.request->arguments))
            TQ_FUZZ_CHECK(write->data.size() <= record.size());
    }
    if (!dispatch.reply.empty()) {
        TQ_FUZZ_CHECK(dispatch.reply.size() <= 32);
        XdrReader reply(dispatch.reply);
        TQ_FUZZ_CHECK(reply.u32() == xidOf(record));
        TQ_FUZZ_CHECK(reply.u32() == 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Two bytes pick how the socket cuts the stream and how replies are
    // framed; the rest is the stream.
    if (size < 2) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::size_t fragment = data[1] % 16;
    const std::string stream(reinterpret_cast<const char*>(data) + 2, size - 2);

    RecordReader reader(kCap);
    std::size_t recordBytes = 0;
    try {
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.feed(std::string_view(stream).substr(at, piece));
            while (std::optional<std::string> record = reader.next()) {
                TQ_FUZZ_CHECK(record->size() <= kCap);
                recordBytes += record->size();
                TQ_FUZZ_CHECK(recordBytes <= stream.size());
                checkDispatch(*record, Service::DeviceCore);
                checkDispatch(*record, Service::Portmapper);

                RecordReader again(kCap);
                again.feed(frameRecord(*record, fragment));
                const std::optional<std::string> back = again.next();
                TQ_FUZZ_CHECK(back && *back == *record && again.buffered() == 0);
            }
        }
    } catch (const ProtocolError&) {
        // An oversized record: the connection is dropped; nothing more to check.
    }
    checkDispatch(stream, Service::Portmapper);  // a UDP datagram
    return 0;
}
