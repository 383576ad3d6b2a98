// SPDX-License-Identifier: MIT
// A serial line (ASRLn::INSTR, ASRL/dev/...::INSTR) through termios: the same
// code serves USB-serial adapters, built-in ports and pseudo-terminals.
#pragma once

#include "corvalenlib/transports/fd_channel.h"
#include "corvalenlib/transports/session.h"

struct termios;

namespace CorvalenLib {

// Raw mode with settings' speed, framing and flow control, on top of line.
// Raises IoError for a baud rate or data bit count the line cannot run.
void applyLineSettings(termios& line, const SerialSettings& settings);

// The line at address opened for reading and writing, non-blocking, set up
// with settings, held exclusively and with stale bytes dropped. Raises IoError.
[[nodiscard]] int openSerialLine(const SerialAddress& address, const SerialSettings& settings);

class SerialSession final : public Session {
public:
    SerialSession(SerialAddress address, const SerialSettings& settings, const IoLimits& limits);

    void open() override;
    void write(std::string_view message) override { channel_.writeAll(message, limits().timeout); }
    void readReply(std::string& reply) override { channel_.readReply(reply, limits().timeout); }
    void discardInput() override;
    void close() noexcept override;
    [[nodiscard]] std::string interfaceType() const override { return "ASRL"; }

private:
    SerialAddress address_;
    SerialSettings settings_;
    FdChannel channel_;
    int fd_ = -1;
};

}  // namespace CorvalenLib
