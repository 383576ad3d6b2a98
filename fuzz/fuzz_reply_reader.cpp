// SPDX-License-Identifier: MIT
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
//
// The line is in memory: this target defines recv, read and poll for one
// made-up descriptor and passes every other to the kernel, so that the
// reader runs its real code without a system call or a wait, thousands of
// inputs a second. The line holds at most a scripted number of bytes, so
// that replies still arrive in pieces.
#include <poll.h>
#include <sanitizer/allocator_interface.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/fd_channel.h"
#include "corvalenlib/transports/session.h"
#include "fuzz/fuzz_check.h"

namespace {

using CorvalenLib::FdChannel;
using CorvalenLib::IoError;
using CorvalenLib::TimeoutError;

constexpr std::size_t kMaxScripted = 8 * 1024 * 1024;
// Far above any descriptor the kernel hands out, so never a real one.
constexpr int kLineFd = 0x3FFFFFF0;

// The reader's end of the line, as recv, read and poll see it.
struct Line {
    std::string bytes;
    std::size_t readAt = 0;
    bool hungUp = false;

    [[nodiscard]] std::size_t unread() const { return bytes.size() - readAt; }
    void reset() {
        bytes.clear();
        readAt = 0;
        hungUp = false;
    }
};
Line line;

ssize_t takeFromLine(void* buffer, std::size_t size) {
    if (line.unread() == 0) {
        if (line.hungUp) return 0;
        errno = EAGAIN;  // also what a blocking socket says once its receive time-out ends
        return -1;
    }
    const std::size_t count = std::min(size, line.unread());
    std::memcpy(buffer, line.bytes.data() + line.readAt, count);
    line.readAt += count;
    if (line.readAt == line.bytes.size()) {
        line.bytes.clear();
        line.readAt = 0;
    } else if (line.readAt > 64 * 1024 && line.readAt > line.bytes.size() / 2) {
        line.bytes.erase(0, line.readAt);
        line.readAt = 0;
    }
    return static_cast<ssize_t>(count);
}
constexpr std::size_t kSlack = 16 * 1024;  // exception objects and their texts

// Bytes that leave from the front, without moving the rest each time.
class Fifo {
public:
    [[nodiscard]] std::string_view view() const { return std::string_view(bytes_).substr(at_); }
    [[nodiscard]] std::size_t size() const { return bytes_.size() - at_; }
    void append(std::string_view more) { bytes_.append(more); }
    void drop(std::size_t count) {
        at_ += count;
        if (at_ == bytes_.size()) {
            clear();
        } else if (at_ > 64 * 1024 && at_ > bytes_.size() / 2) {
            bytes_.erase(0, at_);
            at_ = 0;
        }
    }
    // Keeps the memory for the next input: a fresh page costs more than the bytes in it.
    void clear() {
        bytes_.clear();
        at_ = 0;
    }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

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
    Script(std::size_t cap, FdChannel::Kind kind, std::size_t lineCapacity)
        : cap_(cap), lineCapacity_(lineCapacity), channel_(channelFor(cap)) {
        line.reset();
        queued_.clear();
        unread_.clear();
        channel_.attach(kLineFd, kind);  // a fresh reader state; its buffer's memory stays
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
            if (outcome == Outcome::TimedOut && queued_.size() > 0) continue;  // more is on its way
            if (outcome == Outcome::TooLong) {
                TQ_FUZZ_CHECK(unread_.size() >= cap_);
                TQ_FUZZ_CHECK(unread_.view().find('\n') >= cap_);
                unread_.drop(cap_);
                skippingTail_ = true;
                return;
            }
            // Timed out or hung up with nothing more to come: no whole reply
            // may be waiting, and what waits fits under the cap.
            TQ_FUZZ_CHECK(unread_.view().find('\n') == std::string::npos);
            TQ_FUZZ_CHECK(unread_.size() < cap_ || cap_ == 0);
            TQ_FUZZ_CHECK((outcome == Outcome::HungUp) == line.hungUp);
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
        TQ_FUZZ_CHECK(raised == line.hungUp);  // only a hang-up makes discarding fail
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
        const std::size_t lf = unread_.view().find('\n');
        if (lf == std::string::npos) {
            unread_.clear();
            return;
        }
        unread_.drop(lf + 1);
        skippingTail_ = false;
    }

    void checkReply(const std::string& reply) {
        TQ_FUZZ_CHECK(!reply.empty());
        TQ_FUZZ_CHECK(reply.find('\n') == reply.size() - 1);
        TQ_FUZZ_CHECK(reply.size() <= cap_);
        TQ_FUZZ_CHECK(unread_.view().substr(0, reply.size()) == reply);
        unread_.drop(reply.size());
    }

    // Moves queued bytes into the line as far as it takes them.
    void pump() {
        const std::size_t room = lineCapacity_ - std::min(lineCapacity_, line.unread());
        const auto moved = queued_.view().substr(0, room);
        if (!moved.empty()) {
            line.bytes.append(moved);
            unread_.append(moved);
            queued_.drop(moved.size());
        }
        if (hangUp_ && queued_.size() == 0) line.hungUp = true;
    }

    // One reader per cap for the whole run, so that its buffer's pages stay mapped.
    static FdChannel& channelFor(std::size_t cap) {
        static std::map<std::size_t, std::unique_ptr<FdChannel>> channels;
        auto& channel = channels[cap];
        if (!channel) channel = std::make_unique<FdChannel>(cap);
        return *channel;
    }

    std::size_t cap_;
    std::size_t lineCapacity_;
    FdChannel& channel_;
    bool hangUp_ = false;
    bool skippingTail_ = false;  // a reply overran the cap; its tail is still to go
    std::size_t scripted_ = 0;
    // Kept from input to input for their memory.
    static inline Fifo queued_;  // scripted, not yet taken by the line
    static inline Fifo unread_;  // on the line or in the reader, not yet handed out
    long long retained_ = 0;
};

}  // namespace

// The line's descriptor stays in memory; every other goes to the kernel.
extern "C" ssize_t recv(int fd, void* buffer, std::size_t size, int flags) {
    if (fd == kLineFd) return takeFromLine(buffer, size);
    return ::syscall(SYS_recvfrom, fd, buffer, size, flags, nullptr, nullptr);
}

extern "C" ssize_t read(int fd, void* buffer, std::size_t size) {
    if (fd == kLineFd) return takeFromLine(buffer, size);
    return ::syscall(SYS_read, fd, buffer, size);
}

extern "C" int poll(pollfd* entries, nfds_t count, int timeout) {
    if (count == 1 && entries[0].fd == kLineFd) {
        // Ready at once, or "no time left": the reader's deadline has always passed.
        const bool readable = line.unread() > 0 || line.hungUp;
        entries[0].revents = static_cast<short>((readable ? entries[0].events & POLLIN : 0) | (line.hungUp ? POLLHUP : 0) |
                                                (entries[0].events & POLLOUT));
        return entries[0].revents != 0 ? 1 : 0;
    }
    timespec limit{timeout / 1000, (timeout % 1000) * 1000000L};
    return static_cast<int>(::syscall(SYS_ppoll, entries, count, timeout < 0 ? nullptr : &limit, nullptr, 0));
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TQ_FUZZ_CHECK(__sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    const std::uint8_t setup = input.byte();
    // Small caps reach the limit with short inputs and run the same code;
    // one input in eight has the control's own cap, whose megabytes cost
    // more than all the rest of a run.
    const bool controlCap = (setup & 1U) != 0 && (setup & 0x30U) == 0;
    const std::size_t cap = controlCap ? CorvalenLib::IoLimits{}.maxReply : 1U + 4U * input.byte();
    const auto kind = (setup & 2U) != 0 ? FdChannel::Kind::Terminal : FdChannel::Kind::Socket;
    // The line holds an eighth of the cap or up to eight times more: a long
    // reply arrives in pieces, but in few, as each Enter that finds only a
    // piece costs a time-out's exception.
    const std::size_t lineCapacity = (cap / 8 + 256) << (input.byte() % 4);
    Script script(cap, kind, lineCapacity);
    while (!input.empty()) {
        switch (input.byte() % 5) {
        case 0: script.send(input.text(input.byte())); break;
        case 1: {
            // A long run of one byte, up to twice the cap: an instrument that
            // never ends its line. Scaled to the cap, so that a small cap
            // meets the same runs as the control's own in proportion.
            const char filler = static_cast<char>(input.byte());
            const std::size_t length = (1U + input.byte()) * (cap / 128U) + input.byte();
            static std::string run;  // its memory stays from input to input
            run.assign(length, filler);
            script.send(run);
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
