// SPDX-License-Identifier: MIT
// Basic I/O: viWrite sends bytes as one message, viRead hands a reply out in
// pieces of the caller's size and keeps the rest for the next call.
#include "objects.h"

#include <algorithm>
#include <cstring>

namespace corvalen::visa {
namespace {

// A formatted message longer than this goes out before its line end.
constexpr std::size_t kWriteBufferLimit = 1024 * 1024;

}  // namespace

void fillPending(Session& session) {
    if (session.pendingSize() > 0) return;
    session.dropPending();
    session.pending = session.instrument.readRaw();
}

void flushWriteBuffer(Session& session, bool force) {
    if (session.writeBuffer.empty()) return;
    const bool endsMessage = session.writeBuffer.back() == '\n';
    if (!force && !endsMessage && session.writeBufferMode != VI_FLUSH_ON_ACCESS &&
        session.writeBuffer.size() < kWriteBufferLimit) {
        return;
    }
    std::string message;
    message.swap(session.writeBuffer);
    session.instrument.writeRaw(message);
}

// What viRead returns: up to count bytes of the pending reply, ending at the
// termination character when it is enabled.
ViStatus readPending(Session& session, ViPBuf buffer, ViUInt32 count, ViPUInt32 returned) {
    if (count == 0) return VI_SUCCESS_MAX_CNT;
    fillPending(session);
    const char* data = session.pending.data() + session.pendingAt;
    std::size_t n = std::min<std::size_t>(session.pendingSize(), count);
    bool atTermchar = false;
    if (session.termcharEnabled) {
        if (const void* found = std::memchr(data, session.termchar, n)) {
            n = static_cast<std::size_t>(static_cast<const char*>(found) - data) + 1;
            atTermchar = true;
        }
    }
    std::memcpy(buffer, data, n);
    session.pendingAt += n;
    if (returned != nullptr) *returned = static_cast<ViUInt32>(n);
    if (atTermchar) return VI_SUCCESS_TERM_CHAR;
    if (session.pendingSize() > 0) return VI_SUCCESS_MAX_CNT;
    return VI_SUCCESS;  // the reply's end: the END indicator
}

}  // namespace corvalen::visa

using namespace corvalen::visa;

extern "C" {

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt != nullptr) *retCnt = 0;
    if (buf == nullptr && cnt > 0) return VI_ERROR_USER_BUF;
    return withSession(vi, [&](Session& session) -> ViStatus { return readPending(session, buf, cnt, retCnt); });
}

ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) { return viRead(vi, buf, cnt, retCnt); }

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt != nullptr) *retCnt = 0;
    if (buf == nullptr && cnt > 0) return VI_ERROR_USER_BUF;
    return withSession(vi, [&](Session& session) -> ViStatus {
        session.instrument.writeRaw(std::string_view(reinterpret_cast<const char*>(buf), cnt));
        if (retCnt != nullptr) *retCnt = cnt;
        return VI_SUCCESS;
    });
}

ViStatus viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt != nullptr) *retCnt = 0;
    if (buf == nullptr && cnt > 0) return VI_ERROR_USER_BUF;
    return withSession(vi, [&](Session& session) -> ViStatus {
        session.writeBuffer.append(reinterpret_cast<const char*>(buf), cnt);
        flushWriteBuffer(session, false);
        if (retCnt != nullptr) *retCnt = cnt;
        return VI_SUCCESS;
    });
}

ViStatus viClear(ViSession vi) {
    return withSession(vi, [](Session& session) -> ViStatus {
        session.dropPending();
        session.writeBuffer.clear();
        session.instrument.clear();
        return VI_SUCCESS;
    });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    const bool bothRead = (mask & VI_READ_BUF) != 0 && (mask & VI_READ_BUF_DISCARD) != 0;
    const bool bothWrite = (mask & VI_WRITE_BUF) != 0 && (mask & VI_WRITE_BUF_DISCARD) != 0;
    if (mask == 0 || (mask & ~0xFFu) != 0 || bothRead || bothWrite) return VI_ERROR_INV_MASK;
    return withSession(vi, [&](Session& session) -> ViStatus {
        if ((mask & VI_WRITE_BUF_DISCARD) != 0) session.writeBuffer.clear();
        if ((mask & VI_WRITE_BUF) != 0) flushWriteBuffer(session, true);
        // A reply is read whole, so the rest of it is all there is to drop.
        if ((mask & (VI_READ_BUF | VI_READ_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_IN_BUF_DISCARD)) != 0) {
            session.dropPending();
        }
        return VI_SUCCESS;
    });
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
    constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF;
    if (mask == 0 || (mask & ~kKnown) != 0) return VI_ERROR_INV_MASK;
    (void)size;
    return withSession(vi, [&](Session&) -> ViStatus {
        // The formatted buffers grow as needed; the line's own buffers are
        // the operating system's.
        return (mask & (VI_IO_IN_BUF | VI_IO_OUT_BUF)) != 0 ? VI_WARN_NSUP_BUF : VI_SUCCESS;
    });
}

// The C++ API has no serial poll and no trigger: refused for every transport.
ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
    if (status != nullptr) *status = 0;
    return withSession(vi, [](Session&) -> ViStatus { return VI_ERROR_NSUP_OPER; });
}

ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol) {
    (void)protocol;
    return withSession(vi, [](Session&) -> ViStatus { return VI_ERROR_NSUP_OPER; });
}

}  // extern "C"
