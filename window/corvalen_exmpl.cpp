// SPDX-License-Identifier: MIT
#include "window/corvalen_exmpl.h"

#include <QCoreApplication>
#include <QListWidget>
#include <QPushButton>
#include <QString>

#include <cmath>
#include <iostream>
#include <utility>

#include "window/tab_list_delegate.h"

namespace {

// The layout is designed in twips; at 96 dots per inch 15 twips make one
// device-independent pixel, which Qt scales for HiDPI screens.
constexpr int kTwipsPerPixel = 15;

int pixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

QRect twipRect(int left, int top, int width, int height) {
    return {pixels(left), pixels(top), pixels(width), pixels(height)};
}

const char* const kDesignAddress = "GPIB0::9::INSTR";
const char* const kFailureTitle = "Example Program";
const char* const kFailureText =
    "Unable to communicate with instrument;\ncheck the instrument address.";

QPushButton* makeButton(const char* name, const char* caption, QRect geometry, QWidget* parent) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

CorvalenExmpl::CorvalenExmpl(std::unique_ptr<CorvalenLib::Corvalen> control, tq::Platform platform,
                             QWidget* parent)
    : QWidget(parent), Instr_TQ820(std::move(control)), platform_(std::move(platform)) {
    setObjectName(QStringLiteral("CorvalenExmpl"));
    setWindowTitle(QStringLiteral("Corvalen Control Example"));
    setFixedSize(pixels(5070), pixels(4605));

    SelectIO = makeButton("SelectIO", "Select I/O", twipRect(1748, 120, 1575, 495), this);
    // Instr_TQ820 has its design place at (240, 3720) but does not show at
    // run time; it keeps its design-time address.
    Instr_TQ820->setAddress(kDesignAddress);
    GetReadings = makeButton("GetReadings", "Run", twipRect(1748, 840, 1575, 495), this);
    Exit = makeButton("Exit", "Exit", twipRect(1748, 3840, 1575, 495), this);

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twipRect(368, 1440, 4335, 2205));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(false);
    List1->setItemDelegate(new tq::TabListDelegate(List1));

    setTabOrder(SelectIO, GetReadings);
    setTabOrder(GetReadings, Exit);
    setTabOrder(Exit, List1);
    SelectIO->setFocus();

    connectClick(SelectIO, &CorvalenExmpl::SelectIO_Click);
    connectClick(GetReadings, &CorvalenExmpl::GetReadings_Click);
    connectClick(Exit, &CorvalenExmpl::Exit_Click);

    Form_Load();
}

CorvalenExmpl::~CorvalenExmpl() = default;

void CorvalenExmpl::connectClick(QPushButton* button, void (CorvalenExmpl::*handler)()) {
    connect(button, &QPushButton::clicked, this, [this, handler] {
        try {
            (this->*handler)();
        } catch (const tq::ProgramEnd&) {
            // The program has ended (only an end seam that cannot stop the
            // process gets here); nothing more of the handler runs.
        }
    });
}

void CorvalenExmpl::Form_Load() {
    setEnabled(true);
    show();
    // The window goes on the screen now, while loading goes on: let the
    // window system map it (no operator input is handled here), then paint.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
    List1->setEnabled(true);
    List1->show();
    showInstructions();
    io_opened = false;
}

void CorvalenExmpl::showInstructions() {
    appendLine("Select the I/O type or address.");
    appendLine("Then click on \"Get Readings\" to trigger instrument.");
    appendLine("Will take some time.");
}

void CorvalenExmpl::appendLine(const std::string& line) {
    List1->addItem(QString::fromStdString(line));
}

void CorvalenExmpl::repaintList() {
    // The thread stays busy with the instrument, so the list is laid out and
    // painted now rather than when the event loop would get to it.
    List1->doItemsLayout();
    List1->repaint();
    List1->viewport()->repaint();
}

// The opening sequence of both instrument buttons.
void CorvalenExmpl::openConnection() {
    io_address = Instr_TQ820->address();
    Instr_TQ820->OpenIO(io_address);
    if (Instr_TQ820->IO().InterfaceType() == "ASRL") {
        // A serial instrument must be put into remote operation and given a
        // moment before it takes commands.
        Instr_TQ820->Output("SYSTem:REMote");
        delay(1000.0F);
    }
}

void CorvalenExmpl::SelectIO_Click() {
    try {
        Instr_TQ820->SelectIODialog();
        openConnection();
        io_opened = true;
    } catch (const std::exception& cause) {
        failurePath(cause);
    }
}

void CorvalenExmpl::GetReadings_Click() {
    try {
        if (!io_opened) {
            openConnection();
        }
        io_opened = true;
        RunProg();
    } catch (const std::exception& cause) {
        failurePath(cause);
    }
}

void CorvalenExmpl::Exit_Click() {
    endProgram(tq::kExitNormal);
}

void CorvalenExmpl::End_Prog() {
    if (io_opened) {
        Instr_TQ820->CloseIO();
    }
    endProgram(tq::kExitFailedCheck);
}

// The one place where a failure of the instrument buttons ends: the operator
// sees one fixed message, the cause goes to standard error.
void CorvalenExmpl::failurePath(const std::exception& cause) {
    std::cerr << "tq820-scan: " << cause.what() << std::endl;
    platform_.message(kFailureTitle, kFailureText, tq::MessageIcon::Exclamation);
    try {
        Instr_TQ820->CloseIO();
    } catch (const std::exception& second) {
        std::cerr << "tq820-scan: closing the connection failed too: " << second.what()
                  << std::endl;
    }
    endProgram(tq::kExitCommunicationFailure);
}

void CorvalenExmpl::failedCheck(const std::string& text) {
    platform_.message("Corvalen Example Program", text, tq::MessageIcon::Exclamation);
    End_Prog();
}

void CorvalenExmpl::endProgram(int status) {
    platform_.end(status);
    // An end seam must not return; if one does, stop rather than go on.
    std::cerr << "tq820-scan: the program did not end when it should have" << std::endl;
    std::abort();
}
