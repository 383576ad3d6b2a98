// SPDX-License-Identifier: MIT
// One open connection to an instrument, whatever the bus.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "corvalenlib/core/resource.h"
#include "corvalenlib/core/errors.h"

namespace CorvalenLib {

struct IoLimits {
    std::chrono::milliseconds timeout{10'000};  // "*RST;*OPC?" fits in it
    std::chrono::milliseconds connectTimeout{5'000};
    std::size_t maxReply = 1024 * 1024;
};

// Sessions raise IoError (TimeoutError for time-outs) whose text is the cause
// only; the control puts resource and operation in front.
class Session {
public:
    explicit Session(const IoLimits& limits) : limits_(limits) {}
    virtual ~Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    virtual void open() = 0;
    // Sends message, line end included, as one complete command.
    virtual void write(std::string_view message) = 0;
    // Reads one reply, line end included, into reply.
    virtual void readReply(std::string& reply) = 0;
    // Drops input that arrived but was never read.
    virtual void discardInput() = 0;
    virtual void close() noexcept = 0;
    [[nodiscard]] virtual std::string interfaceType() const = 0;

    // The I/O time-out from the next operation on; a session whose bus
    // keeps a time-out of its own passes it on at once.
    void setTimeout(std::chrono::milliseconds timeout) {
        limits_.timeout = timeout;
        timeoutChanged();
    }

protected:
    [[nodiscard]] const IoLimits& limits() const { return limits_; }
    virtual void timeoutChanged() {}

private:
    IoLimits limits_;
};

// The session type for resource, not yet opened. Raises IoError for the
// resource kinds that cannot be opened yet.
[[nodiscard]] std::unique_ptr<Session> makeSession(const Resource& resource, const IoLimits& limits,
                                                   const SerialSettings& serial);

// "10 s", "250 ms": a time-out as error texts show it.
[[nodiscard]] std::string describeDuration(std::chrono::milliseconds duration);

// "1 MiB", "4100 bytes": a size as error texts show it.
[[nodiscard]] std::string describeSize(std::size_t bytes);

}  // namespace CorvalenLib
