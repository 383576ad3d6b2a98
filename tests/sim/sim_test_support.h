// SPDX-License-Identifier: MIT
// Drives the instrument model as a client would, on a clock the test moves.
#pragma once

#include "clock.h"
#include "instrument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tq820sim::testing {

class InstrumentFixture : public ::testing::Test {
protected:
    explicit InstrumentFixture(InstrumentOptions options = {})
        : instrument(clock, std::move(options)) {}

    // The reply to a line, "" when there is none.
    std::string ask(const std::string& line) { return instrument.processLine(line).value_or(""); }
    bool silent(const std::string& line) { return !instrument.processLine(line).has_value(); }

    // Every queued error number, oldest first; the queue is empty after.
    std::vector<int> drainErrors() {
        std::vector<int> numbers;
        for (;;) {
            const std::string reply = ask("SYSTem:ERRor?");
            const int number = std::stoi(reply);
            if (number == 0) return numbers;
            numbers.push_back(number);
        }
    }

    // The scan set-up of the measurement program, command for command.
    void configureProgramScan() {
        for (const char* line :
             {"*RST;*OPC?", "CONFigure:TEMPerature TCouple, J, (@101:110)",
              "UNIT:TEMPerature C, (@101:110)",
              "SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)",
              "CONFigure:VOLTage:DC 10, (@111:120)", "SENSe:VOLTage:NPLC 1,(@111:120)",
              "ROUTe:SCAN (@101:120)", "ROUTe:CHANnel:DELay 0.25, (@101:120)", "TRIGger:COUNt 2",
              "TRIGger:SOURce TIMer", "TRIGger:TIMer 10", "FORMat:READing:TIME:TYPE RELative",
              "FORMat:READing:TIME ON", "FORMat:READing:CHANnel ON"}) {
            instrument.processLine(line);
        }
    }

    int points() { return std::stoi(ask("DATA:POINTS?")); }

    ManualClock clock;
    Instrument instrument;
};

}  // namespace tq820sim::testing
