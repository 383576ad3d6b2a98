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
#include "corvalenlib/widgets/control.h"
#include "corvalenlib/core/errors.h"
#include "corvalenlib/widgets/find_panel.h"
#include "corvalenlib/widgets/gpib_binding_panel.h"
#include "corvalenlib/widgets/select_io_dialog.h"
#include "peers.h"
#include "sim_process.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

// Under LeakSanitizer: fontconfig, loaded by Qt for the dialog's fonts, keeps
// a cache it never frees. Not ours to fix; everything else is still checked.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using namespace std::chrono_literals;
using CorvalenLib::IoError;
using CorvalenLib::TimeoutError;

// tq820-sim with one Prologix front end; board() is what it announced.
class Simulator {
public:
    Simulator(bool tcp, std::vector<std::string> words) : process_(wordsFor(tcp, std::move(words))) {
        const std::string line = process_.readLine();  // "PRLGX-TCP 127.0.0.1:PORT" or "PRLGX-PTY /dev/pts/N"
        const std::string where = line.substr(line.find(' ') + 1, line.size() - line.find(' ') - 2);
        board_ = tcp ? "PRLGX-TCPIP::127.0.0.1::" + where.substr(where.rfind(':') + 1) + "::INTFC"
                     : "PRLGX-ASRL" + where + "::INTFC";
    }
    [[nodiscard]] const std::string& board() const { return board_; }

private:
    static std::vector<std::string> wordsFor(bool tcp, std::vector<std::string> words) {
        words.insert(words.begin(), tcp ? "--prologix-tcp" : "--prologix-pty");
        if (tcp) words.insert(words.begin() + 1, "127.0.0.1:0");
        return words;
    }

    peers::SimProcess process_;
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

// The dialog's Identify goes through the controller the GPIB page shows,
// saved or not, and says when it is not saved: the operator checks a
// binding before saving it.
TEST(PrologixDialog, IdentifyGoesThroughTheControllerOnTheGpibPage) {
    static int argc = 1;
    static char name[] = "prologix_sim_tests";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    const peers::ConfigDir config;  // nothing bound: board GPIB0 is linux-gpib's
    ::unsetenv("CORVALEN_IO_ALIASES");
    const Simulator sim(true, {});
    const auto& board = sim.board();  // PRLGX-TCPIP::127.0.0.1::<port>::INTFC
    const int port = std::stoi(board.substr(board.rfind("1::") + 3));
    using Controller = CorvalenLib::GpibBindingPanel::Controller;
    CorvalenLib::SelectIoDialog dialog;
    CorvalenLib::IoLimits limits;
    limits.timeout = 1s;
    limits.connectTimeout = 1s;
    dialog.setProbeLimits(limits);
    dialog.setResourceText("GPIB0::9::INSTR");
    auto& panel = dialog.gpibBinding();
    auto identify = [&] {
        QEventLoop loop;
        QObject::connect(&dialog.identifyBar(), &CorvalenLib::IdentifyBar::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(5s, &loop, &QEventLoop::quit);
        dialog.identifyBar().identify();
        loop.exec();
        return dialog.identifyBar().lastIdentity().value_or(CorvalenLib::Identity{});
    };
    struct Case {
        const char* what;
        bool save;
    };
    for (const Case& c : {Case{"on screen, not saved", false}, Case{"saved", true}}) {
        SCOPED_TRACE(c.what);
        panel.chooseController(Controller::PrologixLan);
        panel.setHost("127.0.0.1");
        panel.setPort(port);
        if (c.save) {
            ASSERT_TRUE(panel.save());
        }
        const auto identity = identify();
        EXPECT_TRUE(identity.answered) << identity.text;
        EXPECT_NE(identity.text.find("TQ820"), std::string::npos) << identity.text;
        EXPECT_NE(identity.route.find(board), std::string::npos) << identity.route;
        EXPECT_EQ(dialog.identifyBar().result().contains("not saved"), !c.save)
            << dialog.identifyBar().result().toStdString();
    }
    // A controller on screen with an empty host: said plainly, not linux-gpib's answer.
    panel.setHost("");
    const auto identity = identify();
    EXPECT_FALSE(identity.answered);
    EXPECT_NE(identity.text.find("the GPIB page, not saved"), std::string::npos) << identity.text;
}

}  // namespace
