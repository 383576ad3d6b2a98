// SPDX-License-Identifier: MIT
// tq820-scan: scans a TQ820A data-acquisition instrument and lists its
// readings. Exit status: 0 after "Exit" or a closed window, 1 after a
// communication failure, 2 after a failed instrument check, 3 after errors
// reported by the instrument, 4 when there is no display to open the window
// on.
#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "corvalenlib/widgets/control.h"
#include "window/corvalen_exmpl.h"
#include "window/platform.h"

namespace {

// What Qt says while it opens the display, held back. When no display can
// be opened Qt writes several lines and aborts (status 134); the program
// ends instead with one line that names the cause and a status of its own.
struct StartupMessage {
    std::string text;       // the message alone, for the cause
    std::string formatted;  // as Qt would have written it
};
std::vector<StartupMessage> startupMessages;

bool isSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0';
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// Qt's own first complaint ("could not connect to display :7") says more
// than its closing fatal message, which is the same whatever went wrong.
std::string noDisplayCause(const std::string& fatal) {
    if (!isSet("QT_QPA_PLATFORM") && !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
        return "no display to open the window on: neither DISPLAY nor WAYLAND_DISPLAY is set";
    }
    const std::string said = startupMessages.empty() ? fatal : startupMessages.front().text;
    return "cannot open the window: " + firstLine(said);
}

void holdStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string text = message.toStdString();
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "tq820-scan: %s\n", noDisplayCause(text).c_str());
        std::_Exit(tq::kExitNoDisplay);
    }
    startupMessages.push_back({text, qFormatLogMessage(type, context, message).toStdString()});
}

// The display is open: what Qt said meanwhile goes out after all.
void releaseStartupMessages(QtMessageHandler previous) {
    qInstallMessageHandler(previous);
    for (const StartupMessage& held : startupMessages) {
        std::fprintf(stderr, "%s\n", held.formatted.c_str());
    }
    startupMessages.clear();
}

}  // namespace

int main(int argc, char* argv[]) {
    const QtMessageHandler previous = qInstallMessageHandler(holdStartupMessage);
    QApplication app(argc, argv);
    releaseStartupMessages(previous);
    // Ties the window to its desktop entry and installed icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tq820-scan"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tq820-scan")));
    auto control = std::make_unique<CorvalenLib::Control>();
    CorvalenLib::Control& io = *control;
    CorvalenExmpl window(std::move(control), tq::Platform::production());
    io.setDialogParent(&window);
    return QApplication::exec();
}
