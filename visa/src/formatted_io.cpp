// SPDX-License-Identifier: MIT
// viPrintf, viScanf, viQueryf and their string and va_list forms: the
// format engine of format.cpp over a session's buffers.
#include "format.h"
#include "objects.h"

#include <cstdarg>
#include <cstring>

namespace corvalen::visa {
namespace {

using format::Length;

// The variable arguments of one call, for printing and for scanning: a
// query takes its printf arguments first and its scanf pointers after them.
class VaArguments final : public format::Arguments, public format::Targets {
public:
    explicit VaArguments(va_list list) { va_copy(list_, list); }
    ~VaArguments() override { va_end(list_); }
    VaArguments(const VaArguments&) = delete;
    VaArguments& operator=(const VaArguments&) = delete;

    long long integer(Length length) override {
        switch (length) {
            case Length::Long: return va_arg(list_, long);
            case Length::LongLong: return va_arg(list_, long long);
            default: return va_arg(list_, int);
        }
    }
    unsigned long long unsignedInteger(Length length) override {
        switch (length) {
            case Length::Long: return va_arg(list_, unsigned long);
            case Length::LongLong: return va_arg(list_, unsigned long long);
            default: return va_arg(list_, unsigned int);
        }
    }
    double real(Length length) override {
        if (length == Length::LongDouble) return static_cast<double>(va_arg(list_, long double));
        return va_arg(list_, double);
    }
    const char* text() override { return va_arg(list_, const char*); }
    int number() override { return va_arg(list_, int); }
    void* pointer() override { return va_arg(list_, void*); }
    ViInt32* size() override { return va_arg(list_, ViInt32*); }

private:
    va_list list_;
};

ViStatus printTo(Session& session, const char* writeFmt, VaArguments& arguments) {
    std::string out;
    if (ViStatus status = format::formatOutput(writeFmt, arguments, out); status != VI_SUCCESS) return status;
    session.writeBuffer += out;
    flushWriteBuffer(session, false);
    return VI_SUCCESS;
}

// Reads from the pending reply (one is read when none is pending). One scan
// takes one reply: its rest (the line end after "%d") is dropped, so that
// the next scan starts at the next reply, as programs expect of a query.
ViStatus scanFrom(Session& session, const char* readFmt, VaArguments& targets) {
    flushWriteBuffer(session, true);
    fillPending(session);
    std::size_t consumed = 0;
    const std::string_view input(session.pending.data() + session.pendingAt, session.pendingSize());
    const ViStatus status = format::scanInput(readFmt, input, targets, consumed);
    if (status != VI_SUCCESS) return status;
    (void)consumed;
    session.dropPending();
    return VI_SUCCESS;
}

}  // namespace
}  // namespace corvalen::visa

using namespace corvalen::visa;

extern "C" {

ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, ViVAList params) {
    if (writeFmt == nullptr) return VI_ERROR_INV_FMT;
    VaArguments arguments(params);
    return withSession(vi, [&](Session& session) -> ViStatus { return printTo(session, writeFmt, arguments); });
}

ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...) {
    va_list params;
    va_start(params, writeFmt);
    const ViStatus status = viVPrintf(vi, writeFmt, params);
    va_end(params);
    return status;
}

ViStatus viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ViVAList parms) {
    if (buf == nullptr) return VI_ERROR_USER_BUF;
    if (writeFmt == nullptr) return VI_ERROR_INV_FMT;
    VaArguments arguments(parms);
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (!lookup<Session>(vi)) return VI_ERROR_INV_OBJECT;
        std::string out;
        if (ViStatus status = format::formatOutput(writeFmt, arguments, out); status != VI_SUCCESS) return status;
        std::memcpy(buf, out.c_str(), out.size() + 1);
        return VI_SUCCESS;
    });
}

ViStatus viSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ...) {
    va_list params;
    va_start(params, writeFmt);
    const ViStatus status = viVSPrintf(vi, buf, writeFmt, params);
    va_end(params);
    return status;
}

ViStatus viVScanf(ViSession vi, ViConstString readFmt, ViVAList arglist) {
    if (readFmt == nullptr) return VI_ERROR_INV_FMT;
    VaArguments targets(arglist);
    return withSession(vi, [&](Session& session) -> ViStatus { return scanFrom(session, readFmt, targets); });
}

ViStatus viScanf(ViSession vi, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus status = viVScanf(vi, readFmt, params);
    va_end(params);
    return status;
}

ViStatus viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ViVAList arglist) {
    if (buf == nullptr) return VI_ERROR_USER_BUF;
    if (readFmt == nullptr) return VI_ERROR_INV_FMT;
    VaArguments targets(arglist);
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (!lookup<Session>(vi)) return VI_ERROR_INV_OBJECT;
        std::size_t consumed = 0;
        return format::scanInput(readFmt, reinterpret_cast<const char*>(buf), targets, consumed);
    });
}

ViStatus viSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus status = viVSScanf(vi, buf, readFmt, params);
    va_end(params);
    return status;
}

ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ViVAList params) {
    if (writeFmt == nullptr || readFmt == nullptr) return VI_ERROR_INV_FMT;
    VaArguments arguments(params);
    return withSession(vi, [&](Session& session) -> ViStatus {
        if (ViStatus status = printTo(session, writeFmt, arguments); status != VI_SUCCESS) return status;
        return scanFrom(session, readFmt, arguments);
    });
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus status = viVQueryf(vi, writeFmt, readFmt, params);
    va_end(params);
    return status;
}

}  // extern "C"
