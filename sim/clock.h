// SPDX-License-Identifier: MIT
// The instrument's sense of time, injected so that tests drive it exactly.
#pragma once

namespace tq820sim {

class Clock {
public:
    virtual ~Clock() = default;
    // Instrument time in seconds since an arbitrary start; never goes back.
    // This is the time that scans run on (sped up when asked).
    [[nodiscard]] virtual double seconds() const = 0;
    // Calendar time now, seconds since the Unix epoch (the real wall clock).
    [[nodiscard]] virtual double epochSeconds() const = 0;
};

// A clock that moves only when told to.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double epoch = 1796812215.123) : epoch_(epoch) {}
    [[nodiscard]] double seconds() const override { return now_; }
    [[nodiscard]] double epochSeconds() const override { return epoch_ + now_; }
    void advance(double by) { now_ += by; }
    void set(double to) { now_ = to; }

private:
    double now_ = 0.0;
    double epoch_;
};

}  // namespace tq820sim
