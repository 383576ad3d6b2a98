// SPDX-License-Identifier: MIT
// GPIB boards bound to a controller: with "GPIB0::INTFC=PRLGX-TCPIP::lab-gpib::INTFC"
// among the aliases, GPIB0::9::INSTR is the instrument at address 9 behind
// that Prologix controller. Bindings are looked up like pyvisa-py's GPIB
// dispatch: a board bound to a controller goes there; an unbound board is
// linux-gpib's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "corvalenlib/aliases.h"
#include "corvalenlib/session.h"

namespace CorvalenLib {

// The session for resource, not yet opened: through its board's controller
// when resource is a GPIB instrument on a bound board, else makeSession's.
// note receives " (board GPIB0 bound to <controller>)" for a bound board and
// is cleared otherwise. Raises IoError naming the fix for a binding that
// names no controller.
[[nodiscard]] std::unique_ptr<Session> makeBoundSession(const Resource& resource, const std::vector<Alias>& aliases,
                                                        const IoLimits& limits, const SerialSettings& serial,
                                                        std::string& note);

}  // namespace CorvalenLib
