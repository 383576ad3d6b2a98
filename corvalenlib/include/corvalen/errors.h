// SPDX-License-Identifier: MIT
// The library's failures beyond the plain IoError of the control's interface.
#pragma once

#include "io/corvalen.h"

namespace CorvalenLib {

// The instrument did not answer, or did not take a command, within the
// time-out. Kept apart from other failures so that callers and the trace can
// tell a silent instrument from a broken line.
class TimeoutError : public IoError {
public:
    using IoError::IoError;
};

}  // namespace CorvalenLib
