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

// The smallest NI-488 time-out code (T10us .. T1000s) that is not shorter than
// timeout; the library keeps its own monotonic deadline as well.
int timeoutCode(std::chrono::milliseconds timeout) {
    static constexpr std::array<double, 17> kSeconds{10e-6, 30e-6, 100e-6, 300e-6, 1e-3, 3e-3, 10e-3, 30e-3, 0.1,
                                                     0.3,   1.0,   3.0,    10.0,   30.0, 100.0, 300.0, 1000.0};
    const double seconds = std::chrono::duration<double>(timeout).count();
    const auto* code = std::find_if(kSeconds.begin(), kSeconds.end(), [&](double s) { return s >= seconds; });
    return code == kSeconds.end() ? static_cast<int>(kSeconds.size()) : static_cast<int>(code - kSeconds.begin()) + 1;
}

}  // namespace

struct GpibSession::Api {
    void* handle = nullptr;
    int (*ibdev)(int, int, int, int, int, int) = nullptr;
    int (*ibwrt)(int, const void*, long) = nullptr;
    int (*ibrd)(int, void*, long) = nullptr;
    int (*ibclr)(int) = nullptr;
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
    const int device = api_->ibdev(address_.board, address_.primary, secondary, timeoutCode(limits().timeout), 1,
                                   kReadEndOnEos | '\n');
    if (device < 0) {
        const int error = api_->lastError();
        api_.reset();
        throw IoError(std::string("ibdev failed: ") + errorName(error));
    }
    device_ = device;
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
        if (std::chrono::steady_clock::now() >= deadline) {
            throw TimeoutError("no line end within " + describeDuration(limits().timeout));
        }
        const long chunk = std::min(static_cast<long>(space.size()), kMaxChunk);
        const int status = api_->ibrd(device_, space.data(), chunk);
        const long count = std::clamp(lastCount(), 0L, chunk);
        buffer_.commit(static_cast<std::size_t>(count));
        if ((status & kStatusError) != 0) fail("ibrd", status);
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
    const int status = api_->ibclr(device_);
    if ((status & kStatusError) != 0) fail("ibclr", status);
}

void GpibSession::close() noexcept {
    if (api_ && device_ >= 0) api_->ibonl(device_, 0);
    device_ = -1;
    api_.reset();
    buffer_.clear();
}

}  // namespace CorvalenLib
