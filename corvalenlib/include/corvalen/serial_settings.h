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
};

// Written out, so that the public headers need no more than C++17.
inline bool operator==(const SerialSettings& a, const SerialSettings& b) {
    return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.parity == b.parity &&
           a.stopBits == b.stopBits && a.flowControl == b.flowControl;
}
inline bool operator!=(const SerialSettings& a, const SerialSettings& b) { return !(a == b); }

}  // namespace corvalen
