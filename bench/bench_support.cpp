// SPDX-License-Identifier: MIT
#include "bench_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

namespace tq::bench {
namespace {

constexpr std::size_t kMaxLine = 64 * 1024;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::map<std::string, Samples>& rows() {
    static std::map<std::string, Samples> table;
    return table;
}

void noDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in loopbackAddress(const std::string& host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + host);
    }
    return address;
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::write(fd, bytes.data(), bytes.size());
        if (sent < 0) {
            if (errno == EINTR) continue;
            fail("write");
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

}  // namespace

Samples& Samples::of(const std::string& row) {
    Samples& samples = rows()[row];
    samples.row_ = row;
    return samples;
}

void Samples::reserve(std::size_t count) {
    micros_.reserve(micros_.size() + count);
}

void Samples::add(Clock::duration spent) {
    micros_.push_back(std::chrono::duration<double, std::micro>(spent).count());
}

void Samples::writeAll(std::FILE* out) {
    for (const auto& [row, samples] : rows()) {
        for (const double micros : samples.micros_)
            std::fprintf(out, "%s %.3f\n", row.c_str(), micros);
    }
}

BareStream BareStream::connectTcp(const std::string& host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) fail("socket");
    BareStream stream(fd);
    const sockaddr_in address = loopbackAddress(host, port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        fail("connect to " + host + ":" + std::to_string(port));
    }
    // The control sends every command at once too.
    noDelay(fd);
    return stream;
}

BareStream BareStream::openTerminal(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fail("open " + path);
    BareStream stream(fd);
    termios line{};
    if (::tcgetattr(fd, &line) != 0) fail("tcgetattr " + path);
    ::cfmakeraw(&line);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &line) != 0) fail("tcsetattr " + path);
    ::tcflush(fd, TCIOFLUSH);
    return stream;
}

BareStream::~BareStream() {
    if (fd_ >= 0) ::close(fd_);
}

BareStream::BareStream(BareStream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), pending_(std::move(other.pending_)) {}

void BareStream::send(std::string_view bytes) {
    writeAll(fd_, bytes);
}

void BareStream::readLine(std::string& reply) {
    for (;;) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            reply.assign(pending_, 0, end + 1);
            pending_.erase(0, end + 1);
            return;
        }
        if (pending_.size() > kMaxLine) throw std::runtime_error("reply without a line end");
        char chunk[4096];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail("read");
        if (got == 0) throw std::runtime_error("the peer closed the connection");
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

LineResponder::LineResponder(std::string reply, int cpu) : reply_(std::move(reply)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) fail("socket");
    sockaddr_in address = loopbackAddress("127.0.0.1", 0);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(listener_);
        errno = error;
        fail("listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
    if (cpu >= 0) {
        cpu_set_t only{};
        CPU_ZERO(&only);
        CPU_SET(static_cast<std::size_t>(cpu), &only);
        // Placement is a wish: where it cannot be had, the row still runs.
        ::pthread_setaffinity_np(thread_.native_handle(), sizeof only, &only);
    }
}

LineResponder::~LineResponder() {
    // Wakes an accept that is still waiting when no client came.
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
}

void LineResponder::serve() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    noDelay(fd);
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        std::string answer;
        for (ssize_t i = 0; i < got; ++i) {
            if (chunk[i] == '\n') answer += reply_;
        }
        if (answer.empty()) continue;
        try {
            writeAll(fd, answer);
        } catch (const std::runtime_error&) {
            break;
        }
    }
    ::close(fd);
}

}  // namespace tq::bench
