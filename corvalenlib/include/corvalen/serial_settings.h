// SPDX-License-Identifier: MIT
// Line settings of a serial session; the defaults are VISA's.
#pragma once

namespace corvalen {

enum class Parity { None, Even, Odd };
enum class FlowControl { None, XonXoff, RtsCts };

struct SerialSettings {
    int baudRate = 9600;
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;
    FlowControl flowControl = FlowControl::None;
    bool operator==(const SerialSettings&) const = default;
};

}  // namespace corvalen
