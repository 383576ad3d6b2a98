// SPDX-License-Identifier: MIT
#include "window/platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace tq {
namespace {

void showMessageBox(const std::string& title, const std::string& text, MessageIcon icon) {
    const QMessageBox::Icon qtIcon =
        icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Warning;
    QMessageBox box(qtIcon, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    // The text may quote the instrument (its error messages): never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

double steadySeconds() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceStart).count();
}

[[noreturn]] void endProcess(int status) {
    // Nothing after this runs: no destructor, no event loop, no further
    // instrument traffic. What was written so far must still reach the user.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace

Platform Platform::production() {
    return Platform{showMessageBox, steadySeconds, endProcess};
}

}  // namespace tq
