// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/serial_session.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "corvalenlib/core/errors.h"

namespace CorvalenLib {
namespace {

struct BaudCode {
    int rate;
    speed_t code;
};

constexpr std::array kBaudCodes{
    BaudCode{300, B300},         BaudCode{600, B600},         BaudCode{1200, B1200},
    BaudCode{1800, B1800},       BaudCode{2400, B2400},       BaudCode{4800, B4800},
    BaudCode{9600, B9600},       BaudCode{19200, B19200},     BaudCode{38400, B38400},
    BaudCode{57600, B57600},     BaudCode{115200, B115200},   BaudCode{230400, B230400},
    BaudCode{460800, B460800},   BaudCode{921600, B921600},
};

speed_t baudCode(int rate) {
    for (const auto& entry : kBaudCodes) {
        if (entry.rate == rate) return entry.code;
    }
    throw IoError("baud rate " + std::to_string(rate) + " is not supported");
}

tcflag_t dataBitsFlag(int bits) {
    switch (bits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        case 8: return CS8;
        default: throw IoError(std::to_string(bits) + " data bits are not supported");
    }
}

}  // namespace

SerialSession::SerialSession(SerialAddress address, const SerialSettings& settings, const IoLimits& limits)
    : Session(limits), address_(std::move(address)), settings_(settings), channel_(limits.maxReply) {}

void applyLineSettings(termios& line, const SerialSettings& settings) {
    ::cfmakeraw(&line);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    line.c_cflag |= CLOCAL | CREAD | dataBitsFlag(settings.dataBits);
    if (settings.parity != Parity::None) {
        line.c_cflag |= PARENB;
        line.c_iflag |= INPCK;
    }
    if (settings.parity == Parity::Odd) line.c_cflag |= PARODD;
    if (settings.stopBits == 2) line.c_cflag |= CSTOPB;
    if (settings.flowControl == FlowControl::RtsCts) line.c_cflag |= CRTSCTS;
    if (settings.flowControl == FlowControl::XonXoff) line.c_iflag |= IXON | IXOFF;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    const speed_t speed = baudCode(settings.baudRate);
    ::cfsetispeed(&line, speed);
    ::cfsetospeed(&line, speed);
}

namespace {

void applySettings(int fd, const SerialAddress& address, const SerialSettings& settings) {
    termios line{};
    if (::tcgetattr(fd, &line) != 0) {
        throw IoError(address.device + " is not a serial line: " + std::strerror(errno));
    }
    applyLineSettings(line, settings);
    if (::tcsetattr(fd, TCSANOW, &line) != 0) {
        throw IoError("cannot set up " + address.device + ": " + std::strerror(errno));
    }
}

}  // namespace

void SerialSession::open() {
    fd_ = openSerialLine(address_, settings_);
    channel_.attach(fd_, FdChannel::Kind::Terminal);
}

int openSerialLine(const SerialAddress& address, const SerialSettings& settings) {
    const int fd = ::open(address.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw IoError("cannot open " + address.device + ": " + std::strerror(errno));
    try {
        if (::isatty(fd) == 0) throw IoError(address.device + " is not a serial line");
        applySettings(fd, address, settings);
        // Keeps a second program from reading our replies; failure is harmless.
        ::ioctl(fd, TIOCEXCL);
        // Bytes from before we opened belong to nobody.
        ::tcflush(fd, TCIOFLUSH);
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

void SerialSession::discardInput() {
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
    channel_.discardInput();
}

void SerialSession::close() noexcept {
    channel_.close();
    fd_ = -1;
}

}  // namespace CorvalenLib
