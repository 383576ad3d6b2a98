// SPDX-License-Identifier: MIT
// Resource strings, aliases and board bindings through the public API.
#include <corvalen/corvalen.h>

#include <variant>

#include "corvalenlib/core/alias_file.h"
#include "corvalenlib/core/resource.h"

namespace corvalen {
namespace {

namespace lib = CorvalenLib;

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

ResourceInfo describe(const lib::Resource& resource) {
    ResourceInfo info;
    info.canonical = lib::canonicalName(resource);
    info.interfaceType = lib::interfaceTypeOf(resource);
    info.resourceClass = "INSTR";
    std::visit(Overloaded{
                   [&](const lib::GpibAddress& a) {
                       info.interfaceNumber = a.board;
                       info.primaryAddress = a.primary;
                       info.secondaryAddress = a.secondary.value_or(-1);
                   },
                   [&](const lib::SerialAddress& a) {
                       info.interfaceNumber = a.number.value_or(0);
                       info.device = a.device;
                   },
                   [&](const lib::SocketAddress& a) {
                       info.interfaceNumber = a.board;
                       info.host = a.host;
                       info.port = a.port;
                       info.resourceClass = "SOCKET";
                   },
                   [&](const lib::VxiAddress& a) {
                       info.interfaceNumber = a.board;
                       info.host = a.host;
                       info.device = a.device;
                   },
                   [&](const lib::UsbAddress& a) { info.interfaceNumber = a.board; },
               },
               resource);
    return info;
}

ResourceInfo describe(const lib::Interface& interface) {
    ResourceInfo info;
    info.canonical = lib::canonicalName(interface);
    info.resourceClass = "INTFC";
    std::visit(Overloaded{
                   [&](const lib::GpibBoard& a) {
                       info.interfaceType = "GPIB";
                       info.interfaceNumber = a.board;
                   },
                   [&](const lib::PrologixController& a) {
                       info.interfaceType = "GPIB";
                       info.controller = "PRLGX";
                       if (const auto* socket = std::get_if<lib::SocketAddress>(&a.line)) {
                           info.host = socket->host;
                           info.port = socket->port;
                       } else {
                           info.device = std::get<lib::SerialAddress>(a.line).device;
                       }
                   },
                   [&](const lib::VxiGateway& a) {
                       info.interfaceType = "TCPIP";
                       info.interfaceNumber = a.board;
                       info.host = a.host;
                       info.device = a.device;
                   },
               },
               interface);
    return info;
}

bool namesInterface(std::string_view text) {
    constexpr std::string_view kSuffix = "::INTFC";
    if (text.size() < kSuffix.size()) return false;
    const auto tail = text.substr(text.size() - kSuffix.size());
    for (std::size_t i = 0; i < kSuffix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(tail[i])) != kSuffix[i]) return false;
    }
    return true;
}

}  // namespace

std::string version() { return CORVALEN_VERSION; }

ResourceInfo parseResource(const std::string& resource) {
    try {
        if (namesInterface(resource)) return describe(lib::parseInterface(resource));
        return describe(lib::parseResource(resource));
    } catch (const ResourceError&) {
        throw;
    } catch (const IoError& error) {
        throw ResourceError(error.what());
    }
}

AliasTable aliases() {
    auto loaded = lib::loadAliases();
    AliasTable table;
    for (auto& alias : loaded.aliases) {
        table.entries.push_back({std::move(alias.name), std::move(alias.resource), std::move(alias.origin)});
    }
    table.problems = std::move(loaded.problems);
    table.file = lib::aliasFilePath();
    return table;
}

void bindBoard(int board, const std::string& controller) {
    try {
        (void)lib::parseInterface("GPIB" + std::to_string(board) + "::INTFC");  // the board's range
        // The controller is checked here so that a typing error is refused
        // instead of written to the file.
        if (!controller.empty()) (void)lib::parseInterface(controller);
    } catch (const IoError& error) {
        throw ResourceError(error.what());
    }
    lib::saveBoardBinding(board, controller);
}

}  // namespace corvalen
