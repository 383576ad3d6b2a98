// SPDX-License-Identifier: MIT
// Instruments that announce themselves by DNS-SD over mDNS, found through the
// Avahi daemon where one runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace CorvalenLib {

struct MdnsService {
    std::string type;     // "_lxi._tcp", "_vxi-11._tcp" or "_scpi-raw._tcp"
    std::string name;     // the instance name it announces
    std::string address;  // IPv4, dotted quad
    std::uint16_t port = 0;
};

// The DNS-SD service types of instruments that we browse for.
inline constexpr const char* kInstrumentServiceTypes[] = {"_lxi._tcp", "_vxi-11._tcp", "_scpi-raw._tcp"};

// Browses for window or until cancelled, reporting each resolved service as
// it comes. Returns a note when no browse could be made (no Avahi daemon).
std::string browseMdns(std::chrono::milliseconds window, const std::atomic<bool>& cancelled,
                       const std::function<void(const MdnsService&)>& found);

}  // namespace CorvalenLib
