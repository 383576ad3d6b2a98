// SPDX-License-Identifier: MIT
// The real window with a scripted instrument, a fake clock and recorders for
// message boxes and the end of the program.
#pragma once

#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/program/fake_control.h"
#include "window/corvalen_exmpl.h"
#include "window/platform.h"

namespace tq::testing {

struct Message {
    std::string title;
    std::string text;
    MessageIcon icon;
    std::vector<std::string> listWhileShown;
    std::size_t callsBefore;  // instrument calls made before the box showed
};

// A reading reply of the good instrument: reading i (0-based) of the
// two-pass scan of channels 101 to 120.
std::string goodReading(int i);

// Answers every query of a good run: a TQ820A with a TQ711A in slot 100,
// its DMM on, 20 channels, 2 passes, 40 readings stored in two steps.
void scriptGoodInstrument(Script& script);

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest();

    // Builds the window (which loads and shows itself) and forgets the calls
    // made while it was built.
    void openWindow();
    void click(const char* buttonName);
    // Clicks and returns what the program wrote to standard error meanwhile.
    std::string clickCapturingStderr(const char* buttonName);
    // A fresh good instrument and fresh recorders, for a further case
    // within one test.
    void freshInstrument();
    // The instrument stores all readings again for another run.
    void restockReadings();

    [[nodiscard]] QPushButton* button(const char* name) const;
    [[nodiscard]] QListWidget* list() const;
    [[nodiscard]] std::vector<std::string> lines() const;
    // Output text of the instrument calls from index `from` on.
    [[nodiscard]] std::vector<std::string> callsFrom(std::size_t from) const;

    std::shared_ptr<Script> script = std::make_shared<Script>();
    FakeClock clock;
    std::vector<Message> messages;
    std::optional<int> endStatus;
    std::unique_ptr<CorvalenExmpl> window;
};

// The instrument calls of one good run after the connection is open, in
// order, and nothing else.
std::vector<std::string> goodRunCalls();

}  // namespace tq::testing
