// SPDX-License-Identifier: MIT
// A Prologix GPIB-USB / GPIB-ETHERNET controller with the simulated
// instrument on its bus, after Prologix's user manual: bytes from the host
// in, bytes for the host out. No I/O happens here; the read time-out runs
// on an injected clock, so tests drive it exactly.
//
// What the manual leaves open, decided here:
// - an unknown "++" command, or one with a bad argument, is ignored: no
//   answer, no change (the transcript notes it);
// - the controller's own answers (++addr, ++ver, ...) end in CR LF;
// - ++auto 1 reads as "++read eoi" does;
// - the read time-out starts at 500 ms; an empty line sends nothing;
// - the instrument's reply ends in LF with EOI on it; a reply without line
//   end (a fault) goes without EOI as well;
// - the instrument, addressed to talk with nothing to say, queues -420
//   "Query UNTERMINATED"; sent a new message while a reply waits unread, it
//   drops the reply and queues -410 "Query INTERRUPTED" (IEEE 488.2);
//   addressed to talk while its answer is not ready yet (the late-read
//   fault), it holds off the handshake: no error, the read may time out.
#pragma once

#include "clock.h"
#include "instrument.h"
#include "session.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tq820sim {

struct GpibAddress {
    int primary = 9;
    int secondary = 0;  // 96..126 as Prologix writes it; 0: none
    bool operator==(const GpibAddress&) const = default;
};

// Faults of the controller; the count of reads (++read or automatic) runs
// over the simulator's lifetime.
struct PrologixFaults {
    long dropRead = 0;  // this read is lost: nothing is read, the reply waits
    long lateRead = 0;  // the answer is ready only 2 s past this read's time-out
    long cutRead = 0;   // the connection dies halfway through this read's answer
    long reads = 0;
};

struct PrologixOptions {
    GpibAddress instrument;  // where the instrument listens
    std::string model = "GPIB-USB";
};

// One line for the transcript: kind RX (the instrument received), TX (the
// instrument sent, as the controller read it), CTRL (a controller command
// or what the controller did about it) or FAULT.
struct BusEvent {
    const char* kind;
    std::string text;
};

struct PrologixOutput {
    std::vector<BusEvent> events;
    std::string toHost;
    bool close = false;  // close the connection once toHost is sent
};

class PrologixController {
public:
    static constexpr int kDefaultReadTimeoutMs = 500;
    static constexpr double kLateBy = 2.0;  // seconds past the read time-out
    // Input waiting while the controller reads; more closes the connection.
    static constexpr std::size_t kMaxPending = 1 << 20;

    PrologixController(Instrument& instrument, ConnectionFaults& connectionFaults,
                       PrologixFaults& faults, const Clock& clock, PrologixOptions options);

    // A new host connection: what the last one left half-said or unsent is
    // gone; the settings and the instrument's state stay, as on the device.
    void connect();
    PrologixOutput receive(std::string_view bytes);
    // Finishes what fell due on the clock (a read time-out, a late answer).
    PrologixOutput advance();
    // When advance() has work, in the clock's seconds; nothing when idle.
    [[nodiscard]] std::optional<double> deadline() const;

private:
    enum class ReadEnd { Timeout, Eoi, Character };
    struct Read {
        ReadEnd end;
        char character;
        long count;
    };
    struct Settings {
        bool controllerMode = true;
        GpibAddress address;
        bool autoRead = false;
        bool eoi = true;
        int eos = 0;  // 0 CR LF, 1 CR, 2 LF, 3 nothing
        bool eotEnable = false;
        int eotChar = 0;
        int readTimeoutMs = kDefaultReadTimeoutMs;
        bool saveConfig = true;
    };

    void process(PrologixOutput& out);
    void takeByte(char byte, PrologixOutput& out);
    void endLine(PrologixOutput& out);
    void command(std::string_view text, PrologixOutput& out);
    void sendData(std::string data, PrologixOutput& out);
    void deliver(std::string bytes, PrologixOutput& out);
    void read(ReadEnd end, char character, PrologixOutput& out);
    void awaitAnswer(const Read& request, double timeout, PrologixOutput& out);
    void talk(const Read& request, PrologixOutput& out);
    void answer(const std::string& text, PrologixOutput& out);
    void serialPoll(GpibAddress target, PrologixOutput& out);
    void deviceClear(PrologixOutput& out);
    void waitFor(double seconds);
    void closeConnection(std::string why, PrologixOutput& out);
    [[nodiscard]] bool busy() const;
    [[nodiscard]] bool answerNotReady() const {
        return answerReadyAt_ && clock_.seconds() < *answerReadyAt_;
    }
    [[nodiscard]] bool instrumentAt(const GpibAddress& address) const {
        return address == options_.instrument;
    }
    [[nodiscard]] std::string help() const;

    Instrument& instrument_;
    ConnectionFaults& connectionFaults_;
    PrologixFaults& faults_;
    const Clock& clock_;
    PrologixOptions options_;
    Settings settings_;
    std::optional<Session> listener_;  // the instrument's input side
    std::string talker_;               // the instrument's unread reply
    bool talkerEoi_ = false;           // EOI goes with its last byte
    std::string pending_;              // host bytes not yet taken
    std::string line_;                 // the host line so far, unescaped
    int plusPrefix_ = 0;               // leading unescaped '+' of line_
    bool escaped_ = false;
    std::optional<double> busyUntil_;
    std::optional<Read> waiting_;  // a read that ends when the answer is ready
    std::optional<double> answerReadyAt_;  // the late-read fault's query runs until then
    bool closed_ = false;
};

}  // namespace tq820sim
