// SPDX-License-Identifier: MIT
// The portmapper's GETPORT for the VXI-11 core channel on TCP: the one call
// the VXI-11 session makes of a host and discovery broadcasts to a LAN.
#pragma once

#include <rpc/xdr.h>

#include <cstdint>
#include <string_view>

namespace CorvalenLib::portmapper {

inline constexpr std::uint16_t kPort = 111;
inline constexpr std::uint32_t kProgram = 100000;
inline constexpr std::uint32_t kVersion = 2;
inline constexpr std::uint32_t kGetport = 3;
inline constexpr std::size_t kGetportArgumentsSize = 16;

// GETPORT's arguments: the VXI-11 core program, its version, TCP, port 0.
bool encodeGetportArguments(XDR* stream);

// The port in GETPORT's results, 0 when the program is not registered.
// Raises IoError when the results do not decode.
[[nodiscard]] std::uint32_t decodeGetportResults(std::string_view results);

}  // namespace CorvalenLib::portmapper
