// SPDX-License-Identifier: MIT
// GPIB boards bound to a controller: with "GPIB0::INTFC=PRLGX-TCPIP::lab-gpib::INTFC"
// among the aliases, GPIB0::9::INSTR is the instrument at address 9 behind
// that Prologix controller. Bindings are looked up like pyvisa-py's GPIB
// dispatch: a board bound to a controller goes there; an unbound board is
// linux-gpib's. Which session serves the controller is the transports' choice.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "corvalenlib/core/aliases.h"
#include "corvalenlib/core/resource.h"

namespace CorvalenLib {

// The controller that instrument's board is bound to among aliases, or
// nullopt for an unbound board. Raises IoError naming the fix for a binding
// that names no controller.
[[nodiscard]] std::optional<Interface> boardController(const GpibAddress& instrument,
                                                       const std::vector<Alias>& aliases);

// The gateway's name for the instrument: "gpib0,9", or "gpib0,9,3" with a
// secondary address.
[[nodiscard]] std::string gatewayDevice(const VxiGateway& gateway, const GpibAddress& instrument);

}  // namespace CorvalenLib
