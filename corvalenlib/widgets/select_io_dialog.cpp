// SPDX-License-Identifier: MIT
#include "corvalenlib/widgets/select_io_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "corvalenlib/widgets/find_panel.h"
#include "corvalenlib/widgets/gpib_binding_panel.h"
#include "corvalenlib/widgets/plain_text.h"
#include "corvalenlib/core/alias_file.h"
#include "corvalenlib/discovery/serial_ports.h"
#include "corvalenlib/core/resource.h"
#include "io/corvalen.h"

namespace CorvalenLib {
namespace {

constexpr int kDefaultSocketPort = 5025;
const int kBaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

template <typename Value>
void selectData(QComboBox* box, Value value) {
    const int index = box->findData(QVariant::fromValue(static_cast<int>(value)));
    if (index >= 0) box->setCurrentIndex(index);
}

template <typename Value>
Value dataOf(const QComboBox* box) {
    return static_cast<Value>(box->currentData().toInt());
}

// The forms nested in page (the binding's fields) start their fields at the
// same x as page's own: every label column gets the widest label's width.
void alignFormLabels(QWidget* page) {
    QList<QWidget*> labels;
    int widest = 0;
    for (auto* form : page->findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            auto* item = form->itemAt(row, QFormLayout::LabelRole);
            if (item == nullptr || item->widget() == nullptr) continue;
            labels << item->widget();
            widest = std::max(widest, item->widget()->sizeHint().width());
        }
    }
    for (auto* label : labels) label->setMinimumWidth(widest);
}

}  // namespace

SelectIoDialog::SelectIoDialog(QWidget* parent)
    : QDialog(parent), interface_(new QComboBox), pages_(new QStackedWidget), resource_(new QLineEdit),
      problem_(messageLabel()) {
    setWindowTitle(tr("Select I/O"));
    setModal(true);
    interface_->addItem(tr("GPIB"));
    interface_->addItem(tr("Serial line"));
    interface_->addItem(tr("LAN socket"));
    interface_->addItem(tr("VXI-11"));
    pages_->addWidget(makeGpibPage());
    pages_->addWidget(makeSerialPage());
    pages_->addWidget(makeSocketPage());
    pages_->addWidget(makeVxi11Page());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    // Everything but OK and Cancel scrolls, so that those stay on screen
    // however large the fonts or the scale.
    auto* content = new QWidget;
    auto* form = new QFormLayout;
    form->addRow(tr("&Interface:"), interface_);
    auto* inner = new QVBoxLayout(content);
    inner->addLayout(form);
    inner->addWidget(pages_);
    auto* resourceForm = new QFormLayout;
    resourceForm->addRow(tr("&Resource:"), resource_);
    inner->addLayout(resourceForm);
    inner->addWidget(problem_);
    inner->addWidget(makeProbes(), 1);
    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addWidget(buttons);
    openWideEnough(content);

    connect(interface_, &QComboBox::currentIndexChanged, pages_, &QStackedWidget::setCurrentIndex);
    connect(interface_, &QComboBox::currentIndexChanged, this, [this] { composeFromFields(); });
    connect(resource_, &QLineEdit::textEdited, this, [this](const QString& text) {
        fillFieldsFrom(text);
        showProblem();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &SelectIoDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SelectIoDialog::reject);
    composeFromFields();
}

// Wide enough for a typical identity line and the search's status lines
// whole, as tall as the content wants; both within the screen.
void SelectIoDialog::openWideEnough(QWidget* content) {
    const int wide = 100 * fontMetrics().averageCharWidth();
    QSize size = content->sizeHint().expandedTo(QSize(wide, 0)) + QSize(24, 60);
    if (const QScreen* shown = screen()) size = size.boundedTo(shown->availableGeometry().size() * 9 / 10);
    resize(size);
}

QWidget* SelectIoDialog::makeGpibPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    gpibBoard_ = new QSpinBox;
    gpibBoard_->setRange(0, 99);
    gpibPrimary_ = new QSpinBox;
    gpibPrimary_->setRange(0, 30);
    gpibPrimary_->setValue(9);
    form->addRow(tr("&Board:"), gpibBoard_);
    form->addRow(tr("&Primary address:"), gpibPrimary_);
    for (auto* box : {gpibBoard_, gpibPrimary_}) {
        connect(box, &QSpinBox::valueChanged, this, [this] { composeFromFields(); });
    }
    gpibBinding_ = new GpibBindingPanel;
    form->addRow(gpibBinding_);
    connect(gpibBoard_, &QSpinBox::valueChanged, gpibBinding_, &GpibBindingPanel::setBoard);
    alignFormLabels(page);
    return page;
}

QWidget* SelectIoDialog::makeSerialPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    serialPort_ = new QComboBox;
    serialPort_->setEditable(true);
    for (const auto& info : QSerialPortInfo::availablePorts()) serialPort_->addItem(info.systemLocation());
    if (serialPort_->count() == 0) serialPort_->addItem(QStringLiteral("/dev/ttyS0"));
    baudRate_ = new QComboBox;
    for (const int rate : kBaudRates) baudRate_->addItem(QString::number(rate), rate);
    parity_ = new QComboBox;
    parity_->addItem(tr("None"), static_cast<int>(Parity::None));
    parity_->addItem(tr("Even"), static_cast<int>(Parity::Even));
    parity_->addItem(tr("Odd"), static_cast<int>(Parity::Odd));
    dataBits_ = new QComboBox;
    for (const int bits : {8, 7, 6, 5}) dataBits_->addItem(QString::number(bits), bits);
    stopBits_ = new QComboBox;
    for (const int bits : {1, 2}) stopBits_->addItem(QString::number(bits), bits);
    flowControl_ = new QComboBox;
    flowControl_->addItem(tr("None"), static_cast<int>(FlowControl::None));
    flowControl_->addItem(tr("XON/XOFF"), static_cast<int>(FlowControl::XonXoff));
    flowControl_->addItem(tr("RTS/CTS"), static_cast<int>(FlowControl::RtsCts));
    form->addRow(tr("&Port:"), serialPort_);
    form->addRow(tr("&Baud rate:"), baudRate_);
    form->addRow(tr("P&arity:"), parity_);
    form->addRow(tr("&Data bits:"), dataBits_);
    form->addRow(tr("&Stop bits:"), stopBits_);
    form->addRow(tr("&Flow control:"), flowControl_);
    connect(serialPort_, &QComboBox::currentTextChanged, this, [this] { composeFromFields(); });
    setSerialSettings(SerialSettings{});
    return page;
}

QWidget* SelectIoDialog::makeSocketPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    host_ = new QLineEdit(QStringLiteral("127.0.0.1"));
    port_ = new QSpinBox;
    port_->setRange(1, 65535);
    port_->setValue(kDefaultSocketPort);
    form->addRow(tr("&Host:"), host_);
    form->addRow(tr("P&ort:"), port_);
    connect(host_, &QLineEdit::textChanged, this, [this] { composeFromFields(); });
    connect(port_, &QSpinBox::valueChanged, this, [this] { composeFromFields(); });
    return page;
}

// A LAN instrument (device inst0) or an instrument behind a LAN/GPIB gateway
// (device gpib0,9).
QWidget* SelectIoDialog::makeVxi11Page() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    vxiHost_ = new QLineEdit(QStringLiteral("127.0.0.1"));
    vxiDevice_ = new QLineEdit(QStringLiteral("inst0"));
    vxiDevice_->setToolTip(tr("inst0 for a LAN instrument, gpib0,9 for GPIB address 9 behind a gateway"));
    form->addRow(tr("H&ost:"), vxiHost_);
    form->addRow(tr("&Device name:"), vxiDevice_);
    connect(vxiHost_, &QLineEdit::textChanged, this, [this] { composeFromFields(); });
    connect(vxiDevice_, &QLineEdit::textChanged, this, [this] { composeFromFields(); });
    return page;
}

void SelectIoDialog::composeFromFields() {
    if (filling_) return;
    std::string text;
    switch (chosenInterface()) {
        case Interface::Gpib:
            text = "GPIB" + std::to_string(gpibBoard_->value()) + "::" + std::to_string(gpibPrimary_->value()) +
                   "::INSTR";
            break;
        case Interface::Serial: {
            const auto port = serialPort_->currentText().trimmed().toStdString();
            text = port.empty() ? std::string("ASRL") : serialResourceFor(port);
            break;
        }
        case Interface::Socket: {
            auto host = host_->text().trimmed().toStdString();
            if (host.find(':') != std::string::npos && !host.starts_with('[')) host = "[" + host + "]";
            text = "TCPIP0::" + host + "::" + std::to_string(port_->value()) + "::SOCKET";
            break;
        }
        case Interface::Vxi11: {
            auto host = vxiHost_->text().trimmed().toStdString();
            if (host.find(':') != std::string::npos && !host.starts_with('[')) host = "[" + host + "]";
            const auto device = vxiDevice_->text().trimmed().toStdString();
            text = "TCPIP0::" + host + "::" + (device.empty() ? "inst0" : device) + "::INSTR";
            break;
        }
    }
    resource_->setText(QString::fromStdString(text));
    showProblem();
}

void SelectIoDialog::fillFieldsFrom(const QString& text) {
    Resource parsed;
    try {
        parsed = parseResource(text.toStdString());
    } catch (const IoError&) {
        return;  // the problem label tells the operator
    }
    filling_ = true;
    if (const auto* gpib = std::get_if<GpibAddress>(&parsed)) {
        interface_->setCurrentIndex(static_cast<int>(Interface::Gpib));
        gpibBoard_->setValue(gpib->board);
        gpibPrimary_->setValue(gpib->primary);
    } else if (const auto* line = std::get_if<SerialAddress>(&parsed)) {
        interface_->setCurrentIndex(static_cast<int>(Interface::Serial));
        serialPort_->setCurrentText(QString::fromStdString(line->device));
    } else if (const auto* socket = std::get_if<SocketAddress>(&parsed)) {
        interface_->setCurrentIndex(static_cast<int>(Interface::Socket));
        host_->setText(QString::fromStdString(socket->host));
        port_->setValue(socket->port);
    } else if (const auto* vxi = std::get_if<VxiAddress>(&parsed)) {
        interface_->setCurrentIndex(static_cast<int>(Interface::Vxi11));
        vxiHost_->setText(QString::fromStdString(vxi->host));
        vxiDevice_->setText(QString::fromStdString(vxi->device));
    }
    filling_ = false;
}

void SelectIoDialog::showProblem() { problem_->setText(problem()); }

void SelectIoDialog::setResourceText(const std::string& resource) {
    const auto text = QString::fromStdString(resource);
    fillFieldsFrom(text);
    resource_->setText(text);
    showProblem();
}

std::string SelectIoDialog::resourceText() const { return resource_->text().trimmed().toStdString(); }

void SelectIoDialog::setSerialSettings(const SerialSettings& settings) {
    selectData(baudRate_, settings.baudRate);
    selectData(parity_, settings.parity);
    selectData(dataBits_, settings.dataBits);
    selectData(stopBits_, settings.stopBits);
    selectData(flowControl_, settings.flowControl);
}

SerialSettings SelectIoDialog::serialSettings() const {
    SerialSettings settings;
    settings.baudRate = dataOf<int>(baudRate_);
    settings.parity = dataOf<Parity>(parity_);
    settings.dataBits = dataOf<int>(dataBits_);
    settings.stopBits = dataOf<int>(stopBits_);
    settings.flowControl = dataOf<FlowControl>(flowControl_);
    return settings;
}

void SelectIoDialog::chooseInterface(Interface chosen) { interface_->setCurrentIndex(static_cast<int>(chosen)); }

SelectIoDialog::Interface SelectIoDialog::chosenInterface() const {
    return static_cast<Interface>(interface_->currentIndex());
}

void SelectIoDialog::setGpibBoard(int board) { gpibBoard_->setValue(board); }
void SelectIoDialog::setGpibPrimary(int primary) { gpibPrimary_->setValue(primary); }
void SelectIoDialog::setSerialPort(const QString& port) { serialPort_->setCurrentText(port); }
void SelectIoDialog::setHost(const QString& host) { host_->setText(host); }
void SelectIoDialog::setPort(int port) { port_->setValue(port); }

void SelectIoDialog::setVxiHost(const QString& host) { vxiHost_->setText(host); }

void SelectIoDialog::setVxiDevice(const QString& device) { vxiDevice_->setText(device); }

void SelectIoDialog::editResourceText(const QString& text) {
    resource_->setText(text);
    emit resource_->textEdited(text);
}

QStringList SelectIoDialog::offeredSerialPorts() const {
    QStringList ports;
    for (int i = 0; i < serialPort_->count(); ++i) ports << serialPort_->itemText(i);
    return ports;
}

QString SelectIoDialog::problem() const {
    try {
        (void)parseResource(resourceText());
        return {};
    } catch (const IoError& error) {
        return QString::fromStdString(error.what());
    }
}

void SelectIoDialog::accept() {
    showProblem();
    if (problem().isEmpty()) QDialog::accept();
}

QWidget* SelectIoDialog::makeProbes() {
    identify_ = new IdentifyBar;
    identify_->setSource([this] { return resourceText(); }, [this] { return probeLimits_; },
                         [this] { return serialSettings(); });
    identify_->setAliasSource([this] { return aliasesForIdentify(); });
    find_ = new FindPanel;
    find_->setPlanSource([this] { return findPlan(); });
    connect(find_, &FindPanel::resourcePicked, this, [this](const QString& resource) {
        setResourceText(resource.toStdString());
    });
    connect(find_, &FindPanel::resourceTaken, this, &SelectIoDialog::accept);
    connect(find_, &FindPanel::controllerPicked, this, &SelectIoDialog::offerBinding);
    connect(this, &QDialog::finished, find_, &FindPanel::stopSearch);
    connect(this, &QDialog::finished, identify_, &IdentifyBar::cancel);
    forgetIdentifyOnChange();
    auto* box = new QGroupBox(tr("Instruments"));
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(identify_);
    layout->addWidget(find_, 1);
    return box;
}

// A result stands only for what is on screen: any change of the resource,
// the page, the serial line or the GPIB binding clears it.
void SelectIoDialog::forgetIdentifyOnChange() {
    auto forget = [this] { identify_->clear(); };
    connect(resource_, &QLineEdit::textChanged, identify_, forget);
    connect(interface_, &QComboBox::currentIndexChanged, identify_, forget);
    for (auto* box : {baudRate_, parity_, dataBits_, stopBits_, flowControl_}) {
        connect(box, &QComboBox::currentIndexChanged, identify_, forget);
    }
    connect(gpibBinding_, &GpibBindingPanel::fieldsChanged, identify_, forget);
}

// A controller the search found is put into the GPIB page's binding fields;
// saving the binding stays the operator's click.
void SelectIoDialog::offerBinding(const QString& controller) {
    static const QString kPrologixSerial = QStringLiteral("PRLGX-ASRL");
    const QStringList fields = controller.split(QStringLiteral("::"));
    if (controller.startsWith(kPrologixSerial) && fields.size() == 2) {
        gpibBinding_->chooseController(GpibBindingPanel::Controller::PrologixSerial);
        gpibBinding_->setSerialPort(fields[0].mid(kPrologixSerial.size()));
    } else if (controller.startsWith(QStringLiteral("TCPIP")) && fields.size() == 4) {
        gpibBinding_->chooseController(GpibBindingPanel::Controller::VxiGateway);
        gpibBinding_->setGatewayHost(fields[1]);
    } else {
        return;
    }
    chooseInterface(Interface::Gpib);
}

// Identify goes through the GPIB page's binding as it is on screen, saved or
// not, and says so when it is not saved.
IdentifyBar::Aliases SelectIoDialog::aliasesForIdentify() const {
    auto aliases = loadAliases().aliases;
    const bool pageBoard = chosenInterface() == Interface::Gpib && [&] {
        try {
            const auto parsed = parseResource(resourceText());
            const auto* gpib = std::get_if<GpibAddress>(&parsed);
            return gpib != nullptr && gpib->board == gpibBoard_->value();
        } catch (const IoError&) {
            return false;
        }
    }();
    if (!pageBoard || gpibBinding_->showsBindingInForce()) return {std::move(aliases), {}};
    return {gpibBinding_->withFieldsBinding(std::move(aliases)),
            tr("[through the controller on the GPIB page; the binding is not saved]")};
}

FindPlan SelectIoDialog::findPlan() const {
    FindPlan plan;
    plan.gpibBoard = gpibBoard_->value();
    // Only ports that exist: a typed path that names nothing is no serial port.
    plan.serialPorts = systemSerialPorts();
    auto typed = serialPort_->currentText().trimmed().toStdString();
    if (!typed.empty() && !typed.starts_with('/')) typed = "/dev/" + typed;
    std::error_code error;
    if (std::filesystem::is_character_file(typed, error) &&
        std::find(plan.serialPorts.begin(), plan.serialPorts.end(), typed) == plan.serialPorts.end()) {
        plan.serialPorts.push_back(typed);
    }
    plan.serial = serialSettings();
    return plan;
}

}  // namespace CorvalenLib
