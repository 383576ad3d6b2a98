// SPDX-License-Identifier: MIT
#include "sim_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "peers.h"

namespace peers {

SimProcess::SimProcess(std::vector<std::string> words) {
    words.insert(words.begin(), TQ_SIM_PATH);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    output_ = out[0];
}

SimProcess::~SimProcess() {
    ::kill(pid_, SIGTERM);
    for (int tries = 0; ::waitpid(pid_, nullptr, WNOHANG) == 0; ++tries) {
        if (tries == 500) {
            ADD_FAILURE() << "tq820-sim did not stop within 5 s of SIGTERM";
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        ::usleep(10'000);
    }
    ::close(output_);
}

std::string SimProcess::readLine() {
    std::string line;
    const auto start = std::chrono::steady_clock::now();
    for (char c = 0; c != '\n';) {
        pollfd entry{output_, POLLIN, 0};
        const bool late = millisecondsSince(start) > 10'000;
        const int ready = late ? -1 : ::poll(&entry, 1, 1000);
        if (ready == 0) continue;  // never read before there is something: the pipe blocks
        if (ready < 0 || ::read(output_, &c, 1) != 1) {
            throw std::runtime_error("tq820-sim did not start: \"" + line + "\"");
        }
        line += c;
    }
    return line;
}

}  // namespace peers
