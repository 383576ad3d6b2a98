// SPDX-License-Identifier: MIT
// The control's modal dialog in which the operator picks interface and
// address. Its fields build the resource string; the string may also be
// edited directly, and then fills the fields it names.
#pragma once

#include <QDialog>
#include <string>

#include "corvalenlib/discovery/finder.h"
#include "corvalenlib/widgets/find_panel.h"
#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QStackedWidget;

namespace CorvalenLib {
class GpibBindingPanel;
}  // namespace CorvalenLib

namespace CorvalenLib {
class FindPanel;
class IdentifyBar;
}  // namespace CorvalenLib

namespace CorvalenLib {

class SelectIoDialog final : public QDialog {
    Q_OBJECT

public:
    enum class Interface { Gpib = 0, Serial = 1, Socket = 2, Vxi11 = 3 };

    explicit SelectIoDialog(QWidget* parent = nullptr);

    // The resource string shown; text that does not parse is shown as it is.
    void setResourceText(const std::string& resource);
    [[nodiscard]] std::string resourceText() const;
    void setSerialSettings(const SerialSettings& settings);
    [[nodiscard]] SerialSettings serialSettings() const;

    // The fields, set as the operator sets them.
    void chooseInterface(Interface chosen);
    [[nodiscard]] Interface chosenInterface() const;
    void setGpibBoard(int board);
    void setGpibPrimary(int primary);
    void setSerialPort(const QString& port);
    void setHost(const QString& host);
    void setPort(int port);
    void setVxiHost(const QString& host);
    void setVxiDevice(const QString& device);
    // Text typed into the resource string field.
    void editResourceText(const QString& text);

    [[nodiscard]] QStringList offeredSerialPorts() const;
    // Why OK is refused; empty when the resource string is valid.
    [[nodiscard]] QString problem() const;
    // The GPIB page's binding of the chosen board to a controller.
    [[nodiscard]] GpibBindingPanel& gpibBinding() const { return *gpibBinding_; }

    // The time-outs Identify and the search's probes are bounded by.
    void setProbeLimits(const IoLimits& limits) { probeLimits_ = limits; }
    [[nodiscard]] IdentifyBar& identifyBar() const { return *identify_; }
    [[nodiscard]] FindPanel& findPanel() const { return *find_; }

public slots:
    void accept() override;

private:
    void openWideEnough(QWidget* content);
    QWidget* makeGpibPage();
    QWidget* makeSerialPage();
    QWidget* makeSocketPage();
    QWidget* makeVxi11Page();
    void composeFromFields();
    QWidget* makeProbes();
    void forgetIdentifyOnChange();
    void offerBinding(const QString& controller);
    [[nodiscard]] FindPlan findPlan() const;
    [[nodiscard]] IdentifyBar::Aliases aliasesForIdentify() const;
    void fillFieldsFrom(const QString& text);
    void showProblem();

    QComboBox* interface_;
    QStackedWidget* pages_;
    QSpinBox* gpibBoard_ = nullptr;
    QSpinBox* gpibPrimary_ = nullptr;
    GpibBindingPanel* gpibBinding_ = nullptr;
    QComboBox* serialPort_ = nullptr;
    QComboBox* baudRate_ = nullptr;
    QComboBox* parity_ = nullptr;
    QComboBox* dataBits_ = nullptr;
    QComboBox* stopBits_ = nullptr;
    QComboBox* flowControl_ = nullptr;
    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QLineEdit* vxiHost_ = nullptr;
    QLineEdit* vxiDevice_ = nullptr;
    QLineEdit* resource_;
    QLabel* problem_;
    IdentifyBar* identify_ = nullptr;
    FindPanel* find_ = nullptr;
    IoLimits probeLimits_;
    bool filling_ = false;  // fields are being filled from the resource string
};

}  // namespace CorvalenLib
