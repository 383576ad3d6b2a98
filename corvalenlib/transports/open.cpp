// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/open.h"

#include <variant>

#include "corvalenlib/core/board_binding.h"
#include "corvalenlib/transports/prologix_session.h"

namespace CorvalenLib {
namespace {

// The session for an instrument on a board bound to controller.
std::unique_ptr<Session> boundSession(const Interface& controller, const GpibAddress& instrument,
                                      const IoLimits& limits, const SerialSettings& serial) {
    if (const auto* prologix = std::get_if<PrologixController>(&controller)) {
        return std::make_unique<PrologixSession>(*prologix, instrument, limits);
    }
    if (const auto* gateway = std::get_if<VxiGateway>(&controller)) {
        return makeSession(VxiAddress{gateway->board, gateway->host, gatewayDevice(*gateway, instrument)}, limits,
                           serial);
    }
    // Another linux-gpib board: GPIB0::INTFC=GPIB1::INTFC.
    GpibAddress onBoard = instrument;
    onBoard.board = std::get<GpibBoard>(controller).board;
    return makeSession(onBoard, limits, serial);
}

}  // namespace

std::string Route::boardNote() const {
    if (controller.empty()) return {};
    return " (board " + canonical.substr(0, canonical.find("::")) + " bound to " + controller + ")";
}

std::unique_ptr<Session> resolveSession(const std::string& name, const std::vector<Alias>& aliases,
                                        const IoLimits& limits, const SerialSettings& serial, Route& route) {
    route = Route{};
    std::string target = name;
    if (const Alias* alias = findAlias(aliases, name)) {
        target = alias->resource;
        route.alias = target;
    }
    const Resource resource = parseResource(target);
    route.canonical = canonicalName(resource);
    if (const auto* instrument = std::get_if<GpibAddress>(&resource)) {
        if (const auto controller = boardController(*instrument, aliases)) {
            route.controller = canonicalName(*controller);
            return boundSession(*controller, *instrument, limits, serial);
        }
    }
    return makeSession(resource, limits, serial);
}

std::unique_ptr<Session> openSession(const std::string& name, const std::vector<Alias>& aliases,
                                     const IoLimits& limits, const SerialSettings& serial, Route& route) {
    auto session = resolveSession(name, aliases, limits, serial, route);
    session->open();
    return session;
}

}  // namespace CorvalenLib
