// SPDX-License-Identifier: MIT
#include "corvalenlib/core/board_binding.h"

#include "corvalenlib/core/errors.h"

namespace CorvalenLib {

std::optional<Interface> boardController(const GpibAddress& instrument, const std::vector<Alias>& aliases) {
    const Alias* binding = findBoardBinding(aliases, instrument.board);
    if (binding == nullptr) return std::nullopt;
    try {
        return parseInterface(binding->resource);
    } catch (const IoError& error) {
        const std::string board = "GPIB" + std::to_string(instrument.board);
        throw IoError("board " + board + " is bound to \"" + binding->resource + "\" (" + binding->origin +
                      "), which names no controller: " + error.what() + ". Bind " + board +
                      "::INTFC to PRLGX-ASRL/dev/ttyUSB0::INTFC, PRLGX-TCPIP::<host>::INTFC or "
                      "TCPIP::<gateway>::gpib0::INTFC there, or remove the line to use linux-gpib");
    }
}

std::string gatewayDevice(const VxiGateway& gateway, const GpibAddress& instrument) {
    std::string device = gateway.device + "," + std::to_string(instrument.primary);
    if (instrument.secondary) device += "," + std::to_string(*instrument.secondary);
    return device;
}

}  // namespace CorvalenLib
