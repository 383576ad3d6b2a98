// SPDX-License-Identifier: MIT
// GPIB through linux-gpib, loaded when a GPIB address is opened, so that the
// program builds and runs where linux-gpib is not installed.
#pragma once

#include <memory>

#include "corvalenlib/transports/reply_buffer.h"
#include "corvalenlib/transports/session.h"

namespace CorvalenLib {

inline constexpr const char* kGpibLibrary = "libgpib.so.0";

class GpibSession final : public Session {
public:
    GpibSession(GpibAddress address, const IoLimits& limits, std::string library = kGpibLibrary);
    ~GpibSession() override;

    void open() override;
    void write(std::string_view message) override;
    void readReply(std::string& reply) override;
    // A selected device clear: the instrument drops its pending output too.
    void discardInput() override;
    void close() noexcept override;
    [[nodiscard]] std::string interfaceType() const override { return "GPIB"; }

protected:
    // Passes a new limit to the open device (ibtmo).
    void timeoutChanged() override;

private:
    struct Api;

    // Sets the device's time-out code when it differs from the one it has.
    void setDeviceTimeout(int code);

    [[noreturn]] void fail(std::string_view call, int status) const;
    [[nodiscard]] long lastCount() const;

    GpibAddress address_;
    std::string library_;
    std::unique_ptr<Api> api_;
    ReplyBuffer buffer_;
    int device_ = -1;
    int deviceCode_ = 0;  // the time-out code the device has now
};

}  // namespace CorvalenLib
