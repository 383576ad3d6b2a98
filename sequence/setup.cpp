// SPDX-License-Identifier: MIT
// Second stage of a run: reset the instrument, configure a two-pass timed
// scan of channels 101 to 120 and derive the reading count and the
// measurement time from the settings the instrument reports back.
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "io/reply_text.h"
#include "window/corvalen_exmpl.h"

namespace {

// Nearest integer, halves to the even neighbour (40.5 -> 40, 41.5 -> 42).
std::int32_t roundedCount(double product) {
    const double rounded = std::nearbyint(product);  // default mode: to nearest, ties to even
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
          rounded <= std::numeric_limits<std::int32_t>::max())) {
        throw std::overflow_error("reading count out of range: scan size times trigger count is " +
                                  tq::numberInList(product));
    }
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

void CorvalenExmpl::Setup() {
    query("*RST;*OPC?", response);  // "1" once the reset is complete
    Instr_TQ820->IO().PostResetCall();

    Instr_TQ820->Output("CONFigure:TEMPerature TCouple, J, (@101:110)");
    Instr_TQ820->Output("UNIT:TEMPerature C, (@101:110)");
    Instr_TQ820->Output("SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)");
    Instr_TQ820->Output("CONFigure:VOLTage:DC 10, (@111:120)");
    Instr_TQ820->Output("SENSe:VOLTage:NPLC 1,(@111:120)");
    Instr_TQ820->Output("ROUTe:SCAN (@101:120)");
    Instr_TQ820->Output("ROUTe:CHANnel:DELay 0.25, (@101:120)");
    Instr_TQ820->Output("TRIGger:COUNt 2");
    Instr_TQ820->Output("TRIGger:SOURce TIMer");
    Instr_TQ820->Output("TRIGger:TIMer 10");
    Instr_TQ820->Output("FORMat:READing:TIME:TYPE RELative");
    Instr_TQ820->Output("FORMat:READing:TIME ON");
    Instr_TQ820->Output("FORMat:READing:CHANnel ON");
    query("*OPC?", response);  // holds the dialogue until the configuration took effect

    CorvalenLib::PlainNumber scanSize;
    std::int32_t triggerCount = 0;
    double channelDelay = 0.0;
    query("ROUTe:SCAN:SIZE?", scanSize);
    query("TRIGger:COUNt?", triggerCount);
    query("ROUTe:CHANnel:DELay? (@101)", channelDelay);
    query("TRIGger:TIMer?", timer_interval);

    num_rdgs = roundedCount(scanSize.value * triggerCount);
    // (count - 1) timer intervals between the passes, computed as product
    // minus interval.
    const double timerTerm = static_cast<double>(triggerCount) * timer_interval - timer_interval;
    if (!std::isfinite(timerTerm)) {
        throw std::range_error("measurement time cannot be computed: trigger count " +
                               std::to_string(triggerCount) + ", timer interval " +
                               tq::numberInList(timer_interval));
    }
    const double channelTerm = scanSize.value * channelDelay;
    meas_time = timerTerm + channelTerm;

    Check_Error("Setup");
}
