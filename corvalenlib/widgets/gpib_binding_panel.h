// SPDX-License-Identifier: MIT
// The part of the Select I/O dialog's GPIB page that shows which controller
// a GPIB board is bound to and binds it: linux-gpib, a Prologix GPIB-USB on
// a serial port, a Prologix GPIB-ETHERNET on the LAN or a VXI-11 LAN/GPIB
// gateway. Saving writes the binding to the library's aliases file, so that
// it holds at every later start.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "corvalenlib/core/aliases.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QStackedWidget;

namespace CorvalenLib {

class GpibBindingPanel final : public QWidget {
    Q_OBJECT

public:
    enum class Controller { LinuxGpib = 0, PrologixSerial = 1, PrologixLan = 2, VxiGateway = 3 };

    explicit GpibBindingPanel(QWidget* parent = nullptr);

    // The fields, set as the operator sets them.
    void chooseController(Controller chosen);
    void setSerialPort(const QString& port);
    void setHost(const QString& host);
    void setPort(int port);
    void setGatewayHost(const QString& host);

    // The binding the fields describe: "" for linux-gpib, else an interface
    // resource such as "PRLGX-TCPIP::lab-gpib::1234::INTFC".
    [[nodiscard]] std::string controllerText() const;
    // What the board is bound to now, as shown.
    [[nodiscard]] QString boundText() const;
    [[nodiscard]] QString statusText() const;
    // The aliases file's problems, one "<file>:<line>: ..." a line.
    [[nodiscard]] QString problemsText() const;
    [[nodiscard]] QStringList offeredSerialPorts() const;
    // True when the fields describe the binding in force (saved, or set by
    // CORVALEN_IO_ALIASES), false while the operator's change is unsaved.
    [[nodiscard]] bool showsBindingInForce() const;
    // aliases with the chosen board bound as the fields describe it.
    [[nodiscard]] std::vector<Alias> withFieldsBinding(std::vector<Alias> aliases) const;

signals:
    // A field was changed, by the operator or from the binding in force.
    void fieldsChanged();

public slots:
    void setBoard(int board);
    // Writes the binding to the aliases file; false, with the reason shown,
    // when the fields name no controller or the file cannot be written.
    bool save();

private:
    QWidget* makeSerialFields();
    QWidget* makeLanFields();
    QWidget* makeGatewayFields();
    void showBinding();
    void showProblems(const std::vector<std::string>& problems);
    void fillFieldsFrom(const std::string& controller);

    int board_ = 0;
    QLabel* bound_;
    QComboBox* controller_;
    QStackedWidget* fields_;
    QComboBox* serialPort_ = nullptr;
    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QLineEdit* gatewayHost_ = nullptr;
    QLabel* status_;
    QLabel* problems_;
};

}  // namespace CorvalenLib
