// SPDX-License-Identifier: MIT
// The command line of tq820-sim.
#pragma once

#include "instrument.h"
#include "prologix.h"
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
    bool version = false;
    int replyDelayMs = 0;
    // VXI-11 core channel; a gateway serves the instrument as gpib0,<address>.
    bool vxi11 = false;
    std::string vxi11Host = "127.0.0.1";
    int vxi11Port = 0;
    bool portmapper = false;
    // VXI-11 and portmapper connections that make no call for this long are
    // closed; 0: never.
    int idleTimeoutS = 300;
    bool announce = false;  // DNS-SD through the Avahi daemon
    bool gateway = false;
    int gpibAddress = 9;
    int gpibSecondary = 0;  // as Prologix writes it, 96..126; 0: none
    // Prologix controllers with the instrument on their bus.
    bool prologixTcp = false;
    std::string prologixHost = "127.0.0.1";
    int prologixPort = 1234;
    bool prologixPty = false;
    PrologixFaults prologixFaults;
    long maxRecvSize = 1024;  // announced by create_link; longer device_write data is refused
    long rpcFragment = 0;     // split each RPC reply into fragments of this many bytes
    long readBlock = 0;       // device_read returns at most this many bytes
    // VXI-11 faults, counted over the simulator's lifetime: the Nth device_read
    // answers REQCNT with no data, the Nth RPC reply's record mark claims 4
    // bytes fewer than it carries, the link dies after the Nth device_write.
    long vxi11EmptyRead = 0;
    long vxi11LyingRecord = 0;
    long vxi11DropLink = 0;
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

// "tq820-sim 0.2.0": the project's version, set by its CMake project().
std::string versionText();

}  // namespace tq820sim
