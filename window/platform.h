// SPDX-License-Identifier: MIT
// What the window needs from its surroundings besides the instrument control:
// message boxes, a clock and a way to end the program. Production uses Qt and
// the process; the tests put recorders behind the same three seams.
#pragma once

#include <functional>
#include <string>

namespace tq {

enum class MessageIcon { Exclamation, Critical };

// Exit statuses of tq820-scan, so that scripts can tell the ends apart.
enum ExitStatus : int {
    kExitNormal = 0,
    kExitCommunicationFailure = 1,
    kExitFailedCheck = 2,
    kExitInstrumentErrors = 3,
    // No display to open the window on (set before the window exists).
    kExitNoDisplay = 4,
};

// Thrown by an end seam that cannot stop the process (the tests'), so that no
// later step of the running procedure runs. It deliberately does not derive
// from std::exception: no failure path may catch it. The button slots catch
// it at their boundary, because exceptions must not cross Qt's signal/slot
// machinery.
struct ProgramEnd {
    int status;
};

struct Platform {
    // Modal message box with the OK button only; the answer is not used.
    std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>
        message;
    // Seconds on a monotonic clock: it never jumps and never restarts at
    // midnight, so a wait across midnight ends like any other.
    std::function<double()> clock;
    // Ends the program at once with the given exit status; never returns.
    std::function<void(int status)> end;

    // Qt message boxes, std::chrono::steady_clock and std::_Exit.
    static Platform production();
};

}  // namespace tq
