// SPDX-License-Identifier: MIT
// The library's failures. Every failure is an IoError whose text names the
// resource, the operation and the cause; a time-out is a TimeoutError, so
// that a caller can tell a silent instrument from a broken line, and a
// malformed name is a ResourceError, so that it can tell a typing error from
// a failure of the line.
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

// A resource string, alias or board binding that is malformed or names a kind
// of resource that cannot be opened; raised before anything is sent.
class CORVALEN_API ResourceError : public IoError {
public:
    using IoError::IoError;
};

}  // namespace corvalen
