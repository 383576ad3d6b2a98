// SPDX-License-Identifier: MIT
// The window's two services around the instrument I/O: trimming the last
// reply and the busy wait.
#include "io/reply_text.h"
#include "window/corvalen_exmpl.h"

void CorvalenExmpl::RemoveTermination() {
    tq::cutAtLineEnd(response);
}

// A busy wait on the monotonic clock: the thread neither sleeps nor handles
// events, so nothing else of the program runs until it is over. The clock
// never restarts, so a wait across midnight ends like any other.
void CorvalenExmpl::delay(float delay_val) {
    const double target = platform_.clock() + static_cast<double>(delay_val) / 1000.0;
    while (!(platform_.clock() > target)) {
    }
}
