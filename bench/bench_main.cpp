// SPDX-License-Identifier: MIT
// tq820-bench: the exchange and whole-run benchmarks against one running
// tq820-sim. Besides Google Benchmark's own options:
//   --tcp HOST:PORT      the simulator's TCP address (required)
//   --pty PATH           its pseudo-terminal; without it, no serial rows
//   --prologix-tcp PORT  its Prologix TCP front end on the same host; without
//                        it, no Prologix row
//   --round-trips N      round trips per repetition of a row
//   --repetitions N      repetitions of each round-trip row
//   --runs N             whole runs of the program
//   --samples FILE       where every sample goes, "row microseconds" a line
//   --server-cpu N       the simulator's processor, for the floor's server
//   --row-prefix TEXT    put before every row's name
// The window needs a platform plugin; offscreen does.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "bench_registry.h"
#include "bench_support.h"

namespace {

int positive(const char* option, const std::string& text) {
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used != text.size() || value <= 0)
        throw std::invalid_argument(std::string(option) + " wants a positive number");
    return value;
}

tq::bench::Settings parseSettings(int argc, char** argv, std::string& samplesPath) {
    tq::bench::Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            throw std::invalid_argument("unknown option or missing value: " + option);
        const std::string value = argv[++i];
        if (option == "--tcp") {
            const auto colon = value.rfind(':');
            if (colon == std::string::npos) throw std::invalid_argument("--tcp wants HOST:PORT");
            settings.host = value.substr(0, colon);
            settings.port = positive("--tcp", value.substr(colon + 1));
        } else if (option == "--pty") {
            settings.pty = value;
        } else if (option == "--prologix-tcp") {
            settings.prologixPort = positive("--prologix-tcp", value);
        } else if (option == "--round-trips") {
            settings.roundTrips = positive("--round-trips", value);
        } else if (option == "--repetitions") {
            settings.repetitions = positive("--repetitions", value);
        } else if (option == "--runs") {
            settings.runs = positive("--runs", value);
        } else if (option == "--server-cpu") {
            settings.serverCpu = std::stoi(value);
        } else if (option == "--row-prefix") {
            settings.rowPrefix = value;
        } else if (option == "--samples") {
            samplesPath = value;
        } else {
            throw std::invalid_argument("unknown option: " + option);
        }
    }
    if (settings.port == 0) throw std::invalid_argument("--tcp HOST:PORT is required");
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::string samplesPath;
    try {
        const tq::bench::Settings settings = parseSettings(argc, argv, samplesPath);
        tq::bench::registerExchangeBenchmarks(settings);
        tq::bench::registerRunBenchmark(settings);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tq820-bench: %s\n", error.what());
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!samplesPath.empty()) {
        std::FILE* out = std::fopen(samplesPath.c_str(), "w");
        if (out == nullptr) {
            std::fprintf(stderr, "tq820-bench: cannot write %s: %s\n", samplesPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
        tq::bench::Samples::writeAll(out);
        std::fclose(out);
    }
    return 0;
}
