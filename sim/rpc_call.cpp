// SPDX-License-Identifier: MIT
#include "rpc_call.h"

#include <algorithm>
#include <cstdint>

namespace tq820sim::rpc {

namespace {

constexpr std::uint32_t kLastFragment = 0x80000000u;
constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kRpcVersion = 2;
constexpr std::size_t kMaxAuthBody = 400;  // RFC 5531
constexpr std::size_t kMaxDeviceName = 1024;
constexpr std::size_t kMaxSrqHandle = 40;

enum class AcceptStat : std::uint32_t {
    Success = 0,
    ProgUnavail = 1,
    ProgMismatch = 2,
    ProcUnavail = 3,
    GarbageArgs = 4,
};

std::uint32_t bigEndian32(std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

void appendBigEndian32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

// The accepted-reply header up to and including its status.
XdrWriter acceptedHeader(std::uint32_t xid, AcceptStat status) {
    XdrWriter out;
    out.u32(xid);
    out.u32(kReply);
    out.u32(0);  // MSG_ACCEPTED
    out.u32(0);  // verifier: AUTH_NONE, empty
    out.u32(0);
    out.u32(static_cast<std::uint32_t>(status));
    return out;
}

std::string acceptedReply(std::uint32_t xid, AcceptStat status) {
    return acceptedHeader(xid, status).bytes();
}

std::string versionMismatch(std::uint32_t xid, AcceptStat status, std::uint32_t version) {
    XdrWriter out = acceptedHeader(xid, status);
    out.u32(version);
    out.u32(version);
    return out.bytes();
}

std::string rpcVersionMismatch(std::uint32_t xid) {
    XdrWriter out;
    out.u32(xid);
    out.u32(kReply);
    out.u32(1);  // MSG_DENIED
    out.u32(0);  // RPC_MISMATCH
    out.u32(kRpcVersion);
    out.u32(kRpcVersion);
    return out.bytes();
}

void skipAuth(XdrReader& in) {
    in.u32();  // flavour: any is taken, none is checked
    in.opaque(kMaxAuthBody);
}

Mapping readMapping(XdrReader& in) {
    Mapping mapping;
    mapping.program = in.u32();
    mapping.version = in.u32();
    mapping.protocol = in.u32();
    mapping.port = in.u32();
    return mapping;
}

std::optional<Arguments> portmapArguments(std::uint32_t procedure, XdrReader& in) {
    switch (static_cast<PortmapProc>(procedure)) {
        case PortmapProc::Null:
        case PortmapProc::Dump:
            return NoArgs{};
        case PortmapProc::Set:
        case PortmapProc::Unset:
        case PortmapProc::GetPort:
            return readMapping(in);
    }
    return std::nullopt;
}

GenericArgs readGeneric(XdrReader& in) {
    GenericArgs args;
    args.lid = in.i32();
    args.flags = in.i32();
    args.lockTimeout = in.u32();
    args.ioTimeout = in.u32();
    return args;
}

CreateLinkArgs readCreateLink(XdrReader& in) {
    CreateLinkArgs args;
    args.clientId = in.i32();
    args.lockDevice = in.boolean();
    args.lockTimeout = in.u32();
    args.device = std::string(in.opaque(kMaxDeviceName));
    return args;
}

WriteArgs readWrite(XdrReader& in) {
    WriteArgs args;
    args.lid = in.i32();
    args.ioTimeout = in.u32();
    args.lockTimeout = in.u32();
    args.flags = in.i32();
    args.data = std::string(in.opaque(SIZE_MAX));
    return args;
}

ReadArgs readRead(XdrReader& in) {
    ReadArgs args;
    args.lid = in.i32();
    args.requestSize = in.u32();
    args.ioTimeout = in.u32();
    args.lockTimeout = in.u32();
    args.flags = in.i32();
    args.termChar = static_cast<char>(in.i32());
    return args;
}

LockArgs readLock(XdrReader& in) {
    LockArgs args;
    args.lid = in.i32();
    args.flags = in.i32();
    args.lockTimeout = in.u32();
    return args;
}

UnservedArgs readEnableSrq(XdrReader& in) {
    in.i32();
    in.boolean();
    in.opaque(kMaxSrqHandle);
    return {};
}

UnservedArgs readDocmd(XdrReader& in) {
    for (int i = 0; i < 5; ++i) in.u32();  // lid, flags, io_timeout, lock_timeout, cmd
    in.boolean();
    in.i32();
    in.opaque(SIZE_MAX);
    return {};
}

UnservedArgs readRemoteFunc(XdrReader& in) {
    for (int i = 0; i < 4; ++i) in.u32();
    if (in.u32() > 1) throw ProtocolError("address family out of range");
    return {};
}

std::optional<Arguments> deviceArguments(std::uint32_t procedure, XdrReader& in) {
    switch (static_cast<DeviceProc>(procedure)) {
        case DeviceProc::Null:
        case DeviceProc::DestroyIntrChan:
            return NoArgs{};
        case DeviceProc::CreateLink:
            return readCreateLink(in);
        case DeviceProc::DeviceWrite:
            return readWrite(in);
        case DeviceProc::DeviceRead:
            return readRead(in);
        case DeviceProc::DeviceReadStb:
        case DeviceProc::DeviceTrigger:
        case DeviceProc::DeviceClear:
        case DeviceProc::DeviceRemote:
        case DeviceProc::DeviceLocal:
            return readGeneric(in);
        case DeviceProc::DeviceLock:
            return readLock(in);
        case DeviceProc::DeviceUnlock:
        case DeviceProc::DestroyLink:
            return LinkArgs{in.i32()};
        case DeviceProc::DeviceEnableSrq:
            return readEnableSrq(in);
        case DeviceProc::DeviceDocmd:
            return readDocmd(in);
        case DeviceProc::CreateIntrChan:
            return readRemoteFunc(in);
    }
    return std::nullopt;
}

}  // namespace

void RecordReader::feed(std::string_view bytes) {
    if (consumed_ > 0 && consumed_ >= input_.size() / 2) {
        input_.erase(0, consumed_);
        consumed_ = 0;
    }
    input_.append(bytes);
}

std::optional<std::string> RecordReader::next() {
    while (input_.size() - consumed_ >= 4) {
        const std::uint32_t header = bigEndian32(std::string_view(input_).substr(consumed_, 4));
        const std::size_t length = header & ~kLastFragment;
        if (length > maxRecord_ - record_.size()) {
            throw ProtocolError("RPC record longer than " + std::to_string(maxRecord_) +
                                " bytes");
        }
        if (input_.size() - consumed_ - 4 < length) return std::nullopt;
        record_.append(input_, consumed_ + 4, length);
        consumed_ += 4 + length;
        if ((header & kLastFragment) != 0) {
            std::string record;
            record.swap(record_);
            return record;
        }
    }
    return std::nullopt;
}

std::string frameRecord(std::string_view record, std::size_t fragmentSize) {
    if (fragmentSize == 0 || fragmentSize > ~kLastFragment) fragmentSize = ~kLastFragment;
    std::string framed;
    framed.reserve(record.size() + 4 * (record.size() / fragmentSize + 1));
    do {
        const std::size_t length = std::min(fragmentSize, record.size());
        const bool last = length == record.size();
        appendBigEndian32(framed, static_cast<std::uint32_t>(length) | (last ? kLastFragment : 0));
        framed.append(record.substr(0, length));
        record.remove_prefix(length);
        if (last) break;
    } while (true);
    return framed;
}

std::uint32_t XdrReader::u32() {
    if (bytes_.size() < 4) throw ProtocolError("XDR item cut short");
    const std::uint32_t value = bigEndian32(bytes_);
    bytes_.remove_prefix(4);
    return value;
}

bool XdrReader::boolean() {
    const std::uint32_t value = u32();
    if (value > 1) throw ProtocolError("XDR boolean neither 0 nor 1");
    return value == 1;
}

std::string_view XdrReader::opaque(std::size_t maxSize) {
    const std::size_t length = u32();
    if (length > maxSize) throw ProtocolError("XDR data longer than allowed");
    const std::size_t padded = length + (4 - length % 4) % 4;
    if (padded > bytes_.size()) throw ProtocolError("XDR data cut short");
    const std::string_view data = bytes_.substr(0, length);
    bytes_.remove_prefix(padded);
    return data;
}

void XdrWriter::u32(std::uint32_t value) {
    appendBigEndian32(bytes_, value);
}

void XdrWriter::opaque(std::string_view bytes) {
    u32(static_cast<std::uint32_t>(bytes.size()));
    bytes_.append(bytes);
    bytes_.append((4 - bytes.size() % 4) % 4, '\0');
}

Dispatch dispatchCall(std::string_view record, Service service) {
    XdrReader in(record);
    Dispatch result;
    std::uint32_t xid = 0;
    std::uint32_t program = 0, version = 0, procedure = 0;
    try {
        xid = in.u32();
        if (in.u32() != kCall) return result;
        if (in.u32() != kRpcVersion) {
            result.reply = rpcVersionMismatch(xid);
            return result;
        }
        program = in.u32();
        version = in.u32();
        procedure = in.u32();
        skipAuth(in);
        skipAuth(in);
    } catch (const ProtocolError&) {
        return result;  // no call header to answer
    }
    const bool portmap = service == Service::Portmapper;
    const std::uint32_t wantedProgram = portmap ? kPortmapProgram : kDeviceCoreProgram;
    const std::uint32_t wantedVersion = portmap ? kPortmapVersion : kDeviceCoreVersion;
    if (program != wantedProgram) {
        result.reply = acceptedReply(xid, AcceptStat::ProgUnavail);
        return result;
    }
    if (version != wantedVersion) {
        result.reply = versionMismatch(xid, AcceptStat::ProgMismatch, wantedVersion);
        return result;
    }
    try {
        std::optional<Arguments> arguments =
            portmap ? portmapArguments(procedure, in) : deviceArguments(procedure, in);
        if (!arguments) {
            result.reply = acceptedReply(xid, AcceptStat::ProcUnavail);
            return result;
        }
        if (!in.atEnd()) throw ProtocolError("bytes after the arguments");
        // Built in place: moving a temporary Request in makes GCC 12 at -O3
        // take its variant for maybe uninitialized (a false positive).
        Request& request = result.request.emplace();
        request.xid = xid;
        request.procedure = procedure;
        request.arguments = std::move(*arguments);
    } catch (const ProtocolError&) {
        result.reply = acceptedReply(xid, AcceptStat::GarbageArgs);
    }
    return result;
}

std::string successReply(std::uint32_t xid, std::string_view results) {
    std::string reply = acceptedReply(xid, AcceptStat::Success);
    reply.append(results);
    return reply;
}

std::string errorResult(DeviceError error) {
    XdrWriter out;
    out.i32(static_cast<std::int32_t>(error));
    return out.bytes();
}

std::string createLinkResult(DeviceError error, std::int32_t lid, std::uint32_t maxRecvSize) {
    XdrWriter out;
    out.i32(static_cast<std::int32_t>(error));
    out.i32(lid);
    out.u32(0);  // abortPort: no abort channel is served
    out.u32(maxRecvSize);
    return out.bytes();
}

std::string writeResult(DeviceError error, std::uint32_t size) {
    XdrWriter out;
    out.i32(static_cast<std::int32_t>(error));
    out.u32(size);
    return out.bytes();
}

std::string readResult(DeviceError error, std::int32_t reason, std::string_view data) {
    XdrWriter out;
    out.i32(static_cast<std::int32_t>(error));
    out.i32(reason);
    out.opaque(data);
    return out.bytes();
}

std::string readStbResult(DeviceError error, std::uint8_t stb) {
    XdrWriter out;
    out.i32(static_cast<std::int32_t>(error));
    out.u32(stb);
    return out.bytes();
}

std::string portResult(std::uint32_t port) {
    XdrWriter out;
    out.u32(port);
    return out.bytes();
}

// pmaplist: each entry preceded by "one more follows", then "no more".
std::string dumpResult(const std::vector<Mapping>& mappings) {
    XdrWriter out;
    for (const Mapping& mapping : mappings) {
        out.u32(1);
        out.u32(mapping.program);
        out.u32(mapping.version);
        out.u32(mapping.protocol);
        out.u32(mapping.port);
    }
    out.u32(0);
    return out.bytes();
}

std::string booleanResult(bool value) {
    XdrWriter out;
    out.u32(value ? 1 : 0);
    return out.bytes();
}

}  // namespace tq820sim::rpc
