// SPDX-License-Identifier: MIT
// The control through a Prologix controller bound to board GPIB0, over TCP
// and over a pseudo-terminal, against a scripted controller that checks the
// exact bytes on the line; and which session a GPIB resource gets from the
// aliases and board bindings.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <variant>
#include <vector>

#include "config_dir.h"
#include "corvalenlib/widgets/control.h"
#include "corvalenlib/core/errors.h"
#include "peers.h"

namespace {

using namespace std::chrono_literals;
using CorvalenLib::Control;
using CorvalenLib::IoError;
using CorvalenLib::TimeoutError;

const std::string kVersion = "Prologix GPIB-ETHERNET version 01.06.06.00\r\n";

std::string setupFor(std::chrono::milliseconds readTimeout, const std::string& address) {
    return "++savecfg 0\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++eot_enable 0\n++read_tmo_ms " +
           std::to_string(readTimeout.count()) + "\n++addr " + address + "\n++ver\n";
}

// One step of a case: the control's call, or the scripted controller's part.
struct Output { std::string command; };
struct Enter { std::string reply; };
struct Wire { std::string bytes; };   // what the controller must receive next
struct Send { std::string bytes; };   // what the controller answers
struct Quiet {};                      // the control sends nothing more
struct TimesOut { std::string text; };
struct Hangs {};                      // the controller goes away; the next Enter fails at once
struct Reset { std::string stale; };  // PostResetCall while stale bytes are on their way
struct NewTimeout { std::chrono::milliseconds timeout; };
struct ResetFlooded {};  // PostResetCall while empty lines keep coming and the version line never does
using Step = std::variant<Output, Enter, Wire, Send, Quiet, TimesOut, Hangs, Reset, NewTimeout, ResetFlooded>;

struct Case {
    const char* name;
    const char* resource;
    const char* addressSetting;  // "++addr" argument the open must send
    std::chrono::milliseconds timeout;
    std::vector<Step> steps;
};

std::ostream& operator<<(std::ostream& out, const Case& row) { return out << row.name; }

class PrologixLine : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override { ::unsetenv("CORVALEN_IO_ALIASES"); }

    // Opens row's resource with GPIB0 bound to the controller at controller,
    // answering the open's ++ver as the controller does.
    void open(Control& control, peers::FdPeer& peer, const std::function<void()>& accept, const std::string& binding) {
        const auto& row = GetParam();
        config.write("# the bench controller\nGPIB0::INTFC=" + binding + "\n");
        control.setTimeout(row.timeout);
        std::string setup;
        std::thread controller([&] {
            accept();
            setup = peer.receive(setupFor(row.timeout, row.addressSetting).size());
            peer.send(kVersion);
        });
        control.OpenIO(row.resource);
        controller.join();
        EXPECT_EQ(setup, setupFor(row.timeout, row.addressSetting));
        EXPECT_EQ(control.IO().InterfaceType(), "GPIB");
        EXPECT_NE(control.openResource().find(" (board GPIB0 bound to " + binding + ")"), std::string::npos)
            << control.openResource();
    }

    void play(Control& control, peers::FdPeer& peer, const char* transport) {
        SCOPED_TRACE(transport);
        for (const auto& step : GetParam().steps) {
            std::string reply;
            if (const auto* s = std::get_if<Output>(&step)) control.Output(s->command);
            if (const auto* s = std::get_if<Wire>(&step)) {
                EXPECT_EQ(peer.receive(s->bytes.size()), s->bytes);
            }
            if (const auto* s = std::get_if<Send>(&step)) peer.send(s->bytes);
            if (std::holds_alternative<Quiet>(step)) {
                EXPECT_EQ(peer.receiveUntilQuiet(50ms), "");
            }
            if (const auto* s = std::get_if<NewTimeout>(&step)) control.setTimeout(s->timeout);
            if (const auto* s = std::get_if<Enter>(&step)) {
                control.Enter(reply);
                EXPECT_EQ(reply, s->reply);
            }
            if (const auto* s = std::get_if<TimesOut>(&step)) {
                try {
                    control.Enter(reply);
                    ADD_FAILURE() << "no time-out";
                } catch (const TimeoutError& error) {
                    EXPECT_NE(std::string(error.what()).find(s->text), std::string::npos) << error.what();
                }
            }
            if (std::holds_alternative<Hangs>(step)) {
                peer.close();
                const auto start = std::chrono::steady_clock::now();
                try {
                    control.Enter(reply);
                    ADD_FAILURE() << "no failure";
                } catch (const TimeoutError& error) {
                    ADD_FAILURE() << "a closed line reported as a time-out: " << error.what();
                } catch (const IoError&) {
                    EXPECT_LT(peers::millisecondsSince(start), 500);
                }
                return;
            }
            if (const auto* s = std::get_if<Reset>(&step)) {
                std::thread controller([&] {
                    EXPECT_EQ(peer.receive(12), "++clr\n++ver\n");
                    peer.send(s->stale + kVersion);
                });
                control.IO().PostResetCall();
                controller.join();
            }
            if (std::holds_alternative<ResetFlooded>(step)) resetFlooded(control, peer);
        }
    }

    // The clear must end by its own deadline however many lines come.
    void resetFlooded(Control& control, peers::FdPeer& peer) {
        std::thread controller([&] {
            EXPECT_EQ(peer.receive(12), "++clr\n++ver\n");
            peer.sendEndlessly(32 * 1024 * 1024, '\n');
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(control.IO().PostResetCall(), TimeoutError);
        const auto took = peers::millisecondsSince(start);
        controller.join();
        EXPECT_GE(took, GetParam().timeout.count());
        EXPECT_LT(took, GetParam().timeout.count() + 500);
    }

    peers::ConfigDir config;
};

TEST_P(PrologixLine, OverTcp) {
    peers::TcpPeer peer;
    Control control;
    open(control, peer, [&] { ASSERT_TRUE(peer.accept()); },
         "PRLGX-TCPIP::127.0.0.1::" + std::to_string(peer.port()) + "::INTFC");
    play(control, peer, "TCP");
}

TEST_P(PrologixLine, OverAPseudoTerminal) {
    peers::PtyPeer peer;
    Control control;
    open(control, peer, [] {}, "PRLGX-ASRL" + peer.device() + "::INTFC");
    play(control, peer, "pty");
}

const std::string kRead = "++read eoi\n";

INSTANTIATE_TEST_SUITE_P(
    Table, PrologixLine,
    ::testing::Values(
        Case{"QueryAndItsReadRequestGoInOneWrite", "GPIB0::9::INSTR", "9", 1s,
             {Output{"*IDN?"}, Wire{"*IDN?\x1b\n\n" + kRead}, Send{"CORVALEN,TQ820A,0,1.0\n"},
              Enter{"CORVALEN,TQ820A,0,1.0\n"}, Quiet{}}},
        Case{"EscapesCrLfEscAndPlusAndSendsNoReadAfterACommand", "GPIB0::9::INSTR", "9", 1s,
             {Output{"A\r\x1b+B"}, Output{"++ver"}, Wire{"A\x1b\r\x1b\x1b\x1b+B\x1b\n\n\x1b+\x1b+ver\x1b\n\n"},
              Quiet{}}},
        Case{"AsksForAReplyWhenTheCommandDidNotLookLikeAQuery", "GPIB0::9::INSTR", "9", 1s,
             {Output{"DISPlay:TEXT 'READY?'"}, Wire{"DISPlay:TEXT 'READY?'\x1b\n\n"}, Quiet{}, Send{"+1\n"},
              Enter{"+1\n"}, Wire{kRead}}},
        Case{"PipelinedQueriesAskOnceEach", "GPIB0::9::INSTR", "9", 1s,
             {Output{"A?"}, Output{"B?"}, Wire{"A?\x1b\n\n" + kRead + "B?\x1b\n\n" + kRead}, Send{"1\n2"},
              Enter{"1\n"}, Send{"\n"}, Enter{"2\n"}, Quiet{}}},
        Case{"SecondaryAddressAsTheManualNumbersIt", "GPIB0::9::3::INSTR", "9 99", 1s, {}},
        Case{"OtherPrimaryAddress", "GPIB::12", "12", 1s, {}},
        Case{"ReadTimeOutIsTheIoTimeOut", "GPIB0::9::INSTR", "9", 200ms,
             {Output{"*OPC?"}, Wire{"*OPC?\x1b\n\n" + kRead}, Send{"+"}, TimesOut{"no line end within 200 ms"}}},
        Case{"ANewTimeOutReachesTheControllerWithTheNextCommand", "GPIB0::9::INSTR", "9", 1s,
             {NewTimeout{250ms}, Output{"*IDN?"}, Wire{"++read_tmo_ms 250\n*IDN?\x1b\n\n" + kRead},
              TimesOut{"no reply within 250 ms"}}},
        Case{"ResetClearsTheDeviceAndDropsRepliesStillOnTheirWay", "GPIB0::9::INSTR", "9", 1s,
             {Output{"*IDN?"}, Wire{"*IDN?\x1b\n\n" + kRead}, Send{"+1.0"}, Reset{"5E-3\n+2.0\n"},
              Output{"SYSTem:ERRor?"}, Wire{"SYSTem:ERRor?\x1b\n\n" + kRead}, Send{"+0,\"No error\"\n"},
              Enter{"+0,\"No error\"\n"}}},
        Case{"ResetEndsByItsDeadlineWhileLinesKeepComing", "GPIB0::9::INSTR", "9", 200ms, {ResetFlooded{}}},
        Case{"ClosedLineFailsAtOnce", "GPIB0::9::INSTR", "9", 1s,
             {Output{"*IDN?"}, Wire{"*IDN?\x1b\n\n" + kRead}, Hangs{}}}),
    [](const auto& row) { return std::string(row.param.name); });

// The clear finds the end of stale input by the controller's version line:
// an empty one would match the first stale line, so the open refuses it.
TEST(PrologixOpen, RefusesAnEmptyVersionLine) {
    ::unsetenv("CORVALEN_IO_ALIASES");
    peers::ConfigDir config;
    peers::TcpPeer peer;
    config.write("GPIB0::INTFC=PRLGX-TCPIP::127.0.0.1::" + std::to_string(peer.port()) + "::INTFC\n");
    std::thread controller([&] {
        if (!peer.accept()) return;
        (void)peer.receive(setupFor(300ms, "9").size());
        peer.send("\r\n");
    });
    Control control;
    control.setTimeout(300ms);
    try {
        control.OpenIO("GPIB0::9::INSTR");
        ADD_FAILURE() << "opened with an empty version line";
    } catch (const TimeoutError& error) {
        ADD_FAILURE() << error.what();
    } catch (const IoError& error) {
        EXPECT_NE(std::string(error.what()).find("answered ++ver with an empty line"), std::string::npos)
            << error.what();
    }
    controller.join();
}

// Which session a resource gets: a resource alias first, then its board's
// binding, then linux-gpib; the variable's entries before the file's.
struct Route {
    const char* name;
    std::string variable;  // CORVALEN_IO_ALIASES; "{P}" is the Prologix peer, "{S}" the socket peer
    std::string file;
    const char* resource;
    std::string opens;  // the open resource's name, or the start of the error
};

std::ostream& operator<<(std::ostream& out, const Route& row) { return out << row.name; }

std::string filled(std::string text, const std::string& prologix, const std::string& socket) {
    for (const auto& [mark, value] : {std::pair{std::string("{P}"), prologix}, std::pair{std::string("{S}"), socket}}) {
        for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark)) text.replace(at, 3, value);
    }
    return text;
}

class BoardBinding : public ::testing::TestWithParam<Route> {};

TEST_P(BoardBinding, OpensWhatTheAliasesSay) {
    const auto& row = GetParam();
    peers::ConfigDir config;
    peers::TcpPeer prologix;
    peers::TcpPeer socket;
    const auto prologixName = "PRLGX-TCPIP::127.0.0.1::" + std::to_string(prologix.port()) + "::INTFC";
    const auto socketName = "TCPIP0::127.0.0.1::" + std::to_string(socket.port()) + "::SOCKET";
    config.write(filled(row.file, prologixName, socketName));
    ::setenv("CORVALEN_IO_ALIASES", filled(row.variable, prologixName, socketName).c_str(), 1);
    std::thread controller([&] {
        if (prologix.accept(300ms)) {
            (void)prologix.receive(setupFor(300ms, "9").size(), 300ms);
            prologix.send(kVersion);
        }
    });
    Control control;
    control.setTimeout(300ms);
    std::string opened;
    ::testing::internal::CaptureStderr();
    try {
        control.OpenIO(row.resource);
        opened = control.openResource();
    } catch (const IoError& error) {
        opened = error.what();
    }
    const auto problems = ::testing::internal::GetCapturedStderr();
    controller.join();
    ::unsetenv("CORVALEN_IO_ALIASES");
    EXPECT_EQ(opened.substr(0, filled(row.opens, prologixName, socketName).size()),
              filled(row.opens, prologixName, socketName))
        << problems;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BoardBinding,
    ::testing::Values(
        Route{"UnboundBoardIsLinuxGpibs", "", "", "GPIB0::9::INSTR", "GPIB0::9::INSTR: OpenIO: GPIB needs linux-gpib"},
        Route{"FileBindsTheBoard", "", "GPIB0::INTFC={P}\n", "GPIB0::9::INSTR",
              "GPIB0::9::INSTR (board GPIB0 bound to {P})"},
        Route{"AnyBoardSpelling", "", "gpib::intfc = {P}\n", "GPIB::9", "GPIB0::9::INSTR (board GPIB0 bound to {P})"},
        Route{"OtherBoardsBindingDoesNotApply", "", "GPIB1::INTFC={P}\n", "GPIB0::9::INSTR",
              "GPIB0::9::INSTR: OpenIO: GPIB needs linux-gpib"},
        Route{"VariableWinsOverFile", "GPIB0::INTFC={P}", "GPIB0::INTFC=PRLGX-TCPIP::INTFC\n", "GPIB0::9::INSTR",
              "GPIB0::9::INSTR (board GPIB0 bound to {P})"},
        Route{"ResourceAliasWinsOverBoardBinding", "GPIB0::INTFC={P}", "GPIB0::9::INSTR={S}\n", "GPIB0::9::INSTR",
              "{S} (alias GPIB0::9::INSTR)"},
        Route{"AliasToAnInstrumentOnABoundBoard", "bench=GPIB0::9::INSTR;GPIB0::INTFC={P}", "", "bench",
              "GPIB0::9::INSTR (alias bench) (board GPIB0 bound to {P})"},
        Route{"AnotherLinuxGpibBoard", "GPIB0::INTFC=GPIB3::INTFC", "", "GPIB0::9::INSTR",
              "GPIB0::9::INSTR (board GPIB0 bound to GPIB3::INTFC): OpenIO: GPIB needs linux-gpib"},
        Route{"UnusableBindingNamesTheFix", "", "GPIB0::INTFC=PRLGX-TCPIP::INTFC\n", "GPIB0::9::INSTR",
              "GPIB0::9::INSTR: OpenIO: board GPIB0 is bound to \"PRLGX-TCPIP::INTFC\" ("},
        Route{"MalformedEntriesAreSkipped", "nonsense;GPIB0::INTFC={P}", "# only a comment\nno equals sign\n",
              "GPIB0::9::INSTR", "GPIB0::9::INSTR (board GPIB0 bound to {P})"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
