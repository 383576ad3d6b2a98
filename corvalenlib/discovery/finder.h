// SPDX-License-Identifier: MIT
// The parts of the selection dialog's search for instruments: the LAN (VXI-11
// broadcast and mDNS), the listeners of one GPIB board, and the serial ports.
// Each part blocks, bounded by the time-outs of its plan, and reports what it
// finds as soon as it knows it; the dialog runs each off its own thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {

struct FoundEntry {
    enum class Kind { Instrument, Gateway, Controller, SerialPort, Silent };
    Kind kind = Kind::Instrument;
    std::string resource;
    std::string identity;  // the "*IDN?" reply, or what the entry is
};

struct FindPlan {
    std::chrono::milliseconds broadcastWindow{1000};
    std::chrono::milliseconds mdnsWindow{1500};
    IoLimits lanLimits{std::chrono::milliseconds(1000), std::chrono::milliseconds(1000), 64 * 1024};
    // GPIB listeners and instruments behind a gateway: silent addresses are
    // the rule there, so each gets a short time-out.
    std::chrono::milliseconds listenerTimeout{200};
    std::optional<int> gpibBoard;
    std::vector<std::string> serialPorts;
    bool probeSerialPorts = false;  // nothing is written to a serial port otherwise
    std::chrono::milliseconds serialTimeout{500};
    SerialSettings serial;
};

// Where the parts report; called from their threads.
class FindReport {
public:
    virtual ~FindReport() = default;
    virtual void found(const FoundEntry& entry) = 0;
    // A line about the search itself, e.g. that no Avahi daemon runs.
    virtual void note(const std::string& text) = 0;
    // Progress: probes added and probes finished.
    virtual void addWork(int count) = 0;
    virtual void workDone(int count) = 0;
    // True the first time a resource is claimed: parts that reach the same
    // instrument by different ways ask it once.
    virtual bool claim(const std::string& resource) = 0;
    [[nodiscard]] virtual bool cancelled() const = 0;
};

void findOnLan(const FindPlan& plan, FindReport& report);
void findByMdns(const FindPlan& plan, FindReport& report);
void findGpibListeners(const FindPlan& plan, FindReport& report);
void findSerialPorts(const FindPlan& plan, FindReport& report);

// The addresses 1 to 30 a GPIB board's listeners are looked for at.
inline constexpr int kFirstListener = 1;
inline constexpr int kLastListener = 30;

}  // namespace CorvalenLib
