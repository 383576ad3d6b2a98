// SPDX-License-Identifier: MIT
// A stand-in for linux-gpib's libgpib.so.0. Each device opened with ibdev is
// a TCP connection to the peer named by TQ_FAKE_GPIB_PEER ("host:port"), so
// that a scripted peer or the simulator plays the instrument. It keeps the
// library's conventions: calls return the status word, ERR/TIMO/END bits,
// ibcntl counts bytes, iberr says why a call failed.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

constexpr int kError = 0x8000;
constexpr int kTimeout = 0x4000;
constexpr int kEnd = 0x2000;
constexpr int kComplete = 0x0100;
constexpr int kErrorSystem = 0;
constexpr int kErrorNoListener = 2;
constexpr int kErrorArgument = 4;
constexpr int kErrorAborted = 6;
constexpr std::size_t kDevices = 8;

struct Device {
    int fd = -1;
    int timeoutMs = 10'000;
};

std::array<Device, kDevices> devices;
thread_local int status = 0;
thread_local int error = 0;
thread_local long count = 0;

struct LastDevice {
    int board, pad, sad, timeout, eot, eos;
};
LastDevice lastDevice{};
int clears = 0;

int finish(int bits, long bytes = 0, int why = 0) {
    status = bits | kComplete;
    count = bytes;
    error = why;
    return status;
}

int timeoutMilliseconds(int code) {
    static constexpr std::array<int, 18> kMs{0, 1, 1, 1, 1, 1, 3, 10, 30, 100, 300, 1000, 3000, 10'000,
                                             30'000, 100'000, 300'000, 1'000'000};
    return code > 0 && code < static_cast<int>(kMs.size()) ? kMs[static_cast<std::size_t>(code)] : 10'000;
}

int connectToPeer() {
    const char* peer = std::getenv("TQ_FAKE_GPIB_PEER");
    if (peer == nullptr) return -1;
    const std::string text = peer;
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return -1;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.substr(0, colon).c_str(), text.substr(colon + 1).c_str(), &hints, &found) != 0) return -1;
    int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    return fd;
}

Device* deviceFor(int ud) {
    if (ud < 0 || ud >= static_cast<int>(kDevices) || devices[static_cast<std::size_t>(ud)].fd < 0) return nullptr;
    return &devices[static_cast<std::size_t>(ud)];
}

}  // namespace

extern "C" {

int ibdev(int board, int pad, int sad, int timeout, int eot, int eos) {
    lastDevice = {board, pad, sad, timeout, eot, eos};
    if (pad < 0 || pad > 30) {
        finish(kError, 0, kErrorArgument);
        return -1;
    }
    for (std::size_t ud = 0; ud < kDevices; ++ud) {
        if (devices[ud].fd >= 0) continue;
        devices[ud].fd = connectToPeer();
        if (devices[ud].fd < 0) break;
        devices[ud].timeoutMs = timeoutMilliseconds(timeout);
        finish(0);
        return static_cast<int>(ud);
    }
    finish(kError, 0, kErrorNoListener);
    return -1;
}

int ibwrt(int ud, const void* data, long length) {
    Device* device = deviceFor(ud);
    if (device == nullptr) return finish(kError, 0, kErrorArgument);
    const auto* bytes = static_cast<const char*>(data);
    long sent = 0;
    while (sent < length) {
        const ssize_t n = ::send(device->fd, bytes + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL);
        if (n <= 0) return finish(kError, sent, kErrorNoListener);
        sent += n;
    }
    return finish(0, sent);
}

int ibrd(int ud, void* buffer, long length) {
    Device* device = deviceFor(ud);
    if (device == nullptr) return finish(kError, 0, kErrorArgument);
    pollfd entry{device->fd, POLLIN, 0};
    if (::poll(&entry, 1, device->timeoutMs) <= 0) return finish(kError | kTimeout, 0, kErrorAborted);
    const ssize_t got = ::recv(device->fd, buffer, static_cast<std::size_t>(length), 0);
    if (got <= 0) return finish(kError, 0, got == 0 ? kErrorNoListener : kErrorSystem);
    // The instrument asserts EOI with its last byte, the line end.
    const bool end = static_cast<const char*>(buffer)[got - 1] == '\n';
    return finish(end ? kEnd : 0, got);
}

int ibtmo(int ud, int timeout) {
    Device* device = deviceFor(ud);
    if (device == nullptr || timeout < 0 || timeout > 17) return finish(kError, 0, kErrorArgument);
    device->timeoutMs = timeoutMilliseconds(timeout);
    return finish(0);
}

int ibclr(int ud) {
    Device* device = deviceFor(ud);
    if (device == nullptr) return finish(kError, 0, kErrorArgument);
    ++clears;
    char scratch[4096];
    while (::recv(device->fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
    return finish(0);
}

int ibonl(int ud, int online) {
    Device* device = deviceFor(ud);
    if (device == nullptr) return finish(kError, 0, kErrorArgument);
    if (online == 0) {
        ::close(device->fd);
        device->fd = -1;
    }
    return finish(0);
}

int ThreadIbsta() { return status; }
int ThreadIberr() { return error; }
long ThreadIbcntl() { return count; }

// For the tests: the arguments of the last ibdev and the number of clears.
void fake_gpib_last_device(int* values) {
    const int copy[] = {lastDevice.board, lastDevice.pad, lastDevice.sad, lastDevice.timeout, lastDevice.eot,
                        lastDevice.eos};
    for (std::size_t i = 0; i < 6; ++i) values[i] = copy[i];
}
int fake_gpib_clears() { return clears; }

}  // extern "C"
