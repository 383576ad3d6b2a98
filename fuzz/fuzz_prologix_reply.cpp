// SPDX-License-Identifier: MIT
// The Prologix session's reply path fed by a scripted controller: its
// answer to "++ver" at open, then replies of any shape (without line ends,
// longer than the cap, stale lines before the clear's "++ver" answer), and
// the line closed after the script, so that nothing ever waits.
//
// The controller's side drains what the session sends, as a controller does
// (a peer that never reads fills the socket's buffer after a few hundred
// requests, and every later write then waits out its time-out).
//
// Invariants: only IoError comes out; every reply ends at its LF and fits
// the cap; each read asks the controller once ("++read eoi") and each
// discard sends "++clr" and "++ver"; until the first discard or refused
// reply, the version line and the replies are the script's bytes in order,
// none lost or repeated.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "corvalenlib/transports/prologix_session.h"
#include "fuzz/fuzz_check.h"
#include "corvalenlib/core/errors.h"

namespace {

using namespace std::chrono_literals;
using CorvalenLib::IoError;

constexpr int kMostReads = 512;

// What the session sent since the last call.
std::string drain(int peer) {
    std::string sent;
    char chunk[4096];
    ssize_t got = 0;
    while ((got = ::recv(peer, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) sent.append(chunk, static_cast<std::size_t>(got));
    return sent;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    CorvalenLib::IoLimits limits;
    limits.maxReply = 8 + input.byte() * 4U;
    limits.timeout = 50ms;
    const int discardAt = input.byte() % 8;  // the read after which the input is discarded; 0: never
    const std::string script(input.rest());

    int ends[2];
    TQ_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) == 0);
    const int peer = ends[1];
    // The whole script is on its way before the session reads, then the
    // line closes: every read ends in data or in "closed", never in a wait.
    TQ_FUZZ_CHECK(::write(peer, script.data(), script.size()) == static_cast<ssize_t>(script.size()));
    ::shutdown(peer, SHUT_WR);

    CorvalenLib::PrologixSession session(CorvalenLib::PrologixController{CorvalenLib::SocketAddress{0, "h", 1}},
                                         CorvalenLib::GpibAddress{0, 9, {}}, limits);
    std::string seen;  // what the session handed out, while it must equal the script's front
    bool inOrder = true;
    try {
        session.openOn(ends[0], CorvalenLib::FdChannel::Kind::Socket);
        seen = session.controllerVersion();
        TQ_FUZZ_CHECK(seen.find('\n') == std::string::npos);
        const auto lineEnd = script.find('\n');
        TQ_FUZZ_CHECK(lineEnd != std::string::npos && script.compare(0, seen.size(), seen) == 0);
        seen = script.substr(0, lineEnd + 1);
        (void)drain(peer);
        std::string reply;
        for (int read = 1; read <= kMostReads; ++read) {
            try {
                session.readReply(reply);
            } catch (const IoError& error) {
                if (std::string_view(error.what()).find("closed") != std::string_view::npos) throw;
                TQ_FUZZ_CHECK(drain(peer) == "++read eoi\n");
                inOrder = false;  // refused as over-long: its rest is skipped
                continue;
            }
            TQ_FUZZ_CHECK(drain(peer) == "++read eoi\n");
            TQ_FUZZ_CHECK(!reply.empty() && reply.back() == '\n' && reply.size() <= limits.maxReply);
            TQ_FUZZ_CHECK(reply.find('\n') == reply.size() - 1);
            if (inOrder) {
                seen += reply;
                TQ_FUZZ_CHECK(script.compare(0, seen.size(), seen) == 0);
            }
            if (read == discardAt) {
                inOrder = false;
                session.discardInput();
                TQ_FUZZ_CHECK(drain(peer) == "++clr\n++ver\n");
            }
        }
    } catch (const IoError&) {
    }
    session.close();
    ::close(peer);
    return 0;
}
