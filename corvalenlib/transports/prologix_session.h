// SPDX-License-Identifier: MIT
// A GPIB instrument behind a Prologix controller: GPIB-ETHERNET over TCP
// (port 1234) or GPIB-USB over its USB serial port. The controller takes
// "++" commands and passes other lines to the addressed instrument; the
// command table is Prologix's user manual.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "corvalenlib/transports/fd_channel.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {

// Appends data with ESC before each CR, LF, ESC and "+", so that the
// controller passes those bytes on instead of reading them as the end of a
// line or the start of a "++" command.
void appendPrologixEscaped(std::string& out, std::string_view data);

// Whether message asks for a reply: a "?" outside quoted strings, as in
// "*IDN?" or "*RST;*OPC?". Only a guess, used to ask for the reply in the
// same write as the query; a missed query is still read, one write later.
[[nodiscard]] bool looksLikeQuery(std::string_view message);

class PrologixSession final : public Session {
public:
    PrologixSession(PrologixController controller, GpibAddress instrument, const IoLimits& limits);

    void open() override;
    // Sets up the controller on fd, a connected non-blocking descriptor,
    // and takes it over. open() ends here; tests and fuzzing start here.
    void openOn(int fd, FdChannel::Kind kind);
    void write(std::string_view message) override;
    void readReply(std::string& reply) override;
    void discardInput() override;
    void close() noexcept override { channel_.close(); }
    [[nodiscard]] std::string interfaceType() const override { return "GPIB"; }

    // The controller's answer to "++ver", without its line end.
    [[nodiscard]] const std::string& controllerVersion() const { return version_; }

private:
    [[nodiscard]] std::chrono::milliseconds controllerReadTimeout() const;
    void appendReadTimeoutIfChanged(std::string& out);
    void requestRead();
    [[noreturn]] void failReadTimeout() const;

    PrologixController controller_;
    GpibAddress instrument_;
    FdChannel channel_;
    std::string version_;
    std::string outgoing_;  // kept to reuse its memory from command to command
    std::chrono::milliseconds configuredReadTimeout_{0};
    int readsRequested_ = 0;  // "++read eoi" sent with a query, reply not yet taken
};

}  // namespace CorvalenLib
