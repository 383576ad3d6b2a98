// SPDX-License-Identifier: MIT
// The simulator's transcript: one time-stamped line per command, reply,
// connection and fault, from every front end, flushed line by line so that
// a test reads it while the simulator runs.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace tq820sim {

class Transcript {
public:
    // An empty path writes nothing.
    Transcript(const std::string& path, std::chrono::steady_clock::time_point start);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void write(const char* kind, const std::string& text);

private:
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace tq820sim
