// SPDX-License-Identifier: MIT
// A whole run of the program, as the operator's "Run" starts it: the real
// window with the real control against the simulator. Every call into the
// control is timed; what remains of the run is the program's own cost.
#include <benchmark/benchmark.h>

#include <QListWidget>
#include <QPushButton>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "bench_registry.h"
#include "bench_support.h"
#include "corvalenlib/widgets/control.h"
#include "window/corvalen_exmpl.h"
#include "window/platform.h"

namespace tq::bench {
namespace {

// The list after a good run: three lines of instructions, a blank line,
// the two start stamps, the heading and one line per reading.
constexpr int kReadings = 40;
constexpr int kListedAfterRun = 7 + kReadings;

// Time spent inside the control, summed over a run.
struct ExchangeTime {
    Clock::duration spent{};
    long calls = 0;
};

class Timed {
public:
    explicit Timed(ExchangeTime& total) : total_(total), start_(Clock::now()) {}
    ~Timed() {
        total_.spent += Clock::now() - start_;
        ++total_.calls;
    }
    Timed(const Timed&) = delete;
    Timed& operator=(const Timed&) = delete;

private:
    ExchangeTime& total_;
    Clock::time_point start_;
};

// The real control, every call timed.
class TimedControl final : public CorvalenLib::Corvalen {
public:
    explicit TimedControl(ExchangeTime& total) : total_(total), io_(*this) {}

    void SelectIODialog() override { control_.SelectIODialog(); }
    [[nodiscard]] std::string address() const override { return control_.address(); }
    void setAddress(const std::string& resource) override { control_.setAddress(resource); }
    void OpenIO(const std::string& resource) override {
        const Timed timed(total_);
        control_.OpenIO(resource);
    }
    CorvalenLib::IoObject& IO() override {
        const Timed timed(total_);
        control_.IO();
        return io_;
    }
    void Output(const std::string& command) override {
        const Timed timed(total_);
        control_.Output(command);
    }
    void Enter(std::string& target) override { timedEnter(target); }
    void Enter(std::int32_t& target) override { timedEnter(target); }
    void Enter(double& target) override { timedEnter(target); }
    void Enter(CorvalenLib::PlainNumber& target) override { timedEnter(target); }
    void CloseIO() override {
        const Timed timed(total_);
        control_.CloseIO();
    }

private:
    class TimedIo final : public CorvalenLib::IoObject {
    public:
        explicit TimedIo(TimedControl& owner) : owner_(owner) {}
        [[nodiscard]] std::string InterfaceType() const override {
            const Timed timed(owner_.total_);
            return owner_.control_.IO().InterfaceType();
        }
        void PostResetCall() override {
            const Timed timed(owner_.total_);
            owner_.control_.IO().PostResetCall();
        }

    private:
        TimedControl& owner_;
    };

    template <typename Target>
    void timedEnter(Target& target) {
        const Timed timed(total_);
        control_.Enter(target);
    }

    ExchangeTime& total_;
    CorvalenLib::Control control_;
    TimedIo io_;
};

struct RunOutcome {
    std::vector<std::string> messages;
    int endStatus = -1;
};

Platform recordingPlatform(RunOutcome& outcome) {
    return Platform{
        [&outcome](const std::string& title, const std::string& text, MessageIcon) {
            outcome.messages.push_back(title + ": " + text);
        },
        [] { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); },
        [&outcome](int status) {
            outcome.endStatus = status;
            throw ProgramEnd{status};
        }};
}

void wholeRun(benchmark::State& state, const std::string& prefix) {
    Samples& overhead = Samples::of(prefix + "run/overhead");
    Samples& total = Samples::of(prefix + "run/total");
    Samples& calls = Samples::of(prefix + "run/calls");
    for (auto _ : state) {
        state.PauseTiming();
        ExchangeTime exchanges;
        RunOutcome outcome;
        // A fresh window each time, as a fresh start of the program has: its
        // connection closes with it, so the next run opens its own.
        CorvalenExmpl window(std::make_unique<TimedControl>(exchanges), recordingPlatform(outcome));
        auto* run = window.findChild<QPushButton*>(QStringLiteral("GetReadings"));
        auto* list = window.findChild<QListWidget*>(QStringLiteral("List1"));
        state.ResumeTiming();

        const auto start = Clock::now();
        run->click();
        const auto spent = Clock::now() - start;

        state.PauseTiming();
        if (!outcome.messages.empty() || outcome.endStatus != -1 ||
            list->count() != kListedAfterRun) {
            const std::string why =
                outcome.messages.empty()
                    ? "the run did not list " + std::to_string(kReadings) + " readings"
                    : outcome.messages.front();
            state.SkipWithError(why.c_str());
            break;
        }
        overhead.add(spent - exchanges.spent);
        total.add(spent);
        // A count, carried in the same sample file as the times.
        calls.add(std::chrono::microseconds(exchanges.calls));
        state.ResumeTiming();
    }
}

}  // namespace

void registerRunBenchmark(const Settings& settings) {
    // The window's design-time address, routed to the simulator as an
    // operator would route it.
    const std::string route = "GPIB0::9::INSTR=TCPIP::" + settings.host +
                              "::" + std::to_string(settings.port) + "::SOCKET";
    ::setenv("CORVALEN_IO_ALIASES", route.c_str(), 1);
    benchmark::RegisterBenchmark((settings.rowPrefix + "run/whole").c_str(), wholeRun,
                                 settings.rowPrefix)
        ->Iterations(settings.runs)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace tq::bench
