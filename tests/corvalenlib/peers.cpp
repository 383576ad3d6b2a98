// SPDX-License-Identifier: MIT
#include "peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace peers {
namespace {

int waitReadable(int fd, std::chrono::milliseconds wait) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(wait.count()));
}

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::to_string(errno));
}

}  // namespace

FdPeer::~FdPeer() { close(); }

void FdPeer::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string FdPeer::receive(std::size_t count, std::chrono::milliseconds wait) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || waitReadable(fd_, left) <= 0) break;
        char chunk[4096];
        const auto want = std::min(sizeof chunk, count - bytes.size());
        const ssize_t got = ::read(fd_, chunk, want);
        if (got <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
}

std::string FdPeer::receiveUntilQuiet(std::chrono::milliseconds quiet) {
    std::string bytes;
    char chunk[4096];
    while (waitReadable(fd_, quiet) > 0) {
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
}

bool FdPeer::stillOpenAfter(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return true;
        if ((entry.revents & (POLLHUP | POLLERR)) != 0 && (entry.revents & POLLIN) == 0) return false;
        char chunk[256];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got <= 0) return false;
    }
}

void FdPeer::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::write(fd_, bytes.data(), bytes.size());
        check(sent > 0, "peer write");
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void FdPeer::sendSlowly(std::string_view bytes, std::chrono::milliseconds pause) {
    for (const char c : bytes) {
        send(std::string_view(&c, 1));
        std::this_thread::sleep_for(pause);
    }
}

std::size_t FdPeer::sendEndlessly(std::size_t total, char fill) {
    // Non-blocking, so that the writer ends soon after the other side stops
    // reading instead of blocking on a full buffer for ever.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    const std::string chunk(8192, fill);
    std::size_t sent = 0;
    while (sent < total) {
        pollfd entry{fd_, POLLOUT, 0};
        if (::poll(&entry, 1, 300) <= 0 || (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
        const ssize_t n = ::send(fd_, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        const ssize_t written = n < 0 && errno == ENOTSOCK ? ::write(fd_, chunk.data(), chunk.size()) : n;
        if (written < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (written <= 0) break;
        sent += static_cast<std::size_t>(written);
    }
    return sent;
}

TcpPeer::TcpPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    check(listener_ >= 0, "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    check(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
    check(::listen(listener_, 4) == 0, "listen");
    socklen_t length = sizeof address;
    check(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0, "getsockname");
    port_ = ntohs(address.sin_port);
}

TcpPeer::~TcpPeer() {
    if (listener_ >= 0) ::close(listener_);
}

std::string TcpPeer::resource() const { return "TCPIP::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

bool TcpPeer::accept(std::chrono::milliseconds wait) {
    if (waitReadable(listener_, wait) <= 0) return false;
    close();
    fd_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return fd_ >= 0;
}

PtyPeer::PtyPeer() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(fd_ >= 0, "posix_openpt");
    check(::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0, "grantpt");
    device_ = ::ptsname(fd_);
    probe_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    check(probe_ >= 0, "open terminal side");
}

PtyPeer::~PtyPeer() {
    if (probe_ >= 0) ::close(probe_);
}

termios PtyPeer::terminalSettings() const {
    termios settings{};
    check(::tcgetattr(probe_, &settings) == 0, "tcgetattr");
    return settings;
}

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace peers
