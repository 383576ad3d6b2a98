// SPDX-License-Identifier: MIT
// A scripted instrument behind the control's interface: it records every
// call in order and answers each Enter from a script.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "io/corvalen.h"

namespace tq::testing {

// The fake clock: every reading moves it on by `step` seconds, so a busy
// wait ends after a known number of readings and no test sleeps.
struct FakeClock {
    double now = 1000.0;
    double step = 0.001;
    double read() { return now += step; }
};

struct Call {
    std::string text;   // "Output *IDN?", "Enter string", "OpenIO GPIB0::9::INSTR", ...
    double time = 0.0;  // the fake clock when the call was made
};

// The shared state of one scripted instrument; the test keeps it while the
// window owns the control.
struct Script {
    std::vector<Call> calls;
    // Replies by query. The replies of one query are used in order; the last
    // one repeats once it is reached.
    std::map<std::string, std::deque<std::string>> replies;
    // Queries whose replies start over from the first once the last is
    // used, for an instrument that repeats itself forever.
    std::set<std::string> cycling;
    std::string interfaceType = "GPIB";
    std::string addressAfterDialog = "ASRL1::INSTR";
    // The call with this index (0-based, over all calls) raises IoError
    // after being recorded.
    std::optional<std::size_t> failAtCall;
    const FakeClock* clock = nullptr;

    [[nodiscard]] std::vector<std::string> texts() const;
    // The texts of the calls that sent something ("Output ..." only).
    [[nodiscard]] std::vector<std::string> commands() const;
    [[nodiscard]] std::size_t count(const std::string& text) const;
    void answer(const std::string& query, std::deque<std::string> answers) {
        replies[query] = std::move(answers);
    }
};

class FakeControl final : public CorvalenLib::Corvalen {
public:
    explicit FakeControl(std::shared_ptr<Script> script);
    ~FakeControl() override;
    FakeControl(const FakeControl&) = delete;
    FakeControl& operator=(const FakeControl&) = delete;

    void SelectIODialog() override;
    [[nodiscard]] std::string address() const override { return address_; }
    void setAddress(const std::string& resource) override;
    void OpenIO(const std::string& resource) override;
    CorvalenLib::IoObject& IO() override;
    void Output(const std::string& command) override;
    void Enter(std::string& target) override;
    void Enter(std::int32_t& target) override;
    void Enter(double& target) override;
    void Enter(CorvalenLib::PlainNumber& target) override;
    void CloseIO() override;

private:
    class FakeIo;
    void record(std::string text);
    std::string nextReply(const char* kind);

    std::shared_ptr<Script> script_;
    std::unique_ptr<FakeIo> io_;
    std::string address_ = "(unset)";
    std::string lastCommand_;
};

}  // namespace tq::testing
