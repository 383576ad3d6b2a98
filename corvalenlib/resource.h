// VISA-style resource strings as typed values.
//
// Accepted forms (keywords in any case, INSTR/SOCKET as shown):
//   GPIB[board]::primary[::secondary][::INSTR]
//   ASRL[n][::INSTR]            n from 1; ASRL1 is /dev/ttyS0
//   ASRL/dev/ttyUSB0[::INSTR]   a device path
//   TCPIP[board]::host::port::SOCKET
//   TCPIP[board]::host[::device]::INSTR        (parsed, not opened yet)
//   USB[board]::vendor::product::serial[::interface]::INSTR   (parsed, not opened yet)
// A host may be an IPv6 address in brackets: TCPIP::[::1]::5025::SOCKET.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace CorvalenLib {

struct GpibAddress {
    int board = 0;
    int primary = 0;
    std::optional<int> secondary;
    bool operator==(const GpibAddress&) const = default;
};

struct SerialAddress {
    std::string device;  // the device path, /dev/ttyS0 for ASRL1
    std::optional<int> number;  // n of ASRLn when the resource names a number
    bool operator==(const SerialAddress&) const = default;
};

struct SocketAddress {
    int board = 0;
    std::string host;
    std::uint16_t port = 0;
    bool operator==(const SocketAddress&) const = default;
};

struct VxiAddress {
    int board = 0;
    std::string host;
    std::string device = "inst0";
    bool operator==(const VxiAddress&) const = default;
};

struct UsbAddress {
    int board = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string serial;
    std::optional<int> interfaceNumber;
    bool operator==(const UsbAddress&) const = default;
};

using Resource = std::variant<GpibAddress, SerialAddress, SocketAddress, VxiAddress, UsbAddress>;

// Parses text strictly; raises IoError naming the text and the expected form.
[[nodiscard]] Resource parseResource(std::string_view text);

// The one spelling of a resource: upper-case keywords, board numbers written
// out, "GPIB0::9::INSTR", "ASRL1::INSTR", "TCPIP0::host::5025::SOCKET".
[[nodiscard]] std::string canonicalName(const Resource& resource);

// "GPIB", "ASRL", "TCPIP" or "USB".
[[nodiscard]] std::string interfaceTypeOf(const Resource& resource);

}  // namespace CorvalenLib
