// SPDX-License-Identifier: MIT
// The selection dialog on Qt's offscreen platform, driven as an operator
// would fill it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "corvalenlib/widgets/control.h"
#include "corvalenlib/widgets/select_io_dialog.h"

// Under LeakSanitizer: fontconfig, loaded by Qt for the dialog's fonts, keeps
// a cache it never frees. Not ours to fix; everything else is still checked.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using CorvalenLib::SelectIoDialog;
using Interface = SelectIoDialog::Interface;

class Dialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "corvalenlib_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr) application = new QApplication(argc, argv);
    }

    // Runs action on the modal dialog as soon as it shows.
    static void whenShown(std::function<void(SelectIoDialog&)> action) {
        QTimer::singleShot(0, [action] {
            auto* dialog = dynamic_cast<SelectIoDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << "no modal selection dialog";
            action(*dialog);
        });
    }

    static inline QApplication* application = nullptr;
};

TEST_F(Dialog, BuildsTheResourceStringFromTheFieldsOfEachInterface) {
    SelectIoDialog dialog;
    dialog.chooseInterface(Interface::Gpib);
    dialog.setGpibBoard(1);
    dialog.setGpibPrimary(22);
    EXPECT_EQ(dialog.resourceText(), "GPIB1::22::INSTR");

    dialog.chooseInterface(Interface::Serial);
    dialog.setSerialPort("/dev/ttyS2");
    EXPECT_EQ(dialog.resourceText(), "ASRL3::INSTR");
    dialog.setSerialPort("/dev/ttyUSB0");
    EXPECT_EQ(dialog.resourceText(), "ASRL/dev/ttyUSB0::INSTR");
    dialog.setSerialPort("ttyACM1");
    EXPECT_EQ(dialog.resourceText(), "ASRL/dev/ttyACM1::INSTR");

    dialog.chooseInterface(Interface::Socket);
    dialog.setHost("192.0.2.15");
    dialog.setPort(5025);
    EXPECT_EQ(dialog.resourceText(), "TCPIP0::192.0.2.15::5025::SOCKET");
    dialog.setHost("fe80::1");
    EXPECT_EQ(dialog.resourceText(), "TCPIP0::[fe80::1]::5025::SOCKET");
    EXPECT_TRUE(dialog.problem().isEmpty()) << dialog.problem().toStdString();

    dialog.chooseInterface(Interface::Vxi11);
    dialog.setVxiHost("192.0.2.60");
    dialog.setVxiDevice("gpib0,9");
    EXPECT_EQ(dialog.resourceText(), "TCPIP0::192.0.2.60::gpib0,9::INSTR");
    dialog.setVxiHost("fe80::1");
    dialog.setVxiDevice("");
    EXPECT_EQ(dialog.resourceText(), "TCPIP0::[fe80::1]::inst0::INSTR");
    dialog.setVxiDevice("hislip0");
    EXPECT_FALSE(dialog.problem().isEmpty());
}

TEST_F(Dialog, OpensWithTheCurrentAddressInItsFields) {
    SelectIoDialog dialog;
    dialog.setResourceText("TCPIP::127.0.0.1::5026::SOCKET");
    EXPECT_EQ(dialog.chosenInterface(), Interface::Socket);
    EXPECT_EQ(dialog.resourceText(), "TCPIP::127.0.0.1::5026::SOCKET");
    dialog.setPort(5027);  // a field change writes the whole string anew
    EXPECT_EQ(dialog.resourceText(), "TCPIP0::127.0.0.1::5027::SOCKET");

    dialog.setResourceText("GPIB0::9::INSTR");
    EXPECT_EQ(dialog.chosenInterface(), Interface::Gpib);
    dialog.setGpibPrimary(10);
    EXPECT_EQ(dialog.resourceText(), "GPIB0::10::INSTR");
}

TEST_F(Dialog, TakesAnEditedResourceStringAndFillsTheFieldsFromIt) {
    SelectIoDialog dialog;
    dialog.editResourceText("asrl/dev/ttyUSB1::instr");
    EXPECT_EQ(dialog.chosenInterface(), Interface::Serial);
    EXPECT_EQ(dialog.resourceText(), "asrl/dev/ttyUSB1::instr");
    dialog.editResourceText("TCPIP::10.0.0.2::gpib0,7::INSTR");
    EXPECT_EQ(dialog.chosenInterface(), Interface::Vxi11);
    EXPECT_TRUE(dialog.problem().isEmpty());
    dialog.setVxiHost("10.0.0.3");  // the device name came into its field
    EXPECT_EQ(dialog.resourceText(), "TCPIP0::10.0.0.3::gpib0,7::INSTR");
}

TEST_F(Dialog, RefusesOkWhileTheResourceStringIsMalformed) {
    SelectIoDialog dialog;
    dialog.editResourceText("GPIB0::31::INSTR");
    EXPECT_TRUE(dialog.problem().contains("primary address")) << dialog.problem().toStdString();
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    dialog.editResourceText("GPIB0::30::INSTR");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(Dialog, CarriesTheSerialLineSettings) {
    SelectIoDialog dialog;
    const CorvalenLib::SerialSettings defaults;
    EXPECT_EQ(dialog.serialSettings(), defaults);
    const CorvalenLib::SerialSettings chosen{57600, 7, CorvalenLib::Parity::Odd, 2, CorvalenLib::FlowControl::RtsCts};
    dialog.setSerialSettings(chosen);
    EXPECT_EQ(dialog.serialSettings(), chosen);
}

TEST_F(Dialog, OkStoresTheChoiceInTheControlsAddress) {
    CorvalenLib::Control control;
    control.setAddress("GPIB0::9::INSTR");
    whenShown([](SelectIoDialog& dialog) {
        EXPECT_EQ(dialog.resourceText(), "GPIB0::9::INSTR");
        dialog.chooseInterface(Interface::Socket);
        dialog.setHost("127.0.0.1");
        dialog.setPort(5025);
        dialog.setSerialSettings({19200, 8, CorvalenLib::Parity::None, 1, CorvalenLib::FlowControl::None});
        dialog.accept();
    });
    control.SelectIODialog();
    EXPECT_EQ(control.address(), "TCPIP0::127.0.0.1::5025::SOCKET");
    EXPECT_EQ(control.serialSettings().baudRate, 19200);
}

TEST_F(Dialog, CancelLeavesTheControlsAddressAsItWas) {
    CorvalenLib::Control control;
    control.setAddress("GPIB0::9::INSTR");
    whenShown([](SelectIoDialog& dialog) {
        dialog.chooseInterface(Interface::Serial);
        dialog.setSerialPort("/dev/ttyUSB0");
        dialog.setSerialSettings({115200, 8, CorvalenLib::Parity::None, 1, CorvalenLib::FlowControl::None});
        dialog.reject();
    });
    control.SelectIODialog();
    EXPECT_EQ(control.address(), "GPIB0::9::INSTR");
    EXPECT_EQ(control.serialSettings().baudRate, 9600);
}

}  // namespace

// The GPIB page's board binding, saved to the aliases file.
#include "config_dir.h"
#include "corvalenlib/widgets/gpib_binding_panel.h"

namespace {

using Controller = CorvalenLib::GpibBindingPanel::Controller;

TEST_F(Dialog, GpibPageBindsTheChosenBoardAndSavesTheBinding) {
    peers::ConfigDir config;
    config.write("# bench\nGPIB1::INTFC=PRLGX-ASRL/dev/ttyUSB1::INTFC\n");
    ::unsetenv("CORVALEN_IO_ALIASES");
    SelectIoDialog dialog;
    auto& panel = dialog.gpibBinding();
    EXPECT_EQ(panel.boundText(), "GPIB0: linux-gpib (not bound to a controller)");
    dialog.setGpibBoard(1);
    EXPECT_EQ(panel.boundText(), "GPIB1: PRLGX-ASRL/dev/ttyUSB1::INTFC (" + QString::fromStdString(config.file()) + ":2)");
    EXPECT_EQ(panel.controllerText(), "PRLGX-ASRL/dev/ttyUSB1::INTFC");

    dialog.setGpibBoard(0);
    panel.chooseController(Controller::PrologixLan);
    panel.setHost("192.0.2.50");
    EXPECT_TRUE(panel.save());
    EXPECT_EQ(config.read(),
              "# bench\nGPIB1::INTFC=PRLGX-ASRL/dev/ttyUSB1::INTFC\nGPIB0::INTFC=PRLGX-TCPIP::192.0.2.50::1234::INTFC\n");
    EXPECT_EQ(panel.boundText().toStdString(),
              "GPIB0: PRLGX-TCPIP::192.0.2.50::1234::INTFC (" + config.file().string() + ":3)");

    panel.chooseController(Controller::VxiGateway);
    panel.setGatewayHost("fe80::1");
    EXPECT_TRUE(panel.save());
    panel.chooseController(Controller::PrologixSerial);
    panel.setSerialPort("/dev/ttyS0");
    EXPECT_TRUE(panel.save());
    EXPECT_EQ(config.read(), "# bench\nGPIB1::INTFC=PRLGX-ASRL/dev/ttyUSB1::INTFC\nGPIB0::INTFC=PRLGX-ASRL1::INTFC\n");

    panel.chooseController(Controller::PrologixLan);
    panel.setHost("");
    EXPECT_FALSE(panel.save());
    EXPECT_TRUE(panel.statusText().startsWith("Not saved: malformed resource")) << panel.statusText().toStdString();
    panel.chooseController(Controller::LinuxGpib);
    EXPECT_TRUE(panel.save());
    EXPECT_EQ(config.read(), "# bench\nGPIB1::INTFC=PRLGX-ASRL/dev/ttyUSB1::INTFC\n");
    EXPECT_EQ(dialog.resourceText(), "GPIB0::9::INSTR") << "the binding is the library's, not the program's address";

    // A malformed line shows on the page with its place, not only at the next Run.
    config.write("# bench\nGPIB0::INTFC PRLGX-TCPIP::192.0.2.50::INTFC\n");
    dialog.setGpibBoard(1);
    dialog.setGpibBoard(0);
    EXPECT_TRUE(panel.problemsText().startsWith(QString::fromStdString(config.file().string() + ":2: ")))
        << panel.problemsText().toStdString();
    EXPECT_TRUE(panel.problemsText().endsWith("; skipped")) << panel.problemsText().toStdString();
}

}  // namespace
