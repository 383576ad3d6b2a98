// The command line of tq820-sim.
#pragma once

#include "instrument.h"
#include "session.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace tq820sim {

struct SimulatorOptions {
    bool tcp = false;
    std::string host = "127.0.0.1";
    int port = 5025;
    bool pty = false;
    double speed = 1.0;
    std::string transcript;
    bool help = false;
    int replyDelayMs = 0;
    InstrumentOptions instrument;
    ConnectionFaults faults;
};

class OptionsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name; throws OptionsError with a
// message that names the offending option.
SimulatorOptions parseOptions(const std::vector<std::string>& arguments);

// "-113,\"Undefined header\"" -> {-113, "Undefined header"}
ScpiError parseErrorOption(const std::string& text);

// Lines for the transcript that say which faults are armed.
std::vector<std::string> describeFaults(const SimulatorOptions& options);

std::string usage();

}  // namespace tq820sim
