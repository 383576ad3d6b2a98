// SPDX-License-Identifier: MIT
// One whole program dialogue (a run of the program as the instrument heard
// it, with the instrument's replies) through the control's reader of each
// transport: the socket and serial byte stream (FdChannel), the VXI-11
// session (RPC records, device_write and device_read, over RpcChannel) and
// the Prologix session (++read). The fuzzer's input picks the transport,
// how the peer's bytes are split (recv chunks, RPC record fragments,
// device_read blocks, empty REQCNT blocks, the link's maximum write) and one
// corruption of the recorded bytes.
//
// No real waits: the peer's whole side of the conversation is written into
// a seqpacket socketpair before the dialogue starts (each packet one recv's
// worth, so the splits survive), then its end is shut; time-outs are zero
// for the byte-stream readers, and the VXI-11 reader always finds bytes or
// the end of the line.
//
// Invariants: every reply the control hands over is the next one the peer
// sent, whole: for the byte streams the next line of the bytes as sent,
// after any corruption; for VXI-11 the next reply of the recording.
// Without corruption the dialogue ends with every reply handed over and no
// error. A byte stream raises an error only when no whole line is left;
// VXI-11 may raise (an IoError) only when its framing was corrupted.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/fd_channel.h"
#include "corvalenlib/transports/prologix_session.h"
#include "corvalenlib/transports/vxi11_session.h"
#include "fuzz/fuzz_check.h"

namespace {

// The harness's own work (building the peer's bytes, the oracle) is left out
// of the coverage, which is the control's, and costs less per input.
#define TQ_HARNESS __attribute__((no_sanitize("coverage")))

using CorvalenLib::FdChannel;
using CorvalenLib::IoError;

struct Exchange {
    std::string_view command;
    std::string_view reply;  // empty: a command without reply
};

// A run of the program over a socket, as recorded by the simulator's
// transcript (the polls for stored readings shown once).
TQ_HARNESS std::vector<Exchange> recordedRun() {
    std::vector<Exchange> run = {
        {"*IDN?", "CORVALEN,TQ820A,MY00000001,1.0"},
        {"SYSTem:CTYPe? 100", "CORVALEN,TQ711A,0,1.0"},
        {"INSTrument:DMM:INSTalled?", "1"},
        {"INSTrument:DMM?", "1"},
        {"ABORt", ""},
        {"SYSTem:ERRor?", "+0,\"No error\""},
        {"*RST;*OPC?", "1"},
        {"CONFigure:TEMPerature TCouple, J, (@101:110)", ""},
        {"UNIT:TEMPerature C, (@101:110)", ""},
        {"SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)", ""},
        {"CONFigure:VOLTage:DC 10, (@111:120)", ""},
        {"SENSe:VOLTage:NPLC 1,(@111:120)", ""},
        {"ROUTe:SCAN (@101:120)", ""},
        {"ROUTe:CHANnel:DELay 0.25, (@101:120)", ""},
        {"TRIGger:COUNt 2", ""},
        {"TRIGger:SOURce TIMer", ""},
        {"TRIGger:TIMer 10", ""},
        {"FORMat:READing:TIME:TYPE RELative", ""},
        {"FORMat:READing:TIME ON", ""},
        {"FORMat:READing:CHANnel ON", ""},
        {"*OPC?", "1"},
        {"ROUTe:SCAN:SIZE?", "+20"},
        {"TRIGger:COUNt?", "+2"},
        {"ROUTe:CHANnel:DELay? (@101)", "+2.50000000E-01"},
        {"TRIGger:TIMer?", "+1.00000000E+01"},
        {"SYSTem:ERRor?", "+0,\"No error\""},
        {"INITiate", ""},
        {"SYSTem:DATE?", "2026,12,09"},
        {"SYSTem:TIME?", "11,42,07.125"},
        {"DATA:POINTS?", "+40"},
    };
    static const std::array<std::string_view, 4> kReadings = {
        "+2.21974610E+01,+000000000.000,101", "-1.38200000E-03,+000000000.250,111",
        "+2.21990000E+01,+000000010.000,110", "+9.91000000E+37,+000000010.250,120"};
    for (std::size_t i = 0; i < 40; ++i) run.push_back({"DATA:REMove? 1", kReadings[i % 4]});
    run.push_back({"SYSTem:ERRor?", "+0,\"No error\""});
    return run;
}

// Each packet is a system call on both sides: enough of them to split any
// reply anywhere, few enough to keep thousands of inputs a second.
constexpr std::size_t kMaxPackets = 192;
constexpr std::size_t kMaxPacket = 4096;
constexpr int kBuffer = 16 * 1024 * 1024;

enum class Transport { Socket, Serial, Vxi11, PrologixTcp, PrologixSerial };

TQ_HARNESS void appendWord(std::string& out, std::uint32_t word) {
    const char bytes[4] = {static_cast<char>(word >> 24), static_cast<char>(word >> 16),
                           static_cast<char>(word >> 8), static_cast<char>(word)};
    out.append(bytes, 4);
}

// The peer's side: the bytes it sends, and which of them may be corrupted
// without changing what a correct reader must hand over (VXI-11 framing).
struct PeerBytes {
    std::string bytes;
    std::vector<std::pair<std::size_t, std::size_t>> framing;  // start, length
    std::size_t framingBytes = 0;

    TQ_HARNESS void addFraming(std::size_t start, std::size_t length) {
        if (length == 0) return;
        framing.emplace_back(start, length);
        framingBytes += length;
    }
    // The index-th framing byte's place in bytes.
    [[nodiscard]] TQ_HARNESS std::size_t framingByte(std::size_t index) const {
        for (const auto& [start, length] : framing) {
            if (index < length) return start + index;
            index -= length;
        }
        return bytes.size();
    }
};

// One RPC reply record to call xid, accepted, with results, in fragments.
TQ_HARNESS void putWord(char* at, std::uint32_t word) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(word >> (24 - 8 * i));
}

TQ_HARNESS void appendReply(PeerBytes& peer, std::uint32_t xid, std::string_view results,
                            tq::fuzz::InputReader& input) {
    // Mark, then xid, REPLY, MSG_ACCEPTED, verifier AUTH_NONE (two words), SUCCESS.
    char header[28] = {};
    putWord(header + 4, xid);
    putWord(header + 8, 1);
    const std::size_t framing = sizeof header + 4;  // with the error code of the results
    const std::size_t recordSize = sizeof header - 4 + results.size();
    // Mostly whole records: an exhausted input must leave a fast dialogue.
    const std::uint8_t split = input.byte();
    if (split < 192) {
        putWord(header, static_cast<std::uint32_t>(recordSize) | 0x80000000U);
        peer.addFraming(peer.bytes.size(), std::min(framing, 4 + recordSize));
        peer.bytes.append(header, sizeof header).append(results);
        return;
    }
    std::string record(header + 4, sizeof header - 4);
    record += results;
    const std::size_t fragment = 1 + split % 16;
    std::size_t at = 0;
    do {
        const std::size_t length = std::min(fragment, record.size() - at);
        const bool last = at + length == record.size();
        peer.addFraming(peer.bytes.size(), 4);
        appendWord(peer.bytes, static_cast<std::uint32_t>(length) | (last ? 0x80000000U : 0U));
        if (at < framing - 4) peer.addFraming(peer.bytes.size(), std::min(framing - 4, at + length) - at);
        peer.bytes.append(record, at, length);
        at += length;
    } while (at < record.size());
}

TQ_HARNESS std::string readResults(std::uint32_t reason, std::string_view data) {
    std::string results;
    appendWord(results, 0);
    appendWord(results, reason);
    appendWord(results, static_cast<std::uint32_t>(data.size()));
    results += data;
    results.append((4 - data.size() % 4) % 4, '\0');
    return results;
}

// The VXI-11 server's replies to the calls a correct client makes for run,
// numbered from xid: create_link, then device_write per block of at most
// maxWrite bytes, then device_read per block of each reply.
TQ_HARNESS PeerBytes vxi11Peer(const std::vector<Exchange>& run, std::uint32_t xid, std::uint32_t maxWrite,
                    tq::fuzz::InputReader& input) {
    PeerBytes peer;
    peer.bytes.reserve(32 * 1024);
    std::string results;
    appendWord(results, 0);
    appendWord(results, 1);  // lid
    appendWord(results, 0);  // abort port
    appendWord(results, maxWrite);
    appendReply(peer, xid++, results, input);
    for (const Exchange& exchange : run) {
        for (std::size_t left = exchange.command.size() + 1; left > 0;) {
            const std::size_t block = std::min<std::size_t>(left, maxWrite);
            results.clear();
            appendWord(results, 0);
            appendWord(results, static_cast<std::uint32_t>(block));
            appendReply(peer, xid++, results, input);
            left -= block;
        }
        if (exchange.reply.empty()) continue;
        const std::string reply = std::string(exchange.reply) + "\n";
        // Blocks of any size, some of them empty REQCNT answers; END and
        // the termination character with the last.
        std::size_t at = 0;
        while (at < reply.size()) {
            const std::uint8_t split = input.byte();
            std::size_t block = split < 128 ? reply.size() - at : split % 8;
            block = std::min(block, reply.size() - at);
            const bool last = at + block == reply.size();
            appendReply(peer, xid++, readResults(last ? 4U | 2U : 1U, reply.substr(at, block)), input);
            at += block;
        }
    }
    return peer;
}

// Changes one byte of the peer's (a framing byte for VXI-11), drops one or
// cuts the rest; false when the input asks for none.
TQ_HARNESS bool corrupt(PeerBytes& peer, bool framingOnly, tq::fuzz::InputReader& input) {
    const std::uint8_t kind = input.byte();
    const std::size_t where = static_cast<std::size_t>(input.word()) << 8 | input.byte();
    const auto value = static_cast<char>(input.byte());
    if (kind < 160 || peer.bytes.empty()) return false;
    if (framingOnly) {
        if (peer.framingBytes == 0) return false;
        const std::size_t at = peer.framingByte(where % peer.framingBytes);
        if (kind < 224) {
            peer.bytes[at] = static_cast<char>(peer.bytes[at] ^ (value == 0 ? 1 : value));
        } else {
            peer.bytes.resize(at);
        }
        return true;
    }
    const std::size_t at = where % peer.bytes.size();
    if (kind < 200)
        peer.bytes[at] = static_cast<char>(peer.bytes[at] ^ (value == 0 ? '\n' : value));
    else if (kind < 224)
        peer.bytes.erase(at, 1);
    else
        peer.bytes.resize(at);
    return true;
}

// The lines of bytes, each through its LF: what a byte-stream reader must
// hand over in order.
TQ_HARNESS std::vector<std::string> linesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    for (std::size_t lf = bytes.find('\n'); lf != std::string_view::npos; lf = bytes.find('\n')) {
        lines.emplace_back(bytes.substr(0, lf + 1));
        bytes.remove_prefix(lf + 1);
    }
    return lines;
}

// A seqpacket socketpair: the control's end and the peer's, which holds the
// peer's bytes as packets of the input's sizes and is then shut.
class Line {
public:
    Line() {
        int ends[2];
        TQ_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) == 0);
        for (const int end : ends) {
            // Room for the whole conversation both ways (forced when allowed):
            // what the control sends stays unread, and its writes never wait.
            if (::setsockopt(end, SOL_SOCKET, SO_SNDBUFFORCE, &kBuffer, sizeof kBuffer) != 0)
                ::setsockopt(end, SOL_SOCKET, SO_SNDBUF, &kBuffer, sizeof kBuffer);
        }
        control_ = ends[0];
        peer_ = ends[1];
    }
    ~Line() {
        if (control_ >= 0) ::close(control_);
        ::close(peer_);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // The control's end, handed over to a reader that closes it.
    int takeControlEnd() { return std::exchange(control_, -1); }

    TQ_HARNESS void send(std::string_view bytes, tq::fuzz::InputReader& input) {
        std::size_t packets = 0;
        while (!bytes.empty()) {
            std::size_t size = std::min(bytes.size(), kMaxPacket);
            if (++packets < kMaxPackets && !input.empty()) {
                // Short packets, or long ones that carry several replies.
                const std::uint8_t pick = input.byte();
                size = std::min<std::size_t>(size, pick < 160 ? 1U + pick % 32U : (pick - 159U) * 97U);
            }
            const ssize_t sent = ::send(peer_, bytes.data(), size, MSG_NOSIGNAL);
            TQ_FUZZ_CHECK(sent == static_cast<ssize_t>(size));  // the buffer holds it all
            bytes.remove_prefix(size);
        }
        ::shutdown(peer_, SHUT_WR);
    }

private:
    int control_ = -1;
    int peer_ = -1;
};

// Zero time-outs, so that no reader ever waits; a cap far above the
// recorded replies but small enough that its buffer costs little per input.
TQ_HARNESS CorvalenLib::IoLimits quickLimits() {
    CorvalenLib::IoLimits limits;
    limits.timeout = std::chrono::milliseconds(0);
    limits.maxReply = 64 * 1024;
    return limits;
}

// command and its LF, in a buffer kept from call to call.
TQ_HARNESS std::string_view withLineEnd(std::string_view command) {
    static std::string line;
    line.assign(command);
    line += '\n';
    return line;
}

TQ_HARNESS void checkLine(const std::string& reply, const std::vector<std::string>& lines, std::size_t& next) {
    TQ_FUZZ_CHECK(next < lines.size());
    TQ_FUZZ_CHECK(reply == lines[next]);
    ++next;
}

// The instrument's replies as a byte stream, after the controller's version
// line for Prologix, and their lines.
struct PlainStream {
    std::string bytes;
    std::vector<std::string> lines;
};

TQ_HARNESS PlainStream plainStream(const std::vector<Exchange>& run, bool prologix) {
    PlainStream plain;
    if (prologix) plain.bytes = "Prologix GPIB-ETHERNET version 1.6.6.0\r\n";
    for (const Exchange& exchange : run) {
        if (!exchange.reply.empty()) plain.bytes.append(exchange.reply).append("\n");
    }
    plain.lines = linesOf(plain.bytes);
    return plain;
}

void runByteStream(Transport transport, const std::vector<Exchange>& run, tq::fuzz::InputReader& input) {
    const bool prologix = transport == Transport::PrologixTcp || transport == Transport::PrologixSerial;
    static const PlainStream plain[2] = {plainStream(run, false), plainStream(run, true)};
    PeerBytes peer;
    peer.bytes = plain[prologix ? 1 : 0].bytes;
    const bool corrupted = corrupt(peer, false, input);
    std::vector<std::string> corruptedLines;
    if (corrupted) corruptedLines = linesOf(peer.bytes);
    const auto& lines = corrupted ? corruptedLines : plain[prologix ? 1 : 0].lines;
    Line line;
    line.send(peer.bytes, input);
    const auto kind =
        transport == Transport::Socket || transport == Transport::PrologixTcp ? FdChannel::Kind::Socket
                                                                               : FdChannel::Kind::Terminal;
    const CorvalenLib::IoLimits limits = quickLimits();
    std::size_t next = 0;
    std::string reply;
    if (prologix) {
        CorvalenLib::PrologixSession session({CorvalenLib::SocketAddress{}}, {0, 9, std::nullopt}, limits);
        // The version line, without its line end, is the controller's version;
        // an empty one is refused, since the device clear looks for it.
        std::string_view version = lines.empty() ? std::string_view() : lines[0];
        while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) version.remove_suffix(1);
        try {
            session.openOn(line.takeControlEnd(), kind);
            TQ_FUZZ_CHECK(!lines.empty() && !version.empty());
            ++next;
            TQ_FUZZ_CHECK(session.controllerVersion() == version);
            for (const Exchange& exchange : run) {
                session.write(withLineEnd(exchange.command));
                if (exchange.reply.empty()) continue;
                session.readReply(reply);
                checkLine(reply, lines, next);
            }
        } catch (const IoError&) {
            if (next == 0 && version.empty()) return;
            TQ_FUZZ_CHECK(corrupted && next >= lines.size());
        }
        TQ_FUZZ_CHECK(corrupted || next == lines.size());
        return;
    }
    FdChannel channel(limits.maxReply);
    channel.attach(line.takeControlEnd(), kind);
    try {
        for (const Exchange& exchange : run) {
            channel.writeAll(withLineEnd(exchange.command), limits.timeout);
            if (exchange.reply.empty()) continue;
            channel.readReply(reply, limits.timeout);
            checkLine(reply, lines, next);
        }
    } catch (const IoError&) {
        TQ_FUZZ_CHECK(corrupted && next >= lines.size());
    }
    TQ_FUZZ_CHECK(corrupted || next == lines.size());
}

void runVxi11(const std::vector<Exchange>& run, tq::fuzz::InputReader& input) {
    const std::uint8_t size = input.byte();
    const std::uint32_t maxWrite = size < 128 ? 1024U : 1U + size % 32U;
    const std::uint32_t firstXid = static_cast<std::uint32_t>(input.word()) << 16 | input.word();
    PeerBytes peer = vxi11Peer(run, firstXid, maxWrite, input);
    const bool corrupted = corrupt(peer, true, input);
    Line line;
    line.send(peer.bytes, input);
    const CorvalenLib::IoLimits limits = quickLimits();
    CorvalenLib::Vxi11Session session({0, "127.0.0.1", "inst0"}, limits);
    std::string reply;
    try {
        session.openOn(line.takeControlEnd(), firstXid);
        for (const Exchange& exchange : run) {
            session.write(withLineEnd(exchange.command));
            if (exchange.reply.empty()) continue;
            session.readReply(reply);
            TQ_FUZZ_CHECK(reply.size() == exchange.reply.size() + 1 && reply.back() == '\n' &&
                          std::string_view(reply).substr(0, exchange.reply.size()) == exchange.reply);
        }
    } catch (const IoError&) {
        TQ_FUZZ_CHECK(corrupted);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<Exchange> run = recordedRun();
    tq::fuzz::InputReader input(data, size);
    const auto transport = static_cast<Transport>(input.byte() % 5);
    if (transport == Transport::Vxi11)
        runVxi11(run, input);
    else
        runByteStream(transport, run, input);
    return 0;
}
