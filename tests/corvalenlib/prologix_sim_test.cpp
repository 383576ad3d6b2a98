// SPDX-License-Identifier: MIT
// The control's Prologix session against the real tq820-sim's Prologix
// controller, over its TCP and its pseudo-terminal front ends alike, named
// through a board binding in CORVALEN_IO_ALIASES.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config_dir.h"
#include "corvalenlib/control.h"
#include "corvalenlib/errors.h"
#include "peers.h"

namespace {

using namespace std::chrono_literals;
using CorvalenLib::IoError;
using CorvalenLib::TimeoutError;

// tq820-sim with one Prologix front end; board() is what it announced.
class Simulator {
public:
    Simulator(bool tcp, std::vector<std::string> words) {
        words.insert(words.begin(), {TQ_SIM_PATH, tcp ? "--prologix-tcp" : "--prologix-pty"});
        if (tcp) words.insert(words.begin() + 2, "127.0.0.1:0");
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
        const std::string line = readLine();  // "PRLGX-TCP 127.0.0.1:PORT" or "PRLGX-PTY /dev/pts/N"
        const std::string where = line.substr(line.find(' ') + 1, line.size() - line.find(' ') - 2);
        board_ = tcp ? "PRLGX-TCPIP::127.0.0.1::" + where.substr(where.rfind(':') + 1) + "::INTFC"
                     : "PRLGX-ASRL" + where + "::INTFC";
    }
    ~Simulator() {
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
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    [[nodiscard]] const std::string& board() const { return board_; }

private:
    std::string readLine() {
        std::string line;
        const auto start = std::chrono::steady_clock::now();
        for (char c = 0; c != '\n';) {
            pollfd entry{output_, POLLIN, 0};
            const int ready = peers::millisecondsSince(start) > 10'000 ? -1 : ::poll(&entry, 1, 1000);
            if (ready == 0) continue;  // never read before there is something: the pipe blocks
            if (ready < 0 || ::read(output_, &c, 1) != 1) throw std::runtime_error("tq820-sim did not start: " + line);
            line += c;
        }
        return line;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    std::string board_;
};

enum class Outcome { Answer, Timeout, Closed };

struct Row {
    const char* name;
    std::vector<std::string> options;
    const char* address;  // "<primary>[::<secondary>]"
    const char* command;  // sent first, then "SYSTem:ERRor?" is asked
    const char* heard;    // a line the transcript must hold, if any
    const char* answer;
    Outcome outcome;
    friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

class PrologixSimulator : public ::testing::TestWithParam<Row> {};

TEST_P(PrologixSimulator, CarriesEveryByteAndEndsFailuresInOneClearError) {
    const auto& row = GetParam();
    for (const bool tcp : {true, false}) {
        SCOPED_TRACE(tcp ? "over TCP" : "over a pseudo-terminal");
        const peers::ConfigDir config;
        const std::string transcript = std::filesystem::path(config.file()).parent_path().parent_path() / "log";
        auto options = row.options;
        options.insert(options.end(), {"--transcript", transcript});
        const Simulator sim(tcp, options);
        ::setenv("CORVALEN_IO_ALIASES", ("GPIB0::INTFC=" + sim.board()).c_str(), 1);
        CorvalenLib::Control control;
        control.setTimeout(row.outcome == Outcome::Timeout ? 300ms : 5s);
        std::string reply;
        const auto start = std::chrono::steady_clock::now();
        Outcome outcome = Outcome::Answer;
        try {
            control.OpenIO(std::string("GPIB0::") + row.address + "::INSTR");
            control.Output(row.command);
            control.Output("SYSTem:ERRor?");
            control.Enter(reply);
        } catch (const TimeoutError& error) {
            outcome = Outcome::Timeout;
            reply = error.what();
        } catch (const IoError& error) {
            outcome = Outcome::Closed;
            reply = error.what();
        }
        EXPECT_EQ(outcome, row.outcome) << reply;
        if (row.outcome == Outcome::Answer) {
            EXPECT_EQ(reply, row.answer);
        }
        EXPECT_LT(peers::millisecondsSince(start), 3'000) << reply;
        std::ifstream log(transcript);
        const std::string text{std::istreambuf_iterator<char>(log), {}};
        // What the instrument received, exactly; or, with nobody at the address, nothing.
        const auto heard = *row.heard != '\0' ? text.find(std::string(" RX ") + row.heard + "\n") : text.find(" RX ");
        EXPECT_EQ(heard != std::string::npos, *row.heard != '\0') << text;
        ::unsetenv("CORVALEN_IO_ALIASES");
    }
}

constexpr const char* kNoError = "+0,\"No error\"\n";

INSTANTIATE_TEST_SUITE_P(
    Table, PrologixSimulator,
    ::testing::Values(
        Row{"special_bytes", {}, "9", "DISP:TEXT \"a+b\x1b\r\"", R"(DISP:TEXT "a+b\x1B\x0D")",
            "-113,\"Undefined header\"\n", Outcome::Answer},
        Row{"other_primary_address", {"--gpib-address", "22"}, "22", "*CLS", "*CLS", kNoError, Outcome::Answer},
        Row{"secondary_address", {"--gpib-secondary", "3"}, "9::3", "*CLS", "*CLS", kNoError, Outcome::Answer},
        Row{"nobody_at_the_address", {}, "5", "*CLS", "", "", Outcome::Timeout},
        Row{"closed_line", {"--close-after", "1"}, "9", "*CLS", "*CLS", "", Outcome::Closed}),
    [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
