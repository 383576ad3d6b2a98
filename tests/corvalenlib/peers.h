// SPDX-License-Identifier: MIT
// Loopback peers that stand in for an instrument: a TCP listener on
// 127.0.0.1 (port chosen by the system) and a pseudo-terminal pair. Each sees
// the exact bytes the control sends and answers with scripted bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <termios.h>

namespace peers {

using namespace std::chrono_literals;

// One end of a byte stream held by the test.
class FdPeer {
public:
    FdPeer() = default;
    virtual ~FdPeer();
    FdPeer(const FdPeer&) = delete;
    FdPeer& operator=(const FdPeer&) = delete;

    // Exactly count bytes, or fewer when the time runs out first.
    std::string receive(std::size_t count, std::chrono::milliseconds wait = 2s);
    // Everything that arrives until nothing more comes for quiet.
    std::string receiveUntilQuiet(std::chrono::milliseconds quiet = 100ms);
    // False when the other end has closed (end of stream or hang-up) within wait.
    bool stillOpenAfter(std::chrono::milliseconds wait);
    void send(std::string_view bytes);
    // Sends bytes one at a time with a pause between them.
    void sendSlowly(std::string_view bytes, std::chrono::milliseconds pause);
    // Sends up to total bytes of fill (by default no line end); stops
    // quietly when the other end goes away or stops reading.
    std::size_t sendEndlessly(std::size_t total, char fill = 'x');
    void close();

protected:
    int fd_ = -1;
};

class TcpPeer final : public FdPeer {
public:
    TcpPeer();
    ~TcpPeer() override;
    [[nodiscard]] std::uint16_t port() const { return port_; }
    [[nodiscard]] std::string resource() const;
    // Accepts the control's connection; false if none came within wait.
    bool accept(std::chrono::milliseconds wait = 2s);

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
};

class PtyPeer final : public FdPeer {
public:
    PtyPeer();
    ~PtyPeer() override;
    [[nodiscard]] const std::string& device() const { return device_; }
    [[nodiscard]] std::string resource() const { return "ASRL" + device_ + "::INSTR"; }
    // The terminal side's settings, read through a descriptor opened before
    // the control takes the line for itself.
    [[nodiscard]] termios terminalSettings() const;

private:
    std::string device_;
    int probe_ = -1;
};

// Milliseconds since start, for time-bound checks.
[[nodiscard]] long long millisecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace peers
