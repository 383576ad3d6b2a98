// The control's reply reader (the byte stream under its socket and serial
// sessions) fed by a scripted instrument: bytes in chunks of any size, long
// runs of one byte, a hang-up, and the input discard that follows a reset.
//
// Invariants: each Enter gives at most one reply: the next bytes of the
// stream through the first LF, never more, never reordered, never lost; it
// times out only when no whole reply has arrived; a reply longer than the
// cap is refused, and the rest of its line, through its LF, never comes out
// as a reply of its own. Memory stays
// bounded by the cap: one Enter allocates at most the buffer and the reply,
// and what the reader keeps between calls never exceeds the cap.
#include <sanitizer/allocator_interface.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "corvalenlib/errors.h"
#include "corvalenlib/fd_channel.h"
#include "corvalenlib/session.h"
#include "fuzz/fuzz_check.h"

namespace {

using CorvalenLib::FdChannel;
using CorvalenLib::IoError;
using CorvalenLib::TimeoutError;

constexpr std::size_t kMaxScripted = 8 * 1024 * 1024;
constexpr std::size_t kSlack = 16 * 1024;  // exception objects and their texts

// Bytes allocated minus bytes freed while a call of the reader runs.
struct Allocations {
    bool counting = false;
    long long live = 0;
    long long peak = 0;
};
Allocations allocations;

void onMalloc(const volatile void*, std::size_t size) {
    if (!allocations.counting) return;
    allocations.live += static_cast<long long>(size);
    allocations.peak = std::max(allocations.peak, allocations.live);
}

void onFree(const volatile void* pointer) {
    if (!allocations.counting || pointer == nullptr) return;
    allocations.live -= static_cast<long long>(__sanitizer_get_allocated_size(pointer));
}

class Counted {
public:
    Counted() { allocations = {true, 0, 0}; }
    ~Counted() { allocations.counting = false; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
};

long long heapBytesOf(const std::string& text) {
    const void* data = text.data();
    return __sanitizer_get_ownership(data) != 0 ? static_cast<long long>(__sanitizer_get_allocated_size(data)) : 0;
}

// The scripted instrument's end of the line and what the reader must see.
class Script {
public:
    Script(std::size_t cap, FdChannel::Kind kind) : cap_(cap), channel_(cap) {
        int ends[2];
        TQ_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) == 0);
        channel_.attach(ends[0], kind);
        peer_ = ends[1];
    }
    ~Script() {
        if (peer_ >= 0) ::close(peer_);
    }
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    void send(std::string_view bytes) {
        if (hangUp_ || scripted_ + bytes.size() > kMaxScripted) return;
        scripted_ += bytes.size();
        queued_.append(bytes);
        pump();
    }

    void hangUp() {
        hangUp_ = true;
        pump();
    }

    void enter() {
        for (;;) {
            pump();
            std::string reply;
            const Outcome outcome = readReply(reply);
            if (skippingTail_) skipTail();
            if (outcome == Outcome::Reply) {
                checkReply(reply);
                return;
            }
            if (outcome == Outcome::TimedOut && !queued_.empty()) continue;  // more is on its way
            if (outcome == Outcome::TooLong) {
                TQ_FUZZ_CHECK(unread_.size() >= cap_);
                TQ_FUZZ_CHECK(unread_.find('\n') >= cap_);
                unread_.erase(0, cap_);
                skippingTail_ = true;
                return;
            }
            // Timed out or hung up with nothing more to come: no whole reply
            // may be waiting, and what waits fits under the cap.
            TQ_FUZZ_CHECK(unread_.find('\n') == std::string::npos);
            TQ_FUZZ_CHECK(unread_.size() < cap_ || cap_ == 0);
            TQ_FUZZ_CHECK((outcome == Outcome::HungUp) == (hangUp_ && queued_.empty()));
            return;
        }
    }

    void discard() {
        bool raised = false;
        {
            const Counted counted;
            try {
                channel_.discardInput();
            } catch (const IoError&) {
                raised = true;
            }
            TQ_FUZZ_CHECK(allocations.peak <= static_cast<long long>(kSlack));
            retained_ += allocations.live;
        }
        TQ_FUZZ_CHECK(raised == (peer_ < 0));  // only a hang-up makes discarding fail
        unread_.clear();
        pump();
    }

private:
    enum class Outcome { Reply, TimedOut, TooLong, HungUp };

    Outcome readReply(std::string& reply) {
        Outcome outcome = Outcome::Reply;
        {
            const Counted counted;
            try {
                channel_.readReply(reply, std::chrono::milliseconds(0));
            } catch (const TimeoutError&) {
                outcome = Outcome::TimedOut;
            } catch (const IoError& error) {
                const std::string_view text = error.what();
                outcome = text.find("reply longer than") == 0 ? Outcome::TooLong : Outcome::HungUp;
            }
            // One call holds at most the buffer and the reply at once.
            TQ_FUZZ_CHECK(allocations.peak <= static_cast<long long>(2 * cap_ + kSlack));
            retained_ += allocations.live;
        }
        retained_ -= heapBytesOf(reply);
        // What the reader keeps between calls is its buffer, at most the cap.
        TQ_FUZZ_CHECK(retained_ <= static_cast<long long>(cap_ + kSlack));
        return outcome;
    }

    // After a reply over the cap the reader drops the rest of that line,
    // through its LF, before it looks for the next reply; it drains the line
    // while it looks, so with no LF in sight everything on the line is gone.
    void skipTail() {
        const std::size_t lf = unread_.find('\n');
        if (lf == std::string::npos) {
            unread_.clear();
            return;
        }
        unread_.erase(0, lf + 1);
        skippingTail_ = false;
    }

    void checkReply(const std::string& reply) {
        TQ_FUZZ_CHECK(!reply.empty());
        TQ_FUZZ_CHECK(reply.find('\n') == reply.size() - 1);
        TQ_FUZZ_CHECK(reply.size() <= cap_);
        TQ_FUZZ_CHECK(unread_.compare(0, reply.size(), reply) == 0);
        unread_.erase(0, reply.size());
    }

    // Moves queued bytes into the line as far as it takes them.
    void pump() {
        while (!queued_.empty() && peer_ >= 0) {
            const ssize_t sent = ::send(peer_, queued_.data(), queued_.size(), MSG_NOSIGNAL);
            if (sent < 0) {
                TQ_FUZZ_CHECK(errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
                if (errno != EINTR) break;
                continue;
            }
            unread_.append(queued_, 0, static_cast<std::size_t>(sent));
            queued_.erase(0, static_cast<std::size_t>(sent));
        }
        if (hangUp_ && queued_.empty() && peer_ >= 0) {
            ::close(peer_);
            peer_ = -1;
        }
    }

    std::size_t cap_;
    FdChannel channel_;
    int peer_ = -1;
    bool hangUp_ = false;
    bool skippingTail_ = false;  // a reply overran the cap; its tail is still to go
    std::size_t scripted_ = 0;
    std::string queued_;   // scripted, not yet taken by the line
    std::string unread_;   // on the line or in the reader, not yet handed out
    long long retained_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TQ_FUZZ_CHECK(__sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    const std::uint8_t setup = input.byte();
    // Mostly the control's own cap; small caps reach the limit with short inputs.
    const std::size_t cap = (setup & 1U) != 0 ? CorvalenLib::IoLimits{}.maxReply : 1U + 4U * input.byte();
    const auto kind = (setup & 2U) != 0 ? FdChannel::Kind::Terminal : FdChannel::Kind::Socket;
    Script script(cap, kind);
    while (!input.empty()) {
        switch (input.byte() % 5) {
        case 0: script.send(input.text(input.byte())); break;
        case 1: {
            // A long run of one byte, up to 2 MiB: an instrument that never ends its line.
            const char filler = static_cast<char>(input.byte());
            const std::size_t length = (1U + input.byte()) * 8192U + input.byte();
            script.send(std::string(length, filler));
            break;
        }
        case 2: script.enter(); break;
        case 3: script.discard(); break;
        default: script.hangUp(); break;
        }
    }
    script.enter();
    return 0;
}
