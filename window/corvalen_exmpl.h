// SPDX-License-Identifier: MIT
// The program's one window: a list box, three buttons and the instrument-I/O
// control, and every operation of a measurement run.
//
// The source of this class is divided by subsystem: window/ holds the layout,
// Form_Load, the button handlers and the ends of the program; io/ the reply
// trimming and the busy wait; sequence/ the stages of a run.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "io/corvalen.h"
#include "window/platform.h"

class QListWidget;
class QPushButton;

class CorvalenExmpl : public QWidget {
    Q_OBJECT

public:
    CorvalenExmpl(std::unique_ptr<CorvalenLib::Corvalen> control, tq::Platform platform,
                  QWidget* parent = nullptr);
    ~CorvalenExmpl() override;

    CorvalenExmpl(const CorvalenExmpl&) = delete;
    CorvalenExmpl& operator=(const CorvalenExmpl&) = delete;

    void Readings();
    void RemoveTermination();
    void Check_Error(std::string msg);
    void delay(float delay_val);
    [[noreturn]] void End_Prog();

private:
    void Form_Load();
    void RunProg();
    void Setup();
    void GetReadings_Click();
    void Exit_Click();
    void SelectIO_Click();

    // Connects a button to its handler; the end of the program stops there.
    void connectClick(QPushButton* button, void (CorvalenExmpl::*handler)());
    void openConnection();
    [[noreturn]] void failurePath(const std::exception& cause);
    [[noreturn]] void failedCheck(const std::string& text);
    [[noreturn]] void endProgram(int status);

    // One query: the command, then its reply into the target.
    template <typename Target>
    void query(const std::string& command, Target& target);
    void appendLine(const std::string& line);
    void showInstructions();
    void repaintList();
    void waitForStoredReadings();

    QPushButton* SelectIO;
    QPushButton* GetReadings;
    QPushButton* Exit;
    QListWidget* List1;
    std::unique_ptr<CorvalenLib::Corvalen> Instr_TQ820;
    tq::Platform platform_;

    bool io_opened = false;
    std::string io_address;
    std::int32_t num_rdgs = 0;
    double meas_time = 0.0;
    std::string response;
    // The timer interval read back by Setup; the wait for stored readings
    // derives its bound from it.
    double timer_interval = 0.0;
};

template <typename Target>
void CorvalenExmpl::query(const std::string& command, Target& target) {
    Instr_TQ820->Output(command);
    Instr_TQ820->Enter(target);
}
