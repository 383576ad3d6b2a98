// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/gpib_session.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>

#include "corvalenlib/core/errors.h"

namespace CorvalenLib {
namespace {

// Status bits, error codes and time-out codes of the NI-488 API that
// linux-gpib implements.
constexpr int kStatusError = 0x8000;
constexpr int kStatusTimeout = 0x4000;
constexpr int kStatusEnd = 0x2000;
constexpr int kReadEndOnEos = 0x0400;
constexpr int kSecondaryBase = 0x60;
constexpr int kErrorNoListener = 2;
constexpr int kErrorAborted = 6;
constexpr long kMaxChunk = 64 * 1024;

const char* errorName(int code) {
    static constexpr std::array<const char*, 21> kNames{
        "EDVR (system error)", "ECIC (board is not controller in charge)", "ENOL (no listener on the bus)",
        "EADR (board not addressed correctly)", "EARG (invalid argument)", "ESAC (board is not system controller)",
        "EABO (I/O aborted or timed out)", "ENEB (no such GPIB board)", "EDMA (DMA error)", "error 9",
        "EOIP (asynchronous I/O in progress)", "ECAP (no capability)", "EFSO (file system error)", "error 13",
        "EBUS (bus error)", "ESTB (serial poll queue overflow)", "ESRQ (SRQ stuck on)", "error 17", "error 18",
        "error 19", "ETAB (table problem)"};
    return code >= 0 && code < static_cast<int>(kNames.size()) ? kNames[static_cast<std::size_t>(code)] : "unknown error";
}

// The NI-488 time-out codes that linux-gpib implements: T10us (1) to T1000s
// (17). Code 0, TNONE, waits for ever and is never used.
constexpr std::array<std::chrono::microseconds, 17> kTimeoutCodes{
    std::chrono::microseconds{10},     std::chrono::microseconds{30},      std::chrono::microseconds{100},
    std::chrono::microseconds{300},    std::chrono::microseconds{1'000},   std::chrono::microseconds{3'000},
    std::chrono::microseconds{10'000}, std::chrono::microseconds{30'000},  std::chrono::microseconds{100'000},
    std::chrono::microseconds{300'000}, std::chrono::seconds{1},           std::chrono::seconds{3},
    std::chrono::seconds{10},          std::chrono::seconds{30},           std::chrono::seconds{100},
    std::chrono::seconds{300},         std::chrono::seconds{1000}};

// The smallest code not shorter than limit: the bus waits as long as asked.
int timeoutCodeAtLeast(std::chrono::milliseconds limit) {
    const auto* code = std::find_if(kTimeoutCodes.begin(), kTimeoutCodes.end(),
                                    [&](std::chrono::microseconds wait) { return wait >= limit; });
    return static_cast<int>(code - kTimeoutCodes.begin()) + (code == kTimeoutCodes.end() ? 0 : 1);
}

// The largest code not longer than left, 0 when even T10us is: one ibrd then
// ends by the read's deadline.
int timeoutCodeAtMost(std::chrono::milliseconds left) {
    const auto code = std::find_if(kTimeoutCodes.rbegin(), kTimeoutCodes.rend(),
                                    [&](std::chrono::microseconds wait) { return wait <= left; });
    return static_cast<int>(kTimeoutCodes.rend() - code);
}

}  // namespace

struct GpibSession::Api {
    void* handle = nullptr;
    int (*ibdev)(int, int, int, int, int, int) = nullptr;
    int (*ibwrt)(int, const void*, long) = nullptr;
    int (*ibrd)(int, void*, long) = nullptr;
    int (*ibclr)(int) = nullptr;
    int (*ibtmo)(int, int) = nullptr;
    int (*ibonl)(int, int) = nullptr;
    // Per-thread values where the library has them, the globals otherwise.
    int (*threadIberr)() = nullptr;
    long (*threadIbcntl)() = nullptr;
    const int* iberr = nullptr;
    const long* ibcntl = nullptr;
    const int* ibcnt = nullptr;

    ~Api() {
        if (handle != nullptr) ::dlclose(handle);
    }

    template <typename Function>
    void require(Function& target, const char* name, const std::string& library) {
        target = reinterpret_cast<Function>(::dlsym(handle, name));
        if (target == nullptr) throw IoError(library + " has no " + name + "; is it linux-gpib?");
    }

    template <typename Pointer>
    void optional(Pointer& target, const char* name) {
        target = reinterpret_cast<Pointer>(::dlsym(handle, name));
    }

    [[nodiscard]] int lastError() const {
        if (threadIberr != nullptr) return threadIberr();
        return iberr != nullptr ? *iberr : -1;
    }
};

GpibSession::GpibSession(GpibAddress address, const IoLimits& limits, std::string library)
    : Session(limits), address_(address), library_(std::move(library)), buffer_(limits.maxReply) {}

GpibSession::~GpibSession() { close(); }

void GpibSession::open() {
    auto api = std::make_unique<Api>();
    api->handle = ::dlopen(library_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (api->handle == nullptr) {
        const char* why = ::dlerror();
        throw IoError("GPIB needs linux-gpib, which was not found: cannot load " + library_ + " (" +
                      (why != nullptr ? why : "unknown reason") + ")");
    }
    api->require(api->ibdev, "ibdev", library_);
    api->require(api->ibwrt, "ibwrt", library_);
    api->require(api->ibrd, "ibrd", library_);
    api->require(api->ibclr, "ibclr", library_);
    api->require(api->ibtmo, "ibtmo", library_);
    api->require(api->ibonl, "ibonl", library_);
    api->optional(api->threadIberr, "ThreadIberr");
    api->optional(api->threadIbcntl, "ThreadIbcntl");
    api->optional(api->iberr, "iberr");
    api->optional(api->ibcntl, "ibcntl");
    api->optional(api->ibcnt, "ibcnt");
    if (api->threadIbcntl == nullptr && api->ibcntl == nullptr && api->ibcnt == nullptr) {
        throw IoError(library_ + " has neither ThreadIbcntl nor ibcntl; is it linux-gpib?");
    }
    api_ = std::move(api);

    const int secondary = address_.secondary ? kSecondaryBase + *address_.secondary : 0;
    // Send EOI with the last byte; end reads at LF as well as at EOI.
    const int code = timeoutCodeAtLeast(limits().timeout);
    const int device = api_->ibdev(address_.board, address_.primary, secondary, code, 1, kReadEndOnEos | '\n');
    if (device < 0) {
        const int error = api_->lastError();
        api_.reset();
        throw IoError(std::string("ibdev failed: ") + errorName(error));
    }
    device_ = device;
    deviceCode_ = code;
}

void GpibSession::setDeviceTimeout(int code) {
    if (code == deviceCode_) return;
    const int status = api_->ibtmo(device_, code);
    if ((status & kStatusError) != 0) fail("ibtmo", status);
    deviceCode_ = code;
}

void GpibSession::timeoutChanged() {
    if (device_ >= 0) setDeviceTimeout(timeoutCodeAtLeast(limits().timeout));
}

long GpibSession::lastCount() const {
    if (api_->threadIbcntl != nullptr) return api_->threadIbcntl();
    if (api_->ibcntl != nullptr) return *api_->ibcntl;
    return *api_->ibcnt;
}

void GpibSession::fail(std::string_view call, int status) const {
    const int error = api_->lastError();
    if ((status & kStatusTimeout) != 0 || error == kErrorAborted) {
        throw TimeoutError(std::string(call == "ibwrt" ? "the instrument took no input" : "no reply") +
                           " within " + describeDuration(limits().timeout));
    }
    if (error == kErrorNoListener) {
        throw IoError(std::string(call) + " failed: nothing answers at primary address " +
                      std::to_string(address_.primary) + " (" + errorName(error) + ")");
    }
    throw IoError(std::string(call) + " failed: " + errorName(error));
}

void GpibSession::write(std::string_view message) {
    if (device_ < 0) throw IoError("the connection is closed");
    setDeviceTimeout(timeoutCodeAtLeast(limits().timeout));
    const int status = api_->ibwrt(device_, message.data(), static_cast<long>(message.size()));
    if ((status & kStatusError) != 0) fail("ibwrt", status);
    if (lastCount() != static_cast<long>(message.size())) {
        throw IoError("ibwrt sent " + std::to_string(lastCount()) + " of " + std::to_string(message.size()) +
                      " bytes");
    }
}

void GpibSession::readReply(std::string& reply) {
    if (device_ < 0) throw IoError("the connection is closed");
    if (buffer_.takeReply(reply)) return;
    const auto deadline = std::chrono::steady_clock::now() + limits().timeout;
    for (;;) {
        const auto space = buffer_.freeSpace();
        if (space.empty()) {
            buffer_.clear();
            throw IoError("reply longer than " + std::to_string(buffer_.maxReply()) + " bytes without an end");
        }
        // Each ibrd waits for the device's time-out code, which rounds the
        // limit up (1.1 s waits 3 s); near the deadline a shorter code keeps
        // the read within it.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int code = std::min(timeoutCodeAtLeast(limits().timeout), timeoutCodeAtMost(left));
        if (code == 0) fail("ibrd", kStatusError | kStatusTimeout);
        setDeviceTimeout(code);
        const long chunk = std::min(static_cast<long>(space.size()), kMaxChunk);
        const int status = api_->ibrd(device_, space.data(), chunk);
        const long count = std::clamp(lastCount(), 0L, chunk);
        buffer_.commit(static_cast<std::size_t>(count));
        if ((status & kStatusError) != 0) {
            const bool timedOut = (status & kStatusTimeout) != 0 || api_->lastError() == kErrorAborted;
            if (!timedOut || std::chrono::steady_clock::now() >= deadline) fail("ibrd", status);
        }
        if (buffer_.takeReply(reply)) return;
        if ((status & kStatusEnd) != 0) {
            buffer_.takeAll(reply);  // EOI without LF ends a reply on this bus
            return;
        }
    }
}

void GpibSession::discardInput() {
    if (device_ < 0) throw IoError("the connection is closed");
    buffer_.clear();
    setDeviceTimeout(timeoutCodeAtLeast(limits().timeout));
    const int status = api_->ibclr(device_);
    if ((status & kStatusError) != 0) fail("ibclr", status);
}

void GpibSession::close() noexcept {
    if (api_ && device_ >= 0) api_->ibonl(device_, 0);
    device_ = -1;
    deviceCode_ = 0;
    api_.reset();
    buffer_.clear();
}

}  // namespace CorvalenLib
