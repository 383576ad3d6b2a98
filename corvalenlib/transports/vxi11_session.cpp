// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/vxi11_session.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <utility>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/portmapper.h"
#include "vxi11/vxi11.h"

namespace CorvalenLib {
namespace {

using namespace std::chrono_literals;

// rpcgen names the procedures by macros in lower case; these keep them apart
// from our own names.
constexpr std::uint32_t kCreateLink = create_link;
constexpr std::uint32_t kDeviceWrite = device_write;
constexpr std::uint32_t kDeviceRead = device_read;
constexpr std::uint32_t kDeviceClear = device_clear;
constexpr std::uint32_t kDestroyLink = destroy_link;
constexpr int kErrorIoTimeout = 15;
// Our own wait outlasts the io_timeout we hand the device by this much, so
// that the device's own "I/O timeout" arrives and is reported as such.
constexpr auto kDeviceTimeoutGrace = 1000ms;
// Closing should not hold the program: a link the server cannot destroy at
// once dies with the connection anyway.
constexpr auto kMaxCloseWait = 1000ms;
// The fixed part of a device_write's arguments: link, two time-outs, flags
// and the length of the data.
constexpr std::size_t kWriteArgumentsSize = 20;
constexpr std::size_t kRecordOverhead = 1024;

RpcChannel::Budget budgetOf(std::chrono::milliseconds wait, std::chrono::milliseconds shown) {
    return {std::chrono::steady_clock::now() + wait, shown};
}

std::uint32_t milliseconds(std::chrono::milliseconds duration) {
    return static_cast<std::uint32_t>(std::clamp<long long>(duration.count(), 0, 0xFFFFFFFFLL));
}

template <typename Results>
Results decodeDeviceResults(std::string_view bytes, bool_t (*decode)(XDR*, Results*),
                            std::string_view what) {
    Results results{};
    rpc::decodeResults(bytes, decode, results, what);
    return results;
}

}  // namespace

std::string vxi11ErrorText(int code) {
    struct Name {
        int code;
        const char* text;
    };
    static constexpr std::array<Name, 14> kNames{{{1, "syntax error"},
                                                  {3, "device not accessible"},
                                                  {4, "invalid link identifier"},
                                                  {5, "parameter error"},
                                                  {6, "channel not established"},
                                                  {8, "operation not supported"},
                                                  {9, "out of resources"},
                                                  {11, "device locked by another link"},
                                                  {12, "no lock held by this link"},
                                                  {15, "I/O timeout"},
                                                  {17, "I/O error"},
                                                  {21, "invalid address"},
                                                  {23, "abort"},
                                                  {29, "channel already established"}}};
    const auto* name =
        std::find_if(kNames.begin(), kNames.end(), [&](const Name& n) { return n.code == code; });
    const std::string text = name == kNames.end() ? "unknown error" : name->text;
    return text + " (VXI-11 error " + std::to_string(code) + ")";
}

ReadResults decodeReadResults(std::string_view results, std::size_t room, std::string& data) {
    // The data go straight into data: room for them is made first, after
    // checking the length the results claim against the bytes they hold.
    constexpr std::size_t kFixedSize = 12;  // error, reason, data length
    if (results.size() < kFixedSize) rpc::detail::failDecoding("device_read");
    const auto* lengthBytes = reinterpret_cast<const unsigned char*>(results.data() + 8);
    const std::size_t length = static_cast<std::size_t>(lengthBytes[0]) << 24 |
                               static_cast<std::size_t>(lengthBytes[1]) << 16 |
                               static_cast<std::size_t>(lengthBytes[2]) << 8 | lengthBytes[3];
    if (length > results.size() - kFixedSize) rpc::detail::failDecoding("device_read");
    if (length > room) {
        throw IoError("device_read: the device sent " + std::to_string(length) + " bytes where " +
                      std::to_string(room) + " were asked for");
    }
    const std::size_t start = data.size();
    data.resize(start + length);
    Device_ReadResp block{};
    block.data.data_val = data.data() + start;
    try {
        rpc::decodeResults(results, xdr_Device_ReadResp, block, "device_read");
    } catch (const IoError&) {
        data.resize(start);
        throw;
    }
    if (block.error != 0) data.resize(start);  // a failed read carries no data
    return {block.error, block.reason};
}

Vxi11Session::Vxi11Session(VxiAddress address, const IoLimits& limits)
    : Session(limits),
      address_(std::move(address)),
      core_("the VXI-11 server", limits.maxReply + kRecordOverhead) {}

RpcChannel::Budget Vxi11Session::ioBudget() const {
    return budgetOf(limits().timeout + kDeviceTimeoutGrace, limits().timeout);
}

void Vxi11Session::checkDeviceError(int error, std::string_view operation) const {
    if (error == 0) return;
    const std::string text = std::string(operation) + ": " + vxi11ErrorText(error);
    if (error == kErrorIoTimeout)
        throw TimeoutError(text + " after " + describeDuration(limits().timeout));
    throw IoError(text);
}

// A device that answers every call at once, but never with the last block,
// would otherwise hold a loop of calls past the deadline.
void Vxi11Session::requireTimeLeft(const RpcChannel::Budget& budget, std::string_view what) const {
    if (std::chrono::steady_clock::now() < budget.deadline) return;
    throw TimeoutError(std::string(what) + " within " + describeDuration(limits().timeout));
}

void Vxi11Session::open() {
    close();
    // One name lookup for both connections, within the one connect bound.
    const auto budget = budgetFrom(limits().connectTimeout);
    const auto host = HostAddresses::lookUp(unbracketedHost(address_.host), budget);
    const auto corePort = askPortmapper(host, budget);
    core_.connect(host, corePort, budget);
    createLink(budget);
}

void Vxi11Session::openOn(int fd, std::uint32_t firstXid) {
    close();
    core_.attach(fd, firstXid);
    createLink(budgetOf(limits().connectTimeout, limits().connectTimeout));
}

std::uint16_t Vxi11Session::askPortmapper(const HostAddresses& host, const RpcChannel::Budget& budget) {
    RpcChannel portmapper("the portmapper", kRecordOverhead);
    portmapper.connect(host, portmapper::kPort, budget);
    const auto port = portmapper.call(portmapper::kProgram, portmapper::kVersion, portmapper::kGetport,
                                      portmapper::kGetportArgumentsSize, portmapper::encodeGetportArguments,
                                      portmapper::decodeGetportResults, budget);
    if (port == 0 || port > 65535) {
        throw IoError("the portmapper at " + host.host() +
                      " knows no VXI-11 core channel (program 0x0607AF version 1 on TCP)" +
                      (port == 0 ? std::string() : ", it named port " + std::to_string(port)));
    }
    return static_cast<std::uint16_t>(port);
}

void Vxi11Session::createLink(const RpcChannel::Budget& budget) {
    std::string device = address_.device;
    Create_LinkParms arguments{};
    arguments.clientId = static_cast<int>(::getpid());
    arguments.lockDevice = 0;
    arguments.lock_timeout = 0;
    arguments.device = device.data();
    const auto link = core_.call(
        DEVICE_CORE, DEVICE_CORE_VERSION, kCreateLink, 32 + device.size(),
        [&](XDR* stream) { return xdr_Create_LinkParms(stream, &arguments) != 0; },
        [](std::string_view results) {
            return decodeDeviceResults(results, xdr_Create_LinkResp, "create_link");
        },
        budget);
    checkDeviceError(link.error, "create_link for device \"" + address_.device + "\"");
    link_ = link.lid;
    // The smallest size a server may name is 1024 bytes; a smaller one would
    // only make more calls, so it is taken as it is.
    maxRecvSize_ = std::clamp<std::size_t>(link.maxRecvSize, 1, limits().maxReply);
}

void Vxi11Session::write(std::string_view message) {
    const auto budget = ioBudget();
    Device_WriteParms arguments{};
    arguments.lid = link_;
    arguments.io_timeout = milliseconds(limits().timeout);
    arguments.lock_timeout = 0;
    do {
        const std::size_t block = std::min(message.size(), maxRecvSize_);
        arguments.flags = block == message.size() ? VXI11_END : 0;
        arguments.data.data_len = static_cast<u_int>(block);
        arguments.data.data_val = const_cast<char*>(message.data());  // only encoded, never written
        const auto written = core_.call(
            DEVICE_CORE, DEVICE_CORE_VERSION, kDeviceWrite, kWriteArgumentsSize + block + 4,
            [&](XDR* stream) { return xdr_Device_WriteParms(stream, &arguments) != 0; },
            [](std::string_view results) {
                return decodeDeviceResults(results, xdr_Device_WriteResp, "device_write");
            },
            budget);
        checkDeviceError(written.error, "device_write");
        if (written.size > block) {
            throw IoError("device_write: the device took " + std::to_string(written.size) +
                          " bytes of a block of " + std::to_string(block));
        }
        // A device may take part of a block; the rest goes again.
        message.remove_prefix(written.size);
        if (!message.empty()) requireTimeLeft(budget, "the device took no more of the command");
    } while (!message.empty());
}

bool Vxi11Session::readBlock(const RpcChannel::Budget& budget) {
    const std::size_t room = limits().maxReply - std::min(pending_.size(), limits().maxReply);
    Device_ReadParms arguments{};
    arguments.lid = link_;
    arguments.requestSize = static_cast<u_int>(std::max<std::size_t>(room, 1));
    arguments.io_timeout = milliseconds(limits().timeout);
    arguments.lock_timeout = 0;
    arguments.flags = VXI11_TERMCHRSET;
    arguments.termChar = '\n';
    const auto block = core_.call(
        DEVICE_CORE, DEVICE_CORE_VERSION, kDeviceRead, 28,
        [&](XDR* stream) { return xdr_Device_ReadParms(stream, &arguments) != 0; },
        [&](std::string_view results) { return decodeReadResults(results, room, pending_); },
        budget);
    checkDeviceError(block.error, "device_read");
    return (block.reason & (VXI11_REASON_END | VXI11_REASON_CHR)) != 0;
}

void Vxi11Session::readReply(std::string& reply) {
    const auto budget = ioBudget();
    if (inOverlongReply_) skipRestOfOverlongReply(budget);
    auto takeLine = [&](bool messageEnded) {
        const auto lf = pending_.find('\n');
        if (lf == std::string::npos) return false;
        reply.assign(pending_, 0, lf + 1);
        pending_.erase(0, lf + 1);
        pendingEndsMessage_ = messageEnded && !pending_.empty();
        return true;
    };
    if (takeLine(pendingEndsMessage_)) return;
    bool ended = pendingEndsMessage_;
    while (!ended) {
        if (pending_.size() >= limits().maxReply) {
            pending_.clear();
            inOverlongReply_ = true;
            throw IoError("reply longer than " + describeSize(limits().maxReply) +
                          " without a line end");
        }
        ended = readBlock(budget);
        if (takeLine(ended)) return;
        if (!ended) requireTimeLeft(budget, "no line end from the device");
    }
    // The device ended its message without a line end: the message is the reply.
    reply.assign(pending_);
    pending_.clear();
    pendingEndsMessage_ = false;
}

void Vxi11Session::skipRestOfOverlongReply(const RpcChannel::Budget& budget) {
    for (;;) {
        const bool ended = readBlock(budget);
        const auto lf = pending_.find('\n');
        if (lf != std::string::npos) {
            pending_.erase(0, lf + 1);
            pendingEndsMessage_ = ended && !pending_.empty();
            break;
        }
        pending_.clear();
        if (ended) break;
        requireTimeLeft(budget, "the rest of an over-long reply did not end");
    }
    inOverlongReply_ = false;
}

void Vxi11Session::discardInput() {
    pending_.clear();
    pendingEndsMessage_ = false;
    inOverlongReply_ = false;
    Device_GenericParms arguments{};
    arguments.lid = link_;
    arguments.flags = 0;
    arguments.lock_timeout = 0;
    arguments.io_timeout = milliseconds(limits().timeout);
    const auto cleared = core_.call(
        DEVICE_CORE, DEVICE_CORE_VERSION, kDeviceClear, 16,
        [&](XDR* stream) { return xdr_Device_GenericParms(stream, &arguments) != 0; },
        [](std::string_view results) {
            return decodeDeviceResults(results, xdr_Device_Error, "device_clear");
        },
        ioBudget());
    checkDeviceError(cleared.error, "device_clear");
}

void Vxi11Session::close() noexcept {
    if (link_ >= 0 && core_.isOpen()) {
        try {
            const auto wait =
                std::min<std::chrono::milliseconds>(limits().connectTimeout, kMaxCloseWait);
            Device_Link link = link_;
            core_.call(
                DEVICE_CORE, DEVICE_CORE_VERSION, kDestroyLink, 4,
                [&](XDR* stream) { return xdr_Device_Link(stream, &link) != 0; },
                [](std::string_view) { return 0; }, budgetOf(wait, wait));
        } catch (...) {
            // Best effort, and nothing may leave a noexcept close (not
            // bad_alloc either): the server drops the link with the connection.
        }
    }
    link_ = -1;
    core_.close();
    pending_.clear();
    pendingEndsMessage_ = false;
    inOverlongReply_ = false;
}

}  // namespace CorvalenLib
