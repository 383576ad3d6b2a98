// SPDX-License-Identifier: MIT
// The serial ports this machine has, without Qt: USB adapters and modems
// (ttyUSB, ttyACM) and the built-in ports that have a UART behind them.
#pragma once

#include <string>
#include <vector>

namespace CorvalenLib {

// Device paths, "/dev/ttyS0", "/dev/ttyUSB0", in name order.
[[nodiscard]] std::vector<std::string> systemSerialPorts();

}  // namespace CorvalenLib
