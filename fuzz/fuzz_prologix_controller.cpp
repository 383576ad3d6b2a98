// SPDX-License-Identifier: MIT
// The simulated Prologix controller as a host drives it: bytes in chunks of
// any size (controller commands, escapes, data, noise), jumps of its clock
// and new connections, with its read faults armed from the input.
//
// Invariants: nothing comes out of a closed connection until the next one;
// the transcript's texts are printable; a read's wait is never longer than
// the longest read time-out plus the late answer, and once its time has
// come the controller moves on (no wait is ever renewed at the same
// moment); the instrument's error queue stays within its bound.
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/clock.h"
#include "sim/instrument.h"
#include "sim/prologix.h"

namespace {

using tq820sim::PrologixController;
using tq820sim::PrologixOutput;

const std::vector<std::string> kPieces = {
    "++addr 9\n", "++addr 5\n", "++addr 9 96\n", "++addr\n", "++auto 1\n", "++auto 0\n",
    "++eoi 0\n", "++eoi 1\n", "++eos 3\n", "++eos 1\n", "++eos 0\n", "++eot_enable 1\n",
    "++eot_char 10\n", "++read eoi\n", "++read\n", "++read 44\n", "++read_tmo_ms 1\n",
    "++read_tmo_ms 3000\n", "++clr\n", "++spoll\n", "++spoll 9\n", "++mode 0\n", "++mode 1\n",
    "++rst\n", "++ver\n", "++help\n", "++loc\n", "++savecfg\n", "*IDN?\n", "*OPC?\n", "*RST\n",
    "SYSTem:ERRor?\n", "DATA:POINTS?\n", "\x1b+\x1b+ver\n", "\x1b\r", "\x1b\n", "\x1b\x1b", "\r\n",
    "++", "+", "\x1b"};

bool printable(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

class Host {
public:
    explicit Host(tq::fuzz::InputReader& input)
        : controller_(instrument_, connectionFaults_, faults(input), clock_,
                      {{9, (input.byte() & 1U) != 0 ? 96 : 0}, "GPIB-USB"}) {
        connectionFaults_.garbageReply = input.byte() % 16;
        connectionFaults_.noLineEnd = input.byte() % 16;
        connectionFaults_.closeAfter = input.byte() % 64;
    }

    void send(std::string_view bytes) { check(controller_.receive(bytes)); }

    void wait(double seconds) {
        clock_.advance(seconds);
        const auto due = controller_.deadline();
        check(controller_.advance());
        if (due && *due <= clock_.seconds()) {
            const auto next = controller_.deadline();
            TQ_FUZZ_CHECK(!next || *next > *due);
        }
    }

    void reconnect() {
        controller_.connect();
        closed_ = false;
    }

private:
    tq820sim::PrologixFaults& faults(tq::fuzz::InputReader& input) {
        prologixFaults_.dropRead = input.byte() % 8;
        prologixFaults_.lateRead = input.byte() % 8;
        prologixFaults_.cutRead = input.byte() % 16;
        return prologixFaults_;
    }

    void check(const PrologixOutput& out) {
        if (closed_) TQ_FUZZ_CHECK(out.toHost.empty() && out.events.empty() && !out.close);
        closed_ = closed_ || out.close;
        for (const tq820sim::BusEvent& event : out.events) TQ_FUZZ_CHECK(printable(event.text));
        if (const auto due = controller_.deadline()) {
            TQ_FUZZ_CHECK(*due <= clock_.seconds() + 3.0 + PrologixController::kLateBy + 1e-9);
        }
        TQ_FUZZ_CHECK(instrument_.errorQueue().size() <= tq820sim::ErrorQueue::kCapacity);
    }

    tq820sim::ManualClock clock_;
    tq820sim::Instrument instrument_{clock_, {}};
    tq820sim::ConnectionFaults connectionFaults_;
    tq820sim::PrologixFaults prologixFaults_;
    PrologixController controller_;
    bool closed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    Host host(input);
    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        switch (op % 5) {
        case 0: host.send(input.text(input.byte())); break;
        case 1: host.send(kPieces[input.byte() % kPieces.size()]); break;
        case 2: host.wait(0.001 * input.word()); break;
        case 3: host.send(input.text(input.word() % 4096)); break;
        default:
            if ((op & 0x80U) != 0) host.reconnect();
            break;
        }
    }
    return 0;
}
