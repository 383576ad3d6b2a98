// SPDX-License-Identifier: MIT
// The selection dialog's Identify button and its search, on Qt's offscreen
// platform, inside the private network namespace that find_in_netns.py makes:
// a simulator serving inst0 on 10.231.0.1 that is also the Prologix
// controller of board GPIB0, and a simulator playing a LAN/GPIB gateway on
// 10.231.0.2 that board GPIB1 is bound to. The script passes addresses and
// identities in TQ_FIND_* variables.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTextDocument>
#include <QTreeWidget>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <thread>

#include "corvalenlib/discovery/discovery.h"
#include "corvalenlib/widgets/find_panel.h"
#include "corvalenlib/widgets/gpib_binding_panel.h"
#include "corvalenlib/widgets/select_io_dialog.h"
#include "peers.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using namespace std::chrono_literals;
using CorvalenLib::FindPanel;
using CorvalenLib::SelectIoDialog;

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

class Find : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "find_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    }

    void SetUp() override {
        if (variable("TQ_FIND_INST0").empty()) GTEST_SKIP() << "runs only inside find_in_netns.py's namespace";
    }

    // Runs the event loop until signal comes, for at most bound.
    template <typename Sender, typename Signal>
    static bool waitFor(Sender* sender, Signal signal, std::chrono::milliseconds bound) {
        QEventLoop loop;
        bool came = false;
        QObject::connect(sender, signal, &loop, [&] {
            came = true;
            loop.quit();
        });
        QTimer::singleShot(bound, &loop, &QEventLoop::quit);
        loop.exec();
        return came;
    }

    static std::map<std::string, std::string> instrumentsOf(const FindPanel& panel) {
        std::map<std::string, std::string> found;
        for (const auto& row : panel.rows()) {
            if (row.takeable) found[row.resource.toStdString()] = row.identity.toStdString();
        }
        return found;
    }

    static std::string listing(const FindPanel& panel) {
        std::string text;
        for (const auto& row : panel.rows()) text += row.resource.toStdString() + " | " + row.identity.toStdString() + "\n";
        return text + panel.status().toStdString();
    }

    const std::string inst0_ = variable("TQ_FIND_INST0");
    const std::string gateway_ = variable("TQ_FIND_GATEWAY");
    const std::string idnA_ = variable("TQ_FIND_IDN_A");
    const std::string idnB_ = variable("TQ_FIND_IDN_B");
    const std::string mdns_ = variable("TQ_FIND_MDNS");  // set where an Avahi daemon runs
};

TEST_F(Find, ListsBothSimulatorsOnTheLanAndExactlyAddressNineOnTheChosenBoard) {
    const std::string lanA = "TCPIP0::" + inst0_ + "::inst0::INSTR";
    const std::string lanB = "TCPIP0::" + gateway_ + "::gpib0,9::INSTR";
    struct Case {
        int board;
        std::string idn;  // board 0: the Prologix controller in front of A; board 1: gateway B
    };
    for (const Case& c : {Case{0, idnA_}, Case{1, idnB_}}) {
        SCOPED_TRACE("board GPIB" + std::to_string(c.board));
        SelectIoDialog dialog;
        dialog.setGpibBoard(c.board);
        dialog.show();
        dialog.findPanel().startSearch();
        ASSERT_TRUE(waitFor(&dialog.findPanel(), &FindPanel::searchFinished, 20s));
        const auto& panel = dialog.findPanel();
        const std::string gpib = "GPIB" + std::to_string(c.board) + "::9::INSTR";
        std::map<std::string, std::string> expected{{lanA, idnA_}, {lanB, idnB_}, {gpib, c.idn}};
        // A's raw socket is announced by mDNS only.
        if (!mdns_.empty()) expected[mdns_] = idnA_;
        std::map<std::string, std::string> found = instrumentsOf(panel);
        std::erase_if(found, [](const auto& entry) { return entry.first.starts_with("ASRL"); });
        EXPECT_EQ(found, expected) << listing(panel);
        const auto rows = panel.rows();
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const FindPanel::Row& row) {
            return row.resource.toStdString() == "TCPIP0::" + gateway_ + "::gpib0::INTFC" && !row.takeable;
        })) << listing(panel);
        // Without a daemon one line says so; with one, nothing about mDNS.
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                                [](const FindPanel::Row& row) { return row.note && row.resource.startsWith("mDNS:"); }),
                  mdns_.empty() ? 1 : 0)
            << listing(panel);
        ASSERT_TRUE(dialog.findPanel().select(QString::fromStdString(lanB)));
        EXPECT_EQ(dialog.resourceText(), lanB);
        ASSERT_TRUE(dialog.findPanel().select(QString::fromStdString("TCPIP0::" + gateway_ + "::gpib0::INTFC")));
        EXPECT_EQ(dialog.gpibBinding().controllerText(), "TCPIP::" + gateway_ + "::gpib0::INTFC");
    }
}

TEST_F(Find, IdentifiesAGoodASilentAndARefusedAddressWithinItsBounds) {
    peers::TcpPeer silent;  // takes the connection and never answers
    std::string refused;
    {
        peers::TcpPeer closed;
        refused = closed.resource();
    }
    struct Case {
        std::string resource;
        bool answered;
        std::string text;  // the reply, or a part of the error
        long long boundMs;
    };
    const Case cases[] = {
        {"TCPIP0::" + inst0_ + "::inst0::INSTR", true, idnA_, 1000},
        {"GPIB0::9::INSTR", true, idnA_, 1000},  // through the board's controller, as Run would
        {silent.resource(), false, "*IDN?: no reply within 500 ms", 1500},
        {refused, false, "refused", 1000},
    };
    SelectIoDialog dialog;
    CorvalenLib::IoLimits limits;
    limits.timeout = 500ms;
    limits.connectTimeout = 500ms;
    dialog.setProbeLimits(limits);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resource);
        dialog.setResourceText(c.resource);
        const auto start = std::chrono::steady_clock::now();
        dialog.identifyBar().identify();
        ASSERT_TRUE(waitFor(&dialog.identifyBar(), &CorvalenLib::IdentifyBar::finished, 5s));
        const auto& identity = *dialog.identifyBar().lastIdentity();
        EXPECT_EQ(identity.answered, c.answered) << identity.text;
        if (c.answered) EXPECT_EQ(identity.text, c.text);
        else EXPECT_NE(identity.text.find(c.text), std::string::npos) << identity.text;
        EXPECT_LE(peers::millisecondsSince(start), c.boundMs);
    }
    // A result stands for what is on screen: a change, even to a malformed
    // resource, clears it.
    dialog.editResourceText("TCPIP0::" + QString::fromStdString(inst0_) + "::inst0::INSTR");
    dialog.identifyBar().identify();
    ASSERT_TRUE(waitFor(&dialog.identifyBar(), &CorvalenLib::IdentifyBar::finished, 5s));
    ASSERT_TRUE(dialog.identifyBar().result().startsWith(QString::fromStdString(idnA_)));
    dialog.editResourceText("TCPIP0::" + QString::fromStdString(inst0_) + "::inst0::INSTRX");
    EXPECT_FALSE(dialog.problem().isEmpty());
    EXPECT_EQ(dialog.identifyBar().result(), "");
    EXPECT_FALSE(dialog.identifyBar().lastIdentity());

    // Cancelled: the dialog forgets the probe at once and shows nothing of it.
    dialog.setResourceText(silent.resource());
    dialog.identifyBar().identify();
    dialog.identifyBar().cancel();
    EXPECT_FALSE(dialog.identifyBar().running());
    EXPECT_FALSE(waitFor(&dialog.identifyBar(), &CorvalenLib::IdentifyBar::finished, 800ms));
    EXPECT_EQ(dialog.identifyBar().result(), "Cancelled");
}

TEST_F(Find, WritesToASerialPortOnlyWhenTheOperatorTicksTheProbe) {
    for (const bool tick : {false, true}) {
        SCOPED_TRACE(tick ? "ticked" : "not ticked");
        peers::PtyPeer port;
        std::string heard;
        // Plays a Prologix GPIB-USB controller on the line.
        std::jthread controller([&] {
            heard = port.receive(6, 3s);
            if (heard == "++ver\n") port.send("Prologix GPIB-USB Controller version 6.107\r\n");
        });
        SelectIoDialog dialog;
        FindPanel& panel = dialog.findPanel();
        // Only the test's own line: the machine's serial ports are not ours to write to.
        panel.setPlanSource([&] {
            CorvalenLib::FindPlan plan;
            plan.serialPorts = {port.device()};
            return plan;
        });
        panel.setProbeSerialPorts(tick);
        panel.startSearch();
        ASSERT_TRUE(waitFor(&panel, &FindPanel::searchFinished, 20s));
        controller.join();
        const auto rows = panel.rows();
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const FindPanel::Row& r) {
            return r.resource.contains(QString::fromStdString(port.device()));
        });
        ASSERT_NE(row, rows.end()) << listing(panel);
        if (tick) {
            EXPECT_EQ(heard, "++ver\n");
            EXPECT_EQ(row->resource.toStdString(), "PRLGX-ASRL" + port.device() + "::INTFC");
            EXPECT_EQ(row->identity.toStdString(), "Prologix GPIB-USB Controller version 6.107");
            // Picked, the controller is offered to the GPIB page for binding.
            ASSERT_TRUE(panel.select(row->resource));
            EXPECT_EQ(dialog.gpibBinding().controllerText(), row->resource.toStdString());
        } else {
            EXPECT_EQ(heard, "");
            EXPECT_EQ(row->resource.toStdString(), port.resource());
        }
    }
}

// Find lists what exists and says why a board was not searched.
TEST_F(Find, ListsOnlySerialPortsThatExistAndSaysWhenTheBoardCannotBeOpened) {
    SelectIoDialog dialog;
    dialog.chooseInterface(SelectIoDialog::Interface::Serial);
    dialog.setSerialPort("/dev/ttyUSB97");  // typed, and no such device
    dialog.chooseInterface(SelectIoDialog::Interface::Gpib);
    dialog.setGpibBoard(2);  // unbound, and linux-gpib is not here
    dialog.findPanel().startSearch();
    ASSERT_TRUE(waitFor(&dialog.findPanel(), &FindPanel::searchFinished, 20s));
    const auto rows = dialog.findPanel().rows();
    EXPECT_FALSE(std::any_of(rows.begin(), rows.end(), [](const FindPanel::Row& row) {
        return row.resource.contains("ttyUSB97");
    })) << listing(dialog.findPanel());
    const auto note = std::find_if(rows.begin(), rows.end(),
                                   [](const FindPanel::Row& row) { return row.note && row.resource.startsWith("GPIB2:"); });
    ASSERT_NE(note, rows.end()) << listing(dialog.findPanel());
    EXPECT_TRUE(note->resource.startsWith("GPIB2: could not be opened, so no address was asked: "))
        << note->resource.toStdString();
}

// What a device says is shown as it is, never read as markup: an "<img>"
// would make Qt load what it names on the window's thread.
TEST_F(Find, ShowsWhatADeviceSaysLiterallyInIdentifyAndInTheList) {
    const std::string replies[] = {R"(CORVALEN,TQ820A,<img src="/dev/zero">,1.0)", "<b>x</b>", "a &amp; b <br>c"};
    // What Qt shows for a tooltip, which it reads as rich text when it looks like markup.
    const auto shownTip = [](const QString& tip) {
        QTextDocument document;
        document.setHtml(tip);
        return document.toPlainText().toStdString();
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        SelectIoDialog dialog;
        peers::TcpPeer instrument;
        std::jthread answer([&] {
            if (instrument.accept(3s) && instrument.receive(6, 3s) == "*IDN?\n") instrument.send(reply + "\n");
        });
        dialog.setResourceText(instrument.resource());
        dialog.identifyBar().identify();
        ASSERT_TRUE(waitFor(&dialog.identifyBar(), &CorvalenLib::IdentifyBar::finished, 5s));
        const auto* label = dialog.findChild<QLabel*>("identifyResult");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_TRUE(label->text().startsWith(QString::fromStdString(reply + "  ("))) << label->text().toStdString();
        EXPECT_EQ(shownTip(label->toolTip()), label->text().toStdString());

        // A serial device that answers "++ver" with markup, found by the search.
        peers::PtyPeer port;
        std::jthread controller([&] {
            if (port.receive(6, 3s) == "++ver\n") port.send("Prologix " + reply + "\r\n");
        });
        FindPanel& panel = dialog.findPanel();
        panel.setPlanSource([&] {
            CorvalenLib::FindPlan plan;
            plan.broadcastWindow = 100ms;
            plan.mdnsWindow = 100ms;
            plan.serialPorts = {port.device()};
            return plan;
        });
        panel.setProbeSerialPorts(true);
        panel.startSearch();
        ASSERT_TRUE(waitFor(&panel, &FindPanel::searchFinished, 20s));
        const auto* list = dialog.findChild<QTreeWidget*>("found");
        ASSERT_NE(list, nullptr);
        const auto items = list->findItems(QString::fromStdString("PRLGX-ASRL" + port.device() + "::INTFC"),
                                           Qt::MatchExactly, 0);
        ASSERT_EQ(items.size(), 1) << listing(panel);
        EXPECT_EQ(items.front()->text(1).toStdString(), "Prologix " + reply);
        EXPECT_EQ(shownTip(items.front()->toolTip(1)), "Prologix " + reply);
        EXPECT_EQ(dialog.findChild<QLabel*>("findStatus")->textFormat(), Qt::PlainText);
    }
}

// Replies to the broadcast come from anyone on the LAN: only an accepted
// answer to our own call with a port in range names a VXI-11 server.
TEST(GetportReply, TakesOnlyAnAcceptedAnswerToOurCall) {
    auto words = [](std::initializer_list<std::uint32_t> list, std::string tail = {}) {
        std::string bytes;
        for (const auto word : list) {
            for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((word >> shift) & 0xFF);
        }
        return bytes + tail;
    };
    constexpr std::uint32_t kXid = 0x1234abcd;
    struct Case {
        const char* what;
        std::string datagram;
        std::optional<std::uint16_t> port;
    };
    const Case cases[] = {
        {"accepted", words({kXid, 1, 0, 0, 0, 0, 1024}), 1024},
        {"verifier of 5 bytes, padded", words({kXid, 1, 0, 1, 5}, std::string(8, 'v')) + words({0, 1024}), 1024},
        {"another call's xid", words({kXid + 1, 1, 0, 0, 0, 0, 1024}), std::nullopt},
        {"a call, not a reply", words({kXid, 0, 2, 100000, 2, 3}), std::nullopt},
        {"denied", words({kXid, 1, 1, 0, 2, 2}), std::nullopt},
        {"program unavailable", words({kXid, 1, 0, 0, 0, 1}), std::nullopt},
        {"not registered", words({kXid, 1, 0, 0, 0, 0, 0}), std::nullopt},
        {"port out of range", words({kXid, 1, 0, 0, 0, 0, 70000}), std::nullopt},
        {"verifier longer than the datagram", words({kXid, 1, 0, 1, 400, 0, 1024}), std::nullopt},
        {"verifier length beyond the RPC bound", words({kXid, 1, 0, 1, 0xFFFFFFFC}), std::nullopt},
        {"truncated", words({kXid, 1, 0, 0, 0, 0}, "\x04"), std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(CorvalenLib::decodeGetportReply(c.datagram, kXid), c.port) << c.what;
    EXPECT_EQ(CorvalenLib::encodeGetportCall(kXid).size(), 56u);
}

}  // namespace
