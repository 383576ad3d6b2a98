// SPDX-License-Identifier: MIT
#include "corvalenlib/board_binding.h"

#include <variant>

#include "corvalenlib/prologix_session.h"
#include "io/corvalen.h"

namespace CorvalenLib {
namespace {

Interface controllerOf(const Alias& binding, int board) {
    try {
        return parseInterface(binding.resource);
    } catch (const IoError& error) {
        throw IoError("board GPIB" + std::to_string(board) + " is bound to \"" + binding.resource + "\" (" +
                      binding.origin + "), which names no controller: " + error.what() + ". Bind GPIB" +
                      std::to_string(board) +
                      "::INTFC to PRLGX-ASRL/dev/ttyUSB0::INTFC, PRLGX-TCPIP::<host>::INTFC or "
                      "TCPIP::<gateway>::gpib0::INTFC there, or remove the line to use linux-gpib");
    }
}

// The gateway's name for the instrument: "gpib0,9", or "gpib0,9,3" with a
// secondary address.
std::string gatewayDevice(const VxiGateway& gateway, const GpibAddress& instrument) {
    std::string device = gateway.device + "," + std::to_string(instrument.primary);
    if (instrument.secondary) device += "," + std::to_string(*instrument.secondary);
    return device;
}

}  // namespace

std::unique_ptr<Session> makeBoundSession(const Resource& resource, const std::vector<Alias>& aliases,
                                          const IoLimits& limits, const SerialSettings& serial, std::string& note) {
    note.clear();
    const auto* instrument = std::get_if<GpibAddress>(&resource);
    const Alias* binding = instrument != nullptr ? findBoardBinding(aliases, instrument->board) : nullptr;
    if (binding == nullptr) return makeSession(resource, limits, serial);
    const Interface controller = controllerOf(*binding, instrument->board);
    note = " (board GPIB" + std::to_string(instrument->board) + " bound to " + canonicalName(controller) + ")";
    if (const auto* prologix = std::get_if<PrologixController>(&controller)) {
        return std::make_unique<PrologixSession>(*prologix, *instrument, limits);
    }
    if (const auto* gateway = std::get_if<VxiGateway>(&controller)) {
        return makeSession(VxiAddress{gateway->board, gateway->host, gatewayDevice(*gateway, *instrument)}, limits,
                           serial);
    }
    // Another linux-gpib board: GPIB0::INTFC=GPIB1::INTFC.
    GpibAddress onBoard = *instrument;
    onBoard.board = std::get<GpibBoard>(controller).board;
    return makeSession(onBoard, limits, serial);
}

}  // namespace CorvalenLib
