// SPDX-License-Identifier: MIT
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

// A host as a resource writes it, an IPv6 address in brackets ("[::1]"),
// and as the name service takes it, without them ("::1").
[[nodiscard]] std::string bracketedHost(std::string_view host);
[[nodiscard]] std::string unbracketedHost(std::string_view host);

// "GPIB", "ASRL", "TCPIP" or "USB".
[[nodiscard]] std::string interfaceTypeOf(const Resource& resource);

// Interface resources name a GPIB board or the controller that serves one,
// never an instrument; board bindings are written with them:
//   GPIB[board]::INTFC                      a board (linux-gpib when unbound)
//   PRLGX-TCPIP::host[::port]::INTFC        Prologix GPIB-ETHERNET, port 1234 by default
//   PRLGX-ASRL[n]::INTFC, PRLGX-ASRL/dev/ttyUSB0::INTFC   Prologix GPIB-USB
//   TCPIP[board]::host::gpib<n>::INTFC      a VXI-11 LAN/GPIB gateway's bus
struct GpibBoard {
    int board = 0;
    bool operator==(const GpibBoard&) const = default;
};

struct PrologixController {
    std::variant<SerialAddress, SocketAddress> line;  // the socket's board is always 0
    bool operator==(const PrologixController&) const = default;
};

struct VxiGateway {
    int board = 0;
    std::string host;
    std::string device = "gpib0";  // the gateway's bus; instruments are "<device>,<address>"
    bool operator==(const VxiGateway&) const = default;
};

// The resource string for a serial device path: ASRLn::INSTR for /dev/ttyS(n-1),
// ASRL<path>::INSTR otherwise; a bare name such as ttyUSB0 is taken in /dev.
[[nodiscard]] std::string serialResourceFor(const std::string& port);

using Interface = std::variant<GpibBoard, PrologixController, VxiGateway>;

inline constexpr std::uint16_t kPrologixPort = 1234;

// Parses an interface resource strictly; raises IoError naming the text and
// the expected forms.
[[nodiscard]] Interface parseInterface(std::string_view text);

// "GPIB0::INTFC", "PRLGX-TCPIP::host::1234::INTFC", "PRLGX-ASRL1::INTFC",
// "TCPIP0::host::gpib0::INTFC".
[[nodiscard]] std::string canonicalName(const Interface& interface);

}  // namespace CorvalenLib
