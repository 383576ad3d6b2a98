// SPDX-License-Identifier: MIT
// The library's failures. Every failure is an IoError whose text names the
// resource, the operation and the cause; a time-out is a TimeoutError, so
// that a caller can tell a silent instrument from a broken line.
#pragma once

#include <stdexcept>

#include <corvalen/export.h>

namespace corvalen {

class CORVALEN_API IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CORVALEN_API TimeoutError : public IoError {
public:
    using IoError::IoError;
};

}  // namespace corvalen
