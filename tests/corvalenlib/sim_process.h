// SPDX-License-Identifier: MIT
// The real tq820-sim as a child process of a test: started with its options,
// its start-up lines read with a bound, stopped at the end.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace peers {

class SimProcess {
public:
    // words: the simulator's options; its path comes first by itself.
    explicit SimProcess(std::vector<std::string> words);
    // A simulator that does not stop within 5 s of SIGTERM is killed, and
    // the test fails rather than waiting for ever.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // One line of what the simulator printed, line end included; raises
    // when none comes within 10 s.
    std::string readLine();

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

}  // namespace peers
