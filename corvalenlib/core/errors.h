// SPDX-License-Identifier: MIT
// The public failures and line settings under the names the library's own
// code uses.
#pragma once

#include <corvalen/errors.h>
#include <corvalen/serial_settings.h>

namespace CorvalenLib {

using corvalen::IoError;
using corvalen::TimeoutError;

using corvalen::FlowControl;
using corvalen::Parity;
using corvalen::SerialSettings;

}  // namespace CorvalenLib
