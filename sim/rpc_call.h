// SPDX-License-Identifier: MIT
// The simulator's side of ONC RPC as VXI-11 and the portmapper use it:
// record marking in, calls decoded (header, then each procedure's
// arguments), replies encoded and framed out. No I/O happens here, so that
// the fuzzer drives it with any bytes; every length read from the peer is
// checked against the bytes present before anything is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tq820sim::rpc {

// Malformed bytes from the peer: a short or inconsistent XDR item, or a
// record larger than the cap.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reassembles RPC records from a TCP byte stream: each fragment is a 4-byte
// big-endian header (top bit: last fragment; the rest: its length) and its
// bytes. A record larger than maxRecord raises ProtocolError, before its
// bytes are buffered.
class RecordReader {
public:
    explicit RecordReader(std::size_t maxRecord) : maxRecord_(maxRecord) {}
    void feed(std::string_view bytes);
    // The next whole record, if one is in.
    std::optional<std::string> next();
    [[nodiscard]] std::size_t buffered() const { return input_.size() - consumed_; }

private:
    std::size_t maxRecord_;
    std::string input_;
    std::size_t consumed_ = 0;
    std::string record_;  // the fragments of the record being read so far
};

// The record as fragments of at most fragmentSize bytes (0: one fragment).
std::string frameRecord(std::string_view record, std::size_t fragmentSize = 0);

class XdrReader {
public:
    explicit XdrReader(std::string_view bytes) : bytes_(bytes) {}
    std::uint32_t u32();
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    bool boolean();
    // Variable-length opaque data or string of at most maxSize bytes.
    std::string_view opaque(std::size_t maxSize);
    [[nodiscard]] bool atEnd() const { return bytes_.empty(); }

private:
    std::string_view bytes_;
};

class XdrWriter {
public:
    void u32(std::uint32_t value);
    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
    void opaque(std::string_view bytes);
    [[nodiscard]] const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Program numbers and procedures this simulator serves.
inline constexpr std::uint32_t kPortmapProgram = 100000;
inline constexpr std::uint32_t kPortmapVersion = 2;
inline constexpr std::uint32_t kDeviceCoreProgram = 0x0607AF;
inline constexpr std::uint32_t kDeviceCoreVersion = 1;
inline constexpr std::uint32_t kProtocolTcp = 6;
inline constexpr std::uint32_t kProtocolUdp = 17;

enum class PortmapProc : std::uint32_t { Null = 0, Set = 1, Unset = 2, GetPort = 3, Dump = 4 };

enum class DeviceProc : std::uint32_t {
    Null = 0,
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
    DeviceClear = 15,
    DeviceRemote = 16,
    DeviceLocal = 17,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DeviceEnableSrq = 20,
    DeviceDocmd = 22,
    DestroyLink = 23,
    CreateIntrChan = 25,
    DestroyIntrChan = 26,
};

// The arguments of each procedure, as far as the simulator uses them.
struct Mapping {
    std::uint32_t program = 0, version = 0, protocol = 0, port = 0;
};
struct CreateLinkArgs {
    std::int32_t clientId = 0;
    bool lockDevice = false;
    std::uint32_t lockTimeout = 0;
    std::string device;
};
struct WriteArgs {
    std::int32_t lid = 0;
    std::uint32_t ioTimeout = 0, lockTimeout = 0;
    std::int32_t flags = 0;
    std::string data;
};
struct ReadArgs {
    std::int32_t lid = 0;
    std::uint32_t requestSize = 0, ioTimeout = 0, lockTimeout = 0;
    std::int32_t flags = 0;
    char termChar = '\n';
};
// device_readstb, _trigger, _clear, _remote, _local.
struct GenericArgs {
    std::int32_t lid = 0;
    std::int32_t flags = 0;
    std::uint32_t lockTimeout = 0, ioTimeout = 0;
};
struct LockArgs {
    std::int32_t lid = 0;
    std::int32_t flags = 0;
    std::uint32_t lockTimeout = 0;
};
// device_unlock, destroy_link.
struct LinkArgs {
    std::int32_t lid = 0;
};
// Procedures the simulator knows but does not serve (interrupt channel,
// docmd, service requests); their arguments are checked and dropped.
struct UnservedArgs {};
struct NoArgs {};

using Arguments = std::variant<NoArgs, Mapping, CreateLinkArgs, WriteArgs, ReadArgs, GenericArgs,
                               LockArgs, LinkArgs, UnservedArgs>;

// Which program an endpoint serves.
enum class Service { Portmapper, DeviceCore };

// A call the service answers itself.
struct Request {
    std::uint32_t xid = 0;
    std::uint32_t procedure = 0;
    Arguments arguments;
};

// What a record comes to: a request for the service, or a reply the RPC
// layer gives on its own (wrong program, version or procedure, garbage
// arguments, a mismatched RPC version), or nothing at all (not a call:
// dropped, as RPC servers do).
struct Dispatch {
    std::optional<Request> request;
    std::string reply;  // the unframed reply record when the layer answers
};

// Decodes one record (a UDP datagram or a reassembled TCP record).
Dispatch dispatchCall(std::string_view record, Service service);

// The reply record to xid carrying results (accepted, SUCCESS).
std::string successReply(std::uint32_t xid, std::string_view results);

// VXI-11 error codes the simulator returns.
enum class DeviceError : std::int32_t {
    None = 0,
    Syntax = 1,
    NotAccessible = 3,
    InvalidLink = 4,
    Parameter = 5,
    NotSupported = 8,
    OutOfResources = 9,
    Locked = 11,
    NoLock = 12,
    IoTimeout = 15,
};

// Device_ReadResp reasons and Device_Flags bits.
inline constexpr std::int32_t kReasonReqcnt = 1;
inline constexpr std::int32_t kReasonChr = 2;
inline constexpr std::int32_t kReasonEnd = 4;
inline constexpr std::int32_t kFlagWaitLock = 1;
inline constexpr std::int32_t kFlagEnd = 8;
inline constexpr std::int32_t kFlagTermChrSet = 128;

// Results of each procedure, XDR-encoded.
std::string errorResult(DeviceError error);
std::string createLinkResult(DeviceError error, std::int32_t lid, std::uint32_t maxRecvSize);
std::string writeResult(DeviceError error, std::uint32_t size);
std::string readResult(DeviceError error, std::int32_t reason, std::string_view data);
std::string readStbResult(DeviceError error, std::uint8_t stb);
std::string portResult(std::uint32_t port);
std::string dumpResult(const std::vector<Mapping>& mappings);
std::string booleanResult(bool value);

}  // namespace tq820sim::rpc
