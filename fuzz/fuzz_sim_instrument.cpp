// SPDX-License-Identifier: MIT
// The whole simulated instrument as a client sees it: bytes in, in chunks of
// any size, mixed with the lines the program sends and with jumps of the
// instrument's clock; faults armed from the input as the command line arms
// them.
//
// Invariants: nothing but the reply bytes and their events comes out, and
// nothing at all once the connection is closed; every reply is one line,
// printable ASCII ended by one LF, save the garbage and the missing line end
// that a fault asked for; the transcript's texts are printable; the error
// queue and the reading memory stay within their bounds (and a stalled scan
// within its stall); the stored-reading count it answers is what it holds.
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/clock.h"
#include "sim/instrument.h"
#include "sim/session.h"

namespace {

using tq820sim::Event;

// The lines the measurement program sends, and a few of its neighbours.
const std::vector<std::string> kLines = {
    "*IDN?", "SYSTem:CTYPe? 100", "INSTrument:DMM?", "INSTrument:DMM:INSTalled?", "INSTrument:DMM ON",
    "ABORt", "SYSTem:ERRor?", "*RST;*OPC?", "*CLS", "CONFigure:TEMPerature TCouple, J, (@101:110)",
    "UNIT:TEMPerature C, (@101:110)",
    "SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)",
    "CONFigure:VOLTage:DC 10, (@111:120)", "SENSe:VOLTage:NPLC 1,(@111:120)", "ROUTe:SCAN (@101:120)",
    "ROUTe:CHANnel:DELay 0.25, (@101:120)", "TRIGger:COUNt 2", "TRIGger:SOURce TIMer", "TRIGger:TIMer 10",
    "FORMat:READing:TIME:TYPE RELative", "FORMat:READing:TIME ON", "FORMat:READing:CHANnel ON", "*OPC?",
    "ROUTe:SCAN:SIZE?", "TRIGger:COUNt?", "ROUTe:CHANnel:DELay? (@101)", "TRIGger:TIMer?", "INITiate",
    "SYSTem:DATE?", "SYSTem:TIME?", "DATA:POINTS?", "DATA:REMove? 1", "SYSTem:REMote",
    "TRIGger:COUNt INF", "TRIGger:SOURce IMM", "FORMat:READing:TIME:TYPE ABS", "FORMat:READing:UNIT ON",
    "DATA:REMove? 3", "*ESR?", "*STB?", "CONFigure? (@101,111)"};
constexpr std::size_t kPointsLine = 30;

bool printable(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

class Client {
public:
    explicit Client(tq::fuzz::InputReader& input) : instrument_(clock_, options(input, stallAt_)) {
        faults_.garbageReply = input.byte() % 16;
        faults_.noLineEnd = input.byte() % 16;
        faults_.closeAfter = input.byte() % 64;
    }

    void send(std::string_view bytes, bool askedForPoints = false) {
        const long queriesBefore = instrument_.queryCount();
        const tq820sim::Output output = session_.receive(bytes);
        if (closed_) {
            TQ_FUZZ_CHECK(output.events.empty() && output.replies.empty() && !output.close);
        }
        closed_ = closed_ || output.close;
        const bool faulted = checkReplies(output);
        TQ_FUZZ_CHECK(instrument_.queryCount() >= queriesBefore);
        TQ_FUZZ_CHECK(instrument_.errorQueue().size() <= tq820sim::ErrorQueue::kCapacity);
        if (askedForPoints && !faulted && output.replies.size() == 1) {
            const std::string& reply = output.replies.front();
            const long points = std::strtol(reply.c_str(), nullptr, 10);
            TQ_FUZZ_CHECK(points >= 0 && static_cast<std::size_t>(points) == instrument_.storedReadings());
        }
        checkMemory();
    }

    void sendLine(std::size_t index) {
        send(kLines[index % kLines.size()] + "\n", index % kLines.size() == kPointsLine);
    }

    void advance(double seconds) {
        clock_.advance(seconds);
        checkMemory();
    }

private:
    static tq820sim::InstrumentOptions options(tq::fuzz::InputReader& input, long& stallAt) {
        tq820sim::InstrumentOptions options;
        const std::uint8_t build = input.byte();
        if ((build & 1U) != 0) options.module.clear();
        options.dmmInstalled = (build & 2U) == 0;
        options.dmmOn = (build & 4U) == 0;
        if ((build & 8U) != 0) options.startErrors.push_back(tq820sim::makeError(-113));
        options.seed = input.byte();
        options.stallAt = input.byte() % 64;
        stallAt = options.stallAt;
        options.missingField = input.byte() % 64;
        return options;
    }

    // The replies against their events; true when a fault touched them.
    bool checkReplies(const tq820sim::Output& output) {
        std::size_t sent = 0;
        std::size_t received = 0;
        bool garbage = false;
        bool noLineEnd = false;
        bool faulted = false;
        for (const Event& event : output.events) {
            TQ_FUZZ_CHECK(printable(event.text));
            switch (event.kind) {
            case Event::Kind::Received: ++received; break;
            case Event::Kind::Fault:
                faulted = true;
                garbage = garbage || event.text.find("garbage") != std::string::npos;
                noLineEnd = noLineEnd || event.text.find("without line end") != std::string::npos;
                break;
            case Event::Kind::Sent: {
                TQ_FUZZ_CHECK(sent < output.replies.size());
                const std::string& reply = output.replies[sent++];
                const std::string_view line(reply.data(), reply.size() - (noLineEnd ? 0 : 1));
                TQ_FUZZ_CHECK(noLineEnd || (!reply.empty() && reply.back() == '\n'));
                TQ_FUZZ_CHECK(line.find('\n') == std::string_view::npos);
                TQ_FUZZ_CHECK(garbage || printable(line));
                garbage = false;
                noLineEnd = false;
                break;
            }
            }
        }
        TQ_FUZZ_CHECK(sent == output.replies.size());
        TQ_FUZZ_CHECK(output.replies.size() <= received);  // one reply line per command line at most
        return faulted;
    }

    void checkMemory() {
        const std::size_t stored = instrument_.storedReadings();
        TQ_FUZZ_CHECK(stored <= tq820sim::Instrument::kMemoryCapacity);
        TQ_FUZZ_CHECK(stallAt_ == 0 || stored <= static_cast<std::size_t>(stallAt_));
    }

    long stallAt_ = 0;  // set while the instrument is built
    tq820sim::ManualClock clock_;
    tq820sim::Instrument instrument_;
    tq820sim::ConnectionFaults faults_;
    tq820sim::Session session_{instrument_, faults_};
    bool closed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    Client client(input);
    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        switch (op % 4) {
        case 0: client.send(input.text(input.byte())); break;
        case 1: client.sendLine(input.byte()); break;
        case 2: client.advance((op & 0x80U) != 0 ? 10.0 * input.word() : 0.05 * input.byte()); break;
        default: client.send(input.text(input.word() % 4096)); break;
        }
    }
    return 0;
}
