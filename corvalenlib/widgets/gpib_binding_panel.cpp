// SPDX-License-Identifier: MIT
#include "corvalenlib/widgets/gpib_binding_panel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QStackedWidget>
#include <cstdlib>
#include <sstream>
#include <variant>

#include "corvalenlib/core/alias_file.h"
#include "corvalenlib/core/resource.h"
#include "corvalenlib/widgets/plain_text.h"
#include "corvalenlib/widgets/select_io_dialog.h"
#include "io/corvalen.h"

namespace CorvalenLib {
namespace {

std::string bracketedHost(const QString& text) {
    auto host = text.trimmed().toStdString();
    if (host.find(':') != std::string::npos && !host.starts_with('[')) host = "[" + host + "]";
    return host;
}

std::string withoutBrackets(const std::string& host) {
    return host.size() > 2 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
}

}  // namespace

GpibBindingPanel::GpibBindingPanel(QWidget* parent)
    : QWidget(parent), bound_(plainLabel()), controller_(new QComboBox), fields_(new QStackedWidget),
      status_(messageLabel()), problems_(plainLabel()) {
    controller_->addItem(tr("linux-gpib (a GPIB card)"));
    controller_->addItem(tr("Prologix GPIB-USB"));
    controller_->addItem(tr("Prologix GPIB-ETHERNET"));
    controller_->addItem(tr("VXI-11 LAN/GPIB gateway"));
    fields_->addWidget(new QWidget);
    fields_->addWidget(makeSerialFields());
    fields_->addWidget(makeLanFields());
    fields_->addWidget(makeGatewayFields());
    auto* save = new QPushButton(tr("Sa&ve binding"));
    save->setObjectName(QStringLiteral("saveBinding"));

    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(tr("Bound to:"), bound_);
    form->addRow(problems_);
    form->addRow(tr("&Controller:"), controller_);
    form->addRow(fields_);
    form->addRow(save, status_);
    connect(controller_, &QComboBox::currentIndexChanged, fields_, &QStackedWidget::setCurrentIndex);
    connect(save, &QPushButton::clicked, this, &GpibBindingPanel::save);
    connect(controller_, &QComboBox::currentIndexChanged, this, &GpibBindingPanel::fieldsChanged);
    connect(serialPort_, &QComboBox::currentTextChanged, this, &GpibBindingPanel::fieldsChanged);
    connect(host_, &QLineEdit::textChanged, this, &GpibBindingPanel::fieldsChanged);
    connect(port_, &QSpinBox::valueChanged, this, &GpibBindingPanel::fieldsChanged);
    connect(gatewayHost_, &QLineEdit::textChanged, this, &GpibBindingPanel::fieldsChanged);
    setBoard(0);
}

QWidget* GpibBindingPanel::makeSerialFields() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->setContentsMargins(0, 0, 0, 0);
    serialPort_ = new QComboBox;
    serialPort_->setEditable(true);
    for (const auto& info : QSerialPortInfo::availablePorts()) serialPort_->addItem(info.systemLocation());
    if (serialPort_->count() == 0) serialPort_->addItem(QStringLiteral("/dev/ttyUSB0"));
    form->addRow(tr("Serial p&ort:"), serialPort_);
    return page;
}

QWidget* GpibBindingPanel::makeLanFields() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->setContentsMargins(0, 0, 0, 0);
    host_ = new QLineEdit;
    host_->setPlaceholderText(tr("host name or address"));
    port_ = new QSpinBox;
    port_->setRange(1, 65535);
    port_->setValue(kPrologixPort);
    form->addRow(tr("Controller &host:"), host_);
    form->addRow(tr("Controller p&ort:"), port_);
    return page;
}

QWidget* GpibBindingPanel::makeGatewayFields() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->setContentsMargins(0, 0, 0, 0);
    gatewayHost_ = new QLineEdit;
    gatewayHost_->setPlaceholderText(tr("host name or address"));
    form->addRow(tr("Gateway &host:"), gatewayHost_);
    return page;
}

void GpibBindingPanel::chooseController(Controller chosen) { controller_->setCurrentIndex(static_cast<int>(chosen)); }
void GpibBindingPanel::setSerialPort(const QString& port) { serialPort_->setCurrentText(port); }
void GpibBindingPanel::setHost(const QString& host) { host_->setText(host); }
void GpibBindingPanel::setPort(int port) { port_->setValue(port); }
void GpibBindingPanel::setGatewayHost(const QString& host) { gatewayHost_->setText(host); }
QString GpibBindingPanel::boundText() const { return bound_->text(); }
QString GpibBindingPanel::statusText() const { return status_->text(); }
QString GpibBindingPanel::problemsText() const { return problems_->text(); }

QStringList GpibBindingPanel::offeredSerialPorts() const {
    QStringList ports;
    for (int i = 0; i < serialPort_->count(); ++i) ports << serialPort_->itemText(i);
    return ports;
}

std::string GpibBindingPanel::controllerText() const {
    switch (static_cast<Controller>(controller_->currentIndex())) {
        case Controller::LinuxGpib: return {};
        case Controller::PrologixSerial: {
            auto line = serialResourceFor(serialPort_->currentText().trimmed().toStdString());
            line.replace(line.size() - std::string_view("INSTR").size(), std::string::npos, "INTFC");
            return "PRLGX-" + line;
        }
        case Controller::PrologixLan:
            return "PRLGX-TCPIP::" + bracketedHost(host_->text()) + "::" + std::to_string(port_->value()) + "::INTFC";
        case Controller::VxiGateway: return "TCPIP::" + bracketedHost(gatewayHost_->text()) + "::gpib0::INTFC";
    }
    return {};
}

bool GpibBindingPanel::showsBindingInForce() const {
    const auto aliases = loadAliases().aliases;
    const Alias* binding = findBoardBinding(aliases, board_);
    const auto shown = controllerText();
    if (binding == nullptr || shown.empty()) return binding == nullptr && shown.empty();
    try {
        return parseInterface(binding->resource) == parseInterface(shown);
    } catch (const IoError&) {
        return false;
    }
}

std::vector<Alias> GpibBindingPanel::withFieldsBinding(std::vector<Alias> aliases) const {
    while (const Alias* binding = findBoardBinding(aliases, board_)) aliases.erase(aliases.begin() + (binding - aliases.data()));
    const auto shown = controllerText();
    if (!shown.empty()) {
        aliases.insert(aliases.begin(), Alias{"GPIB" + std::to_string(board_) + "::INTFC", shown, "the GPIB page, not saved"});
    }
    return aliases;
}

void GpibBindingPanel::setBoard(int board) {
    board_ = board;
    status_->clear();
    showBinding();
}

void GpibBindingPanel::showBinding() {
    const auto loaded = loadAliases();
    showProblems(loaded.problems);
    const auto& aliases = loaded.aliases;
    const Alias* binding = findBoardBinding(aliases, board_);
    const auto board = QStringLiteral("GPIB%1").arg(board_);
    if (binding == nullptr) {
        bound_->setText(tr("%1: linux-gpib (not bound to a controller)").arg(board));
        chooseController(Controller::LinuxGpib);
        return;
    }
    bound_->setText(tr("%1: %2 (%3)")
                        .arg(board, QString::fromStdString(binding->resource), QString::fromStdString(binding->origin)));
    fillFieldsFrom(binding->resource);
}

// Shown here, not only on standard error at the next Run: a line the
// operator believes binds the board may have been skipped.
void GpibBindingPanel::showProblems(const std::vector<std::string>& problems) {
    QStringList lines;
    for (const auto& problem : problems) lines << QString::fromStdString(problem);
    problems_->setText(lines.join('\n'));
    problems_->setVisible(!lines.isEmpty());
}

void GpibBindingPanel::fillFieldsFrom(const std::string& controller) {
    Interface parsed;
    try {
        parsed = parseInterface(controller);
    } catch (const IoError&) {
        return;  // the label shows the text; an open names the fix
    }
    if (const auto* prologix = std::get_if<PrologixController>(&parsed)) {
        if (const auto* socket = std::get_if<SocketAddress>(&prologix->line)) {
            chooseController(Controller::PrologixLan);
            setHost(QString::fromStdString(withoutBrackets(socket->host)));
            setPort(socket->port);
        } else {
            chooseController(Controller::PrologixSerial);
            setSerialPort(QString::fromStdString(std::get<SerialAddress>(prologix->line).device));
        }
    } else if (const auto* gateway = std::get_if<VxiGateway>(&parsed)) {
        chooseController(Controller::VxiGateway);
        setGatewayHost(QString::fromStdString(withoutBrackets(gateway->host)));
    } else {
        chooseController(Controller::LinuxGpib);
    }
}

bool GpibBindingPanel::save() {
    const auto controller = controllerText();
    try {
        if (!controller.empty()) (void)parseInterface(controller);
        saveBoardBinding(board_, controller);
    } catch (const IoError& error) {
        status_->setText(tr("Not saved: %1").arg(QString::fromUtf8(error.what())));
        return false;
    }
    status_->setText(tr("Saved in %1.").arg(QString::fromStdString(aliasFilePath())));
    showBinding();
    // The variable's entries come first, so a binding of its own is the one found.
    const auto aliases = loadAliases().aliases;
    const Alias* binding = findBoardBinding(aliases, board_);
    if (binding != nullptr && binding->origin == "CORVALEN_IO_ALIASES") {
        status_->setText(status_->text() + tr(" CORVALEN_IO_ALIASES binds this board too, and wins over the file."));
    }
    return true;
}

}  // namespace CorvalenLib
