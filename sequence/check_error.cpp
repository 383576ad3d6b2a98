// SPDX-License-Identifier: MIT
// The end of every stage: drain the instrument's error queue, show each
// error, and end the program when there was any.
#include "io/reply_text.h"
#include "window/corvalen_exmpl.h"

void CorvalenExmpl::Check_Error(std::string msg) {
    // "-113,\"Undefined header\"", or "+0,\"No error\"" once the queue is empty.
    // The reply is used as read, line end included.
    std::string reply;
    query("SYSTem:ERRor?", reply);
    double number = tq::numericValue(reply);
    bool errorSeen = false;
    while (number != 0.0) {
        errorSeen = true;
        // Each box repeats the errors before it under one more "Error in: ".
        msg = "Error in: " + msg + "\n";
        msg += "Error Number: " + tq::numberAsText(number) + "\n" + "Error Message: " + reply;
        platform_.message("Corvalen Example Program", msg, tq::MessageIcon::Critical);
        query("SYSTem:ERRor?", reply);
        number = tq::numericValue(reply);
    }
    if (errorSeen) {
        Instr_TQ820->Output("*CLS");
        Instr_TQ820->CloseIO();
        endProgram(tq::kExitInstrumentErrors);
    }
}
