// SPDX-License-Identifier: MIT
// A VXI-11 instrument (TCPIP::host[::device]::INSTR): a LAN instrument, or a
// GPIB instrument behind a LAN/GPIB gateway (device "gpib0,9").
#pragma once

#include <string>

#include "corvalenlib/transports/rpc_channel.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {

// VXI-11's error codes as error texts: "device not accessible (error 3)".
[[nodiscard]] std::string vxi11ErrorText(int code);

// One device_read answer: its error code and reason bits; its data are
// appended to data. Raises IoError when the results do not decode or hold
// more than room bytes.
struct ReadResults {
    int error = 0;
    int reason = 0;
};
[[nodiscard]] ReadResults decodeReadResults(std::string_view results, std::size_t room,
                                            std::string& data);

class Vxi11Session final : public Session {
public:
    Vxi11Session(VxiAddress address, const IoLimits& limits);
    ~Vxi11Session() override { close(); }

    // Asks the host's portmapper (TCP port 111) for the core channel's port,
    // connects there and creates the link, all within the connect time-out.
    void open() override;
    // Creates the link over fd, a socket connected to the core channel, and
    // takes it over; calls are numbered from firstXid. open() ends the same
    // way; tests and fuzzing start here.
    void openOn(int fd, std::uint32_t firstXid);
    // Sends message in blocks of at most the link's maximum receive size,
    // END on the last.
    void write(std::string_view message) override;
    // One reply: through the first LF or to the device's END, whichever comes
    // first; bytes after the LF stay for the next reply.
    void readReply(std::string& reply) override;
    // A device clear: the instrument drops its pending output, and we ours.
    void discardInput() override;
    // Destroys the link, bounded by the connect time-out, then disconnects.
    void close() noexcept override;
    [[nodiscard]] std::string interfaceType() const override { return "TCPIP"; }

private:
    [[nodiscard]] RpcChannel::Budget ioBudget() const;
    [[nodiscard]] std::uint16_t askPortmapper(const HostAddresses& host, const RpcChannel::Budget& budget);
    void createLink(const RpcChannel::Budget& budget);
    // Reads one block into pending_; true when it ended the message.
    bool readBlock(const RpcChannel::Budget& budget);
    // After a reply over the cap: drops the rest of that message.
    void skipRestOfOverlongReply(const RpcChannel::Budget& budget);
    void checkDeviceError(int error, std::string_view operation) const;
    void requireTimeLeft(const RpcChannel::Budget& budget, std::string_view what) const;

    VxiAddress address_;
    RpcChannel core_;
    int link_ = -1;
    std::size_t maxRecvSize_ = 0;
    std::string pending_;              // received, not yet handed out
    bool pendingEndsMessage_ = false;  // the device's END came after pending_
    bool inOverlongReply_ = false;
};

}  // namespace CorvalenLib
