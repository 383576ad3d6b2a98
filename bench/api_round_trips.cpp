// SPDX-License-Identifier: MIT
// Round trips of "DATA:POINts?" through the public C++ API (corvalen::open,
// Instrument::query), the reply made a number; writes "ROW microseconds".
//   tq820-api-round-trips RESOURCE ROW COUNT SAMPLES
#include <corvalen/corvalen.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: tq820-api-round-trips RESOURCE ROW COUNT SAMPLES\n");
        return 2;
    }
    try {
        const long count = std::stol(argv[3]);
        corvalen::Instrument dev = corvalen::open(argv[1]);
        dev.setTimeout(std::chrono::seconds(5));
        std::ofstream out(argv[4]);
        for (long i = -50; i < count; ++i) {  // 50 to warm up
            const auto start = std::chrono::steady_clock::now();
            const int points = std::stoi(dev.query("DATA:POINts?"));
            const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
            if (i >= 0 && points >= 0) out << argv[2] << ' ' << took.count() << '\n';
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
