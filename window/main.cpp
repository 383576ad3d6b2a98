// SPDX-License-Identifier: MIT
// tq820-scan: scans a TQ820A data-acquisition instrument and lists its
// readings. Exit status: 0 after "Exit" or a closed window, 1 after a
// communication failure, 2 after a failed instrument check, 3 after errors
// reported by the instrument.
#include <QApplication>
#include <QIcon>

#include <memory>

#include "corvalenlib/widgets/control.h"
#include "window/corvalen_exmpl.h"
#include "window/platform.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Ties the window to its desktop entry and installed icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tq820-scan"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tq820-scan")));
    auto control = std::make_unique<CorvalenLib::Control>();
    CorvalenLib::Control& io = *control;
    CorvalenExmpl window(std::move(control), tq::Platform::production());
    io.setDialogParent(&window);
    return QApplication::exec();
}
