// SPDX-License-Identifier: MIT
// Asking one resource who it is, as the selection dialog's Identify button
// and its search do: open, "*IDN?", read the reply, close. Blocking, bounded
// by the limits given; callers run it off the GUI thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "corvalenlib/core/aliases.h"
#include "corvalenlib/core/resource.h"
#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {

struct Identity {
    bool answered = false;
    bool timedOut = false;
    // The reply without its line end, or the error with its cause.
    std::string text;
    // How it was reached when not directly: " (alias ...)", " (board GPIB0 bound to ...)".
    std::string route;
    std::chrono::milliseconds took{0};
};

// "*IDN?" to resource as Run would open it: the aliases (variable and file)
// and board bindings applied as the control applies them.
[[nodiscard]] Identity identify(const std::string& resource, const IoLimits& limits, const SerialSettings& serial);

// As identify, with aliases in place of those in force: the selection
// dialog's binding that is on screen but not yet saved.
[[nodiscard]] Identity identifyWith(const std::string& resource, const std::vector<Alias>& aliases,
                                    const IoLimits& limits, const SerialSettings& serial);

// "*IDN?" to resource as it stands, e.g. an address found on the LAN.
[[nodiscard]] Identity identifyResolved(const Resource& resource, const IoLimits& limits,
                                        const SerialSettings& serial);

// The answer of a Prologix GPIB-USB controller to "++ver" on the serial port
// at path, e.g. "Prologix GPIB-USB Controller version 6.107"; nullopt when the
// port does not answer so, within timeout. Writes to the port.
[[nodiscard]] std::optional<std::string> prologixVersionAt(const std::string& path,
                                                          std::chrono::milliseconds timeout);

}  // namespace CorvalenLib
