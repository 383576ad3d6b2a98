// SPDX-License-Identifier: MIT
#include "corvalenlib/discovery/serial_ports.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace CorvalenLib {
namespace {

// A ttyS node exists for every possible 8250 port; only those with a UART
// behind them report a type.
bool hasUart(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

}  // namespace

std::vector<std::string> systemSerialPorts() {
    std::vector<std::string> ports;
    std::error_code error;
    // Bounded by the kernel's tty table; no entry is read more than once.
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/tty", error)) {
        const std::string name = entry.path().filename().string();
        if (!std::filesystem::exists(entry.path() / "device", error)) continue;  // virtual consoles, ptys
        const std::string path = "/dev/" + name;
        if (!std::filesystem::exists(path, error)) continue;
        if (name.starts_with("ttyS") && !hasUart(path)) continue;
        ports.push_back(path);
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

}  // namespace CorvalenLib
