// SPDX-License-Identifier: MIT
// One query's round trip, "DATA:POINts?" as the program polls it, against
// the same running tq820-sim: through the control's sessions and through
// bare streams that only write and read. Also what the simulator can answer
// on one connection, against the least any server can do.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <corvalen/corvalen.h>

#include "bench_registry.h"
#include "bench_support.h"
#include "corvalenlib/widgets/control.h"

namespace tq::bench {
namespace {

const std::string kQuery = "DATA:POINts?";
const std::string kQueryLine = kQuery + "\n";
constexpr int kWarmUp = 20;
constexpr int kPipelined = 50;  // queries per write in the capacity row

std::string tcpResource(const Settings& settings) {
    return "TCPIP::" + settings.host + "::" + std::to_string(settings.port) + "::SOCKET";
}

// A reading count as the instrument sends it: "+0", "+40".
bool isCountReply(const std::string& reply) {
    if (reply.size() < 3 || reply.front() != '+' || reply.back() != '\n') return false;
    for (std::size_t i = 1; i + 1 < reply.size(); ++i) {
        if (reply[i] < '0' || reply[i] > '9') return false;
    }
    return true;
}

template <typename Body>
void guarded(benchmark::State& state, Body&& body) {
    try {
        body();
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
}

void timeBare(benchmark::State& state, const std::string& row, BareStream& stream) {
    std::string reply;
    for (int i = 0; i < kWarmUp; ++i) {
        stream.send(kQueryLine);
        stream.readLine(reply);
    }
    Samples& samples = Samples::of(row);
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = Clock::now();
        stream.send(kQueryLine);
        stream.readLine(reply);
        samples.add(Clock::now() - start);
    }
    if (!isCountReply(reply)) state.SkipWithError(("unexpected reply: " + reply).c_str());
}

void timeControl(benchmark::State& state, const std::string& row, const std::string& resource) {
    CorvalenLib::Control control;
    control.OpenIO(resource);
    std::int32_t count = -1;
    for (int i = 0; i < kWarmUp; ++i) {
        control.Output(kQuery);
        control.Enter(count);
    }
    Samples& samples = Samples::of(row);
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = Clock::now();
        control.Output(kQuery);
        control.Enter(count);
        samples.add(Clock::now() - start);
    }
    if (count < 0) state.SkipWithError("no reading count read");
}

// One row of the interleaved TCP rows: its connection and one round trip.
// The simulator serves one TCP client at a time, so each stretch opens its
// row's connection and closes it again, outside the timed part.
struct Row {
    std::string name;
    std::function<void()> open;
    std::function<void()> roundTrip;
    std::function<void()> close;
};

// Short stretches of each row in turn, in a fresh order every time, so that
// a slow moment of the machine falls on all rows alike and their 99th
// percentiles compare like with like.
void runInterleaved(benchmark::State& state, std::vector<Row>& rows, int roundTrips) {
    constexpr int kStretch = 25;
    constexpr int kStretchWarmUp = 3;
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::minstd_rand shuffle(20261211);
    for (auto _ : state) {
        for (int done = 0; done < roundTrips; done += kStretch) {
            std::shuffle(order.begin(), order.end(), shuffle);
            for (const auto index : order) {
                Row& row = rows[index];
                row.open();
                for (int i = 0; i < kStretchWarmUp; ++i) row.roundTrip();
                Samples& samples = Samples::of(row.name);
                for (int i = 0; i < std::min(kStretch, roundTrips - done); ++i) {
                    const auto start = Clock::now();
                    row.roundTrip();
                    samples.add(Clock::now() - start);
                }
                row.close();
            }
        }
    }
}

// The bare socket, the program's control and the public C++ API on the
// same simulator, interleaved.
void tcpInterleaved(benchmark::State& state, const Settings& settings, const std::string& row) {
    guarded(state, [&] {
        const std::string prefix = row.substr(0, row.rfind("tcp/"));
        const std::string resource = tcpResource(settings);
        std::optional<BareStream> stream;
        CorvalenLib::Control control;
        corvalen::Instrument instrument;
        std::string bareReply;
        std::int32_t count = -1;
        std::string apiReply;
        std::vector<Row> rows{
            {prefix + "tcp/bare", [&] { stream.emplace(BareStream::connectTcp(settings.host, settings.port)); },
             [&] {
                 stream->send(kQueryLine);
                 stream->readLine(bareReply);
             },
             [&] { stream.reset(); }},
            {prefix + "tcp/control", [&] { control.OpenIO(resource); },
             [&] {
                 control.Output(kQuery);
                 control.Enter(count);
             },
             [&] { control.CloseIO(); }},
            {prefix + "tcp/api", [&] { instrument = corvalen::open(resource); },
             [&] { apiReply = instrument.query(kQuery); }, [&] { instrument.close(); }},
        };
        runInterleaved(state, rows, settings.roundTrips);
        if (!isCountReply(bareReply) || count < 0 || !isCountReply(apiReply + "\n")) {
            state.SkipWithError("unexpected replies");
        }
    });
}

void serialBare(benchmark::State& state, const Settings& settings, const std::string& row) {
    guarded(state, [&] {
        BareStream stream = BareStream::openTerminal(settings.pty);
        timeBare(state, row, stream);
    });
}

void serialControl(benchmark::State& state, const Settings& settings, const std::string& row) {
    guarded(state, [&] { timeControl(state, row, "ASRL" + settings.pty + "::INSTR"); });
}

// An environment variable set for one row and put back after it.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The design-time address GPIB0::9::INSTR with board GPIB0 bound to the
// simulator's Prologix GPIB-ETHERNET front end: the query and its "++read
// eoi" go in one write, so the round trip should cost what the socket's does.
void tcpPrologix(benchmark::State& state, const Settings& settings, const std::string& row) {
    guarded(state, [&] {
        const ScopedVariable binding("CORVALEN_IO_ALIASES", "GPIB0::INTFC=PRLGX-TCPIP::" + settings.host +
                                                                "::" + std::to_string(settings.prologixPort) +
                                                                "::INTFC");
        timeControl(state, row, "GPIB0::9::INSTR");
    });
}

// The bare client against a server that parses nothing: the kernel's floor.
void tcpFloor(benchmark::State& state, const Settings& settings, const std::string& row) {
    guarded(state, [&] {
        LineResponder responder("+0\n", settings.serverCpu);
        BareStream stream = BareStream::connectTcp(settings.host, responder.port());
        timeBare(state, row, stream);
    });
}

// Many queries in one write: how fast the simulator answers when it never
// waits for its client. A sample is one query's share of a batch.
void tcpPipelined(benchmark::State& state, const Settings& settings, const std::string& row) {
    guarded(state, [&] {
        BareStream stream = BareStream::connectTcp(settings.host, settings.port);
        std::string batch;
        for (int i = 0; i < kPipelined; ++i) batch += kQueryLine;
        std::string reply;
        Samples& samples = Samples::of(row);
        for (auto _ : state) {
            const auto start = Clock::now();
            stream.send(batch);
            for (int i = 0; i < kPipelined; ++i) stream.readLine(reply);
            samples.add((Clock::now() - start) / kPipelined);
        }
        state.SetItemsProcessed(state.iterations() * kPipelined);
        if (!isCountReply(reply)) state.SkipWithError(("unexpected reply: " + reply).c_str());
    });
}

using Body = void (*)(benchmark::State&, const Settings&, const std::string&);

void addRoundTrip(const char* row, Body body, const Settings& settings, int iterations) {
    const std::string name = settings.rowPrefix + row;
    benchmark::RegisterBenchmark(name.c_str(), body, settings, name)
        ->Iterations(iterations)
        ->Repetitions(settings.repetitions)
        ->Unit(benchmark::kMicrosecond);
}

}  // namespace

void registerExchangeBenchmarks(const Settings& settings) {
    addRoundTrip("tcp/interleaved", tcpInterleaved, settings, 1);
    addRoundTrip("tcp/floor", tcpFloor, settings, settings.roundTrips);
    if (settings.prologixPort != 0) addRoundTrip("tcp/prologix", tcpPrologix, settings, settings.roundTrips);
    addRoundTrip("tcp/pipelined", tcpPipelined, settings, settings.roundTrips / 10 + 1);
    if (!settings.pty.empty()) {
        addRoundTrip("serial/bare", serialBare, settings, settings.roundTrips);
        addRoundTrip("serial/control", serialControl, settings, settings.roundTrips);
    }
}

}  // namespace tq::bench
