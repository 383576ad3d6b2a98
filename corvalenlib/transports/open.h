// SPDX-License-Identifier: MIT
// The one way a resource name becomes an open session, for the program's
// control, Identify and the public API alike: the alias applied first, then
// the board binding, then the session the resource's kind calls for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "corvalenlib/core/aliases.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {

// How a name was reached.
struct Route {
    std::string alias;       // the alias's resource when name was an alias, else empty
    std::string canonical;   // the canonical name of what was opened
    std::string controller;  // the controller the board is bound to, else empty

    // " (board GPIB0 bound to PRLGX-TCPIP::lab::1234::INTFC)", or empty.
    [[nodiscard]] std::string boardNote() const;
};

// The session for name, not yet opened, with route filled in as far as the
// resolution got. Raises IoError for a malformed name or alias target, a
// binding that names no controller, or a resource kind that cannot be opened.
[[nodiscard]] std::unique_ptr<Session> resolveSession(const std::string& name, const std::vector<Alias>& aliases,
                                                      const IoLimits& limits, const SerialSettings& serial,
                                                      Route& route);

// As resolveSession, and opened.
[[nodiscard]] std::unique_ptr<Session> openSession(const std::string& name, const std::vector<Alias>& aliases,
                                                   const IoLimits& limits, const SerialSettings& serial,
                                                   Route& route);

}  // namespace CorvalenLib
