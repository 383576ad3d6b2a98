// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/session.h"

#include "corvalenlib/transports/gpib_session.h"
#include "corvalenlib/transports/serial_session.h"
#include "corvalenlib/transports/socket_session.h"
#include "corvalenlib/transports/vxi11_session.h"
#include "corvalenlib/core/errors.h"

namespace CorvalenLib {

std::unique_ptr<Session> makeSession(const Resource& resource, const IoLimits& limits,
                                     const SerialSettings& serial) {
    if (const auto* socket = std::get_if<SocketAddress>(&resource)) {
        return std::make_unique<SocketSession>(*socket, limits);
    }
    if (const auto* line = std::get_if<SerialAddress>(&resource)) {
        return std::make_unique<SerialSession>(*line, serial, limits);
    }
    if (const auto* gpib = std::get_if<GpibAddress>(&resource)) {
        return std::make_unique<GpibSession>(*gpib, limits);
    }
    if (const auto* vxi = std::get_if<VxiAddress>(&resource)) {
        return std::make_unique<Vxi11Session>(*vxi, limits);
    }
    throw IoError("USB instrument resources are not supported yet");
}

std::string describeSize(std::size_t bytes) {
    if (bytes % (1024 * 1024) == 0) return std::to_string(bytes / (1024 * 1024)) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string describeDuration(std::chrono::milliseconds duration) {
    if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
    return std::to_string(duration.count()) + " ms";
}

}  // namespace CorvalenLib
