// Resource aliases, as VISA libraries keep them: CORVALEN_IO_ALIASES holds
// "alias=resource" pairs separated by ";", e.g.
//   GPIB0::9::INSTR=TCPIP::127.0.0.1::5025::SOCKET;bench=ASRL/dev/ttyUSB0::INSTR
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace CorvalenLib {

// The resource that name stands for in aliases, or nullopt. An alias that is
// itself a resource string matches every spelling of that resource
// ("gpib0::9::instr" matches "GPIB0::9::INSTR"); other aliases match without
// regard to case. Aliases resolve once: the target is not looked up again.
// Raises IoError for an entry without "=".
[[nodiscard]] std::optional<std::string> lookupAlias(std::string_view aliases, std::string_view name);

}  // namespace CorvalenLib
