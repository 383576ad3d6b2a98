// SPDX-License-Identifier: MIT
// How long the Select I/O dialog's search takes to list instruments, and how
// long its thread is ever kept from repainting meanwhile. Runs inside
// tests/corvalenlib/find_in_netns.py's network (--bench), which passes the
// simulators' addresses in TQ_FIND_* variables:
//   tests/support/in-netns python3 tests/corvalenlib/find_in_netns.py
//       build/sim/tq820-sim build/bench/tq820-find-bench --bench
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <vector>

#include "corvalenlib/widgets/find_panel.h"
#include "corvalenlib/widgets/select_io_dialog.h"

namespace {

constexpr int kRounds = 5;
constexpr int kTickMs = 5;

struct Round {
    qint64 lanMs = -1;   // first identified LAN instrument listed
    qint64 gpibMs = -1;  // the board's listener listed
    qint64 doneMs = -1;  // whole search over
    qint64 stallMs = 0;  // longest gap between two ticks of the GUI thread's timer
};

// One search from the dialog's first showing, watched by a timer on the GUI
// thread: a late tick is time the thread could not repaint.
Round searchOnce(int board, const std::function<void(CorvalenLib::SelectIoDialog&)>& atEnd = {}) {
    CorvalenLib::SelectIoDialog dialog;
    dialog.setGpibBoard(board);
    Round round;
    QElapsedTimer clock;
    QTimer ticker;
    qint64 lastTick = 0;
    const QString gpib = QStringLiteral("GPIB%1::9::INSTR").arg(board);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        round.stallMs = std::max(round.stallMs, now - lastTick);
        lastTick = now;
        for (const auto& row : dialog.findPanel().rows()) {
            if (!row.takeable || row.identity.isEmpty()) continue;
            if (round.lanMs < 0 && row.resource.startsWith("TCPIP")) round.lanMs = now;
            if (round.gpibMs < 0 && row.resource == gpib) round.gpibMs = now;
        }
    });
    QObject::connect(&dialog.findPanel(), &CorvalenLib::FindPanel::searchFinished, [&] {
        round.doneMs = clock.elapsed();
        if (atEnd) atEnd(dialog);
        QApplication::quit();
    });
    if (atEnd) dialog.resize(820, 780);  // room for the identities in the picture
    clock.start();
    dialog.show();
    dialog.findPanel().startSearch();
    ticker.start(kTickMs);
    lastTick = clock.elapsed();  // from here on the search runs
    QTimer::singleShot(30'000, [] { QApplication::quit(); });
    QApplication::exec();
    return round;
}

qint64 median(std::vector<qint64> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void printRow(const char* what, const std::vector<Round>& rounds, qint64 Round::*field) {
    std::vector<qint64> values;
    for (const auto& round : rounds) values.push_back(round.*field);
    std::printf("  %-44s median %5lld ms  max %5lld ms\n", what, static_cast<long long>(median(values)),
                static_cast<long long>(*std::max_element(values.begin(), values.end())));
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("TQ_FIND_INST0") == nullptr) {
        std::fputs("tq820-find-bench: run me through find_in_netns.py --bench\n", stderr);
        return 2;
    }
    QApplication application(argc, argv);
    // --screenshot PATH: the dialog after a search, an instrument picked and
    // identified, as the README shows it.
    if (argc == 3 && std::string_view(argv[1]) == "--screenshot") {
        searchOnce(0, [path = QString::fromLocal8Bit(argv[2])](CorvalenLib::SelectIoDialog& dialog) {
            dialog.findPanel().select(QStringLiteral("TCPIP0::%1::inst0::INSTR").arg(qgetenv("TQ_FIND_INST0")));
            QEventLoop wait;
            QObject::connect(&dialog.identifyBar(), &CorvalenLib::IdentifyBar::finished, &wait, &QEventLoop::quit);
            dialog.identifyBar().identify();
            wait.exec();
            dialog.grab().save(path);
        });
        return 0;
    }
    struct Board {
        int number;
        const char* bound;
    };
    for (const Board board : {Board{0, "Prologix controller over TCP"}, Board{1, "VXI-11 gateway"}}) {
        std::vector<Round> rounds;
        for (int i = 0; i < kRounds; ++i) rounds.push_back(searchOnce(board.number));
        std::printf("Search from the dialog's showing, board GPIB%d bound to a %s, %d rounds:\n", board.number,
                    board.bound, kRounds);
        printRow("first identified LAN instrument listed", rounds, &Round::lanMs);
        printRow("the listener at address 9 listed", rounds, &Round::gpibMs);
        printRow("whole search over (all 30 addresses asked)", rounds, &Round::doneMs);
        printRow("longest stall of the dialog's thread", rounds, &Round::stallMs);
    }
    return 0;
}
