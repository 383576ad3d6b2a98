// SPDX-License-Identifier: MIT
// What the benchmarks share: where the simulator is, the samples they
// collect, and bare clients that do nothing but write and read.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tq::bench {

using Clock = std::chrono::steady_clock;

struct Settings {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string pty;        // empty: no serial rows
    int prologixPort = 0;   // its Prologix GPIB-ETHERNET front end on host; 0: no Prologix row
    int roundTrips = 2000;  // per repetition of a round-trip row
    int repetitions = 5;
    int runs = 10;  // whole program runs
    // The processor the simulator runs on, for the server that the floor
    // row starts; -1 leaves its placement to the scheduler.
    int serverCpu = -1;
    std::string rowPrefix;  // put before every row's name
};

// Every sample of every row, pooled over repetitions, so that the median and
// the 99th percentile come from all of them rather than from a mean per run.
class Samples {
public:
    static Samples& of(const std::string& row);
    void reserve(std::size_t count);
    void add(Clock::duration spent);
    // "row microseconds" lines, every sample of every row.
    static void writeAll(std::FILE* out);

private:
    std::string row_;
    std::vector<double> micros_;
};

// One byte stream that only writes and reads, blocking: the floor that the
// control is measured against. Reads into its own buffer, so that replies
// that arrive together are split at their line ends.
class BareStream {
public:
    static BareStream connectTcp(const std::string& host, int port);
    static BareStream openTerminal(const std::string& path);
    ~BareStream();
    BareStream(BareStream&& other) noexcept;
    BareStream(const BareStream&) = delete;
    BareStream& operator=(const BareStream&) = delete;
    BareStream& operator=(BareStream&&) = delete;

    void send(std::string_view bytes);
    // One reply through its LF, LF included. Raises when the peer leaves or
    // sends more than the buffer holds without a line end.
    void readLine(std::string& reply);

private:
    explicit BareStream(int fd) : fd_(fd) {}

    int fd_;
    std::string pending_;
};

// The least a server can do for one connection: answer every line it gets
// with a fixed reply, blocking, no parsing. Serves one client and stops;
// that client must leave before the responder is destroyed.
class LineResponder {
public:
    // cpu: the processor its thread runs on; -1 leaves it to the scheduler.
    explicit LineResponder(std::string reply, int cpu = -1);
    ~LineResponder();
    LineResponder(const LineResponder&) = delete;
    LineResponder& operator=(const LineResponder&) = delete;

    [[nodiscard]] int port() const { return port_; }

private:
    void serve();

    std::string reply_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace tq::bench
