// SPDX-License-Identifier: MIT
// SCPI over a serial pseudo-terminal: the client opens the slave device.
#pragma once

#include "stream_link.h"

namespace tq820sim {

class PtyFront final : public FrontEnd {
public:
    explicit PtyFront(SharedCore& core) : master_(core) {}
    ~PtyFront() override;
    PtyFront(const PtyFront&) = delete;
    PtyFront& operator=(const PtyFront&) = delete;

    // Opens the pseudo-terminal; returns the slave's path.
    std::string open();

    void collect(std::vector<pollfd>& fds) override;
    void service(std::span<const pollfd> fds) override;
    [[nodiscard]] std::optional<Steady::time_point> deadline() const override {
        return master_.deadline();
    }
    [[nodiscard]] bool active() const override { return master_.isOpen(); }

private:
    void closeSlave();

    StreamLink master_;
    int slave_ = -1;
};

}  // namespace tq820sim
