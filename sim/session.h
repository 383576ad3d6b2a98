// SPDX-License-Identifier: MIT
// One conversation with the instrument: bytes in, reply bytes out. Cuts the
// input into lines, hands each to the shared instrument and applies the
// injected faults that concern the connection. No I/O happens here.
#pragma once

#include "instrument.h"

#include <string>
#include <string_view>
#include <vector>

namespace tq820sim {

// Faults of the conversation; counters run over the simulator's lifetime,
// across connections.
struct ConnectionFaults {
    long closeAfter = 0;    // close the connection after this many lines
    long garbageReply = 0;  // the reply to this query is garbage
    long noLineEnd = 0;     // the reply to this query goes without line end
    long linesReceived = 0;
};

struct Event {
    enum class Kind { Received, Sent, Fault };
    Kind kind;
    std::string text;
};

struct Output {
    std::vector<Event> events;         // in the order they happened
    std::vector<std::string> replies;  // bytes to send, in order
    bool close = false;                // close once the replies are sent
};

class Session {
public:
    static constexpr std::size_t kMaxLine = 64 * 1024;

    Session(Instrument& instrument, ConnectionFaults& faults)
        : instrument_(instrument), faults_(faults) {}
    Output receive(std::string_view bytes);

private:
    void handleLine(std::string_view line, Output& output);
    void sendReply(std::string reply, long firstQuery, long lastQuery, Output& output);

    Instrument& instrument_;
    ConnectionFaults& faults_;
    std::string pending_;
    bool closed_ = false;
};

// A line for the transcript: printable ASCII as it is, everything else (and
// the backslash) as \xNN.
std::string escapeForTranscript(std::string_view text);

}  // namespace tq820sim
