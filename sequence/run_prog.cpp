// SPDX-License-Identifier: MIT
// First stage of a run: make sure the right instrument answers, then run
// the other stages.
#include <QListWidget>

#include "io/reply_text.h"
#include "window/corvalen_exmpl.h"

namespace {
bool contains(const std::string& text, const char* model) {
    return text.find(model) != std::string::npos;
}
}  // namespace

void CorvalenExmpl::RunProg() {
    // "<maker>,TQ820A,<serial>,<firmware>"
    query("*IDN?", response);
    RemoveTermination();
    if (!contains(response, "TQ820A")) {
        failedCheck("Incorrect instrument addressed; use the correct address.");
    }
    List1->clear();
    appendLine("Instrument ID is:");
    appendLine(response);

    // "<maker>,TQ711A,<serial>,<firmware>", or "0,0,0,0" for an empty slot
    query("SYSTem:CTYPe? 100", response);
    RemoveTermination();
    if (!contains(response, "TQ711A")) {
        failedCheck("Incorrect Module Installed in slot 100!");
    }

    // "1" or "0"
    query("INSTrument:DMM:INSTalled?", response);
    if (tq::numericValue(response) == 0.0) {
        failedCheck("DMM not installed; unable to make measurements.");
    }
    query("INSTrument:DMM?", response);
    if (tq::numericValue(response) == 0.0) {
        Instr_TQ820->Output("INSTrument:DMM ON");
    }

    // Whatever the instrument was doing stops before it is configured.
    Instr_TQ820->Output("ABORt");
    Check_Error("RunProg");

    Setup();
    Readings();
}
