// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/prologix_session.h"

#include <algorithm>
#include <utility>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/serial_session.h"
#include "corvalenlib/transports/socket_session.h"

namespace CorvalenLib {
namespace {

using namespace std::chrono_literals;

constexpr char kEscape = '\x1b';
constexpr std::string_view kReadRequest = "++read eoi\n";
// The controller's read time-out ranges from 1 to 3000 ms (++read_tmo_ms).
constexpr std::chrono::milliseconds kLongestControllerRead{3000};
// How long after the controller's own read time-out we are sure it has
// given up: its read ends after that much silence on the bus, and the last
// bytes still have to cross USB or the LAN.
constexpr std::chrono::milliseconds kControllerSlack{500};

std::string_view withoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

}  // namespace

void appendPrologixEscaped(std::string& out, std::string_view data) {
    for (const char c : data) {
        if (c == '\r' || c == '\n' || c == kEscape || c == '+') out += kEscape;
        out += c;
    }
}

bool looksLikeQuery(std::string_view message) {
    char quote = 0;
    for (const char c : message) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '?') {
            return true;
        }
    }
    return false;
}

PrologixSession::PrologixSession(PrologixController controller, GpibAddress instrument, const IoLimits& limits)
    : Session(limits), controller_(std::move(controller)), instrument_(instrument), channel_(limits.maxReply) {}

void PrologixSession::open() {
    if (const auto* socket = std::get_if<SocketAddress>(&controller_.line)) {
        openOn(connectTo(*socket, limits().connectTimeout), FdChannel::Kind::Socket);
    } else {
        // A GPIB-USB ignores the line's speed and framing: VISA's defaults do.
        openOn(openSerialLine(std::get<SerialAddress>(controller_.line), SerialSettings{}),
               FdChannel::Kind::Terminal);
    }
}

std::chrono::milliseconds PrologixSession::controllerReadTimeout() const {
    return std::clamp(limits().timeout, std::chrono::milliseconds{1}, kLongestControllerRead);
}

void PrologixSession::appendReadTimeoutIfChanged(std::string& out) {
    if (controllerReadTimeout() == configuredReadTimeout_) return;
    configuredReadTimeout_ = controllerReadTimeout();
    out += "++read_tmo_ms " + std::to_string(configuredReadTimeout_.count()) + "\n";
}

void PrologixSession::openOn(int fd, FdChannel::Kind kind) {
    channel_.attach(fd, kind);
    readsRequested_ = 0;
    configuredReadTimeout_ = {};
    // Settings first, so that a controller that keeps them in its EEPROM
    // (++savecfg 1) does not rewrite it on every open. Controller mode;
    // no read after every write, which would make a SCPI instrument report
    // "Query UNTERMINATED" after each command that is not a query; EOI on
    // the last byte; no terminator added by the controller (++eos 3)
    // because each message already carries its LF, escaped, so that the bus
    // carries exactly the bytes the control wrote; nothing added after a
    // reply (++eot_enable 0), so a reply ends at the instrument's own LF.
    std::string setup = "++savecfg 0\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++eot_enable 0\n";
    appendReadTimeoutIfChanged(setup);
    setup += "++addr " + std::to_string(instrument_.primary);
    // The manual numbers secondary addresses 0 to 30 as 96 to 126.
    if (instrument_.secondary) setup += " " + std::to_string(96 + *instrument_.secondary);
    setup += "\n++ver\n";
    channel_.writeAll(setup, limits().timeout);
    try {
        channel_.readReply(version_, limits().timeout);
    } catch (const TimeoutError&) {
        throw TimeoutError("no answer to ++ver within " + describeDuration(limits().timeout) +
                           ": is a Prologix controller there, and in no other program's hands?");
    }
    version_ = std::string(withoutLineEnd(version_));
    // The device clear finds the end of stale input by this line; an empty
    // one would match the first stale line.
    if (version_.empty()) {
        throw IoError("the controller answered ++ver with an empty line: is a Prologix controller there?");
    }
}

void PrologixSession::write(std::string_view message) {
    outgoing_.clear();
    appendReadTimeoutIfChanged(outgoing_);
    appendPrologixEscaped(outgoing_, message);
    outgoing_ += '\n';
    // One write for the query and the request for its reply: the round trip
    // then costs what a raw socket's does.
    const bool query = looksLikeQuery(message);
    if (query) outgoing_ += kReadRequest;
    channel_.writeAll(outgoing_, limits().timeout);
    if (query) ++readsRequested_;
}

void PrologixSession::requestRead() {
    outgoing_.clear();
    appendReadTimeoutIfChanged(outgoing_);
    outgoing_ += kReadRequest;
    channel_.writeAll(outgoing_, limits().timeout);
}

void PrologixSession::failReadTimeout() const {
    const auto limit = describeDuration(limits().timeout);
    if (channel_.pendingBytes() == 0) throw TimeoutError("no reply within " + limit);
    throw TimeoutError("no line end within " + limit + " (" + std::to_string(channel_.pendingBytes()) +
                       " bytes of the reply received)");
}

void PrologixSession::readReply(std::string& reply) {
    if (readsRequested_ == 0) requestRead();
    else --readsRequested_;
    const auto deadline = std::chrono::steady_clock::now() + limits().timeout;
    // The controller stops reading after read_tmo_ms of silence on the bus;
    // an instrument slower than that still holds its reply, so ask again.
    const auto slice = controllerReadTimeout() + kControllerSlack;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto before = channel_.pendingBytes();
        try {
            channel_.readReply(reply, std::clamp(left, 0ms, slice));
            return;
        } catch (const TimeoutError&) {
            if (std::chrono::steady_clock::now() >= deadline) failReadTimeout();
            if (channel_.pendingBytes() == before) requestRead();
        }
    }
}

void PrologixSession::discardInput() {
    channel_.discardInput();
    readsRequested_ = 0;
    // The selected device clear empties the instrument's queues; the
    // controller's version line then marks where the stale bytes end: a
    // reply to an earlier read may still have been on its way.
    channel_.writeAll("++clr\n++ver\n", limits().timeout);
    const auto deadline = std::chrono::steady_clock::now() + limits().timeout;
    const auto unconfirmed = [&] {
        return TimeoutError("the controller did not confirm the device clear within " +
                            describeDuration(limits().timeout));
    };
    std::string line;
    // The deadline holds however many lines come: a stream of them that never
    // brings the version line must not hold the clear.
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) throw unconfirmed();
        try {
            channel_.readReply(line, left);
        } catch (const TimeoutError&) {
            throw unconfirmed();
        }
        if (withoutLineEnd(line).ends_with(version_)) return;
    }
}

}  // namespace CorvalenLib
