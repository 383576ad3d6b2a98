// SPDX-License-Identifier: MIT
// The instrument-I/O control as the measurement program sees it.
//
// The program talks to its instrument only through this interface: it never
// drives a bus itself. The real control lives in corvalenlib/; the tests put a
// scripted instrument behind the same interface.
#pragma once

#include <cstdint>
#include <string>

#include <corvalen/errors.h>

namespace CorvalenLib {

// Every failure of the control (no instrument at the address, a time-out, a
// reply that cannot be converted, a broken connection) is raised as an
// IoError. Its text says what failed, where and why.
using corvalen::IoError;

// The target kind that takes part in arithmetic as it stands: it keeps the
// reply's value whole, fraction included.
struct PlainNumber {
    double value = 0.0;
};

// The I/O object of an open connection.
class IoObject {
public:
    virtual ~IoObject() = default;
    // "GPIB", "ASRL" or "TCPIP"; "ASRL" exactly when the line is serial.
    [[nodiscard]] virtual std::string InterfaceType() const = 0;
    // Called once right after the reply to a reset has been read; discards
    // any stale input. Raises IoError on a failing status.
    virtual void PostResetCall() = 0;
};

class Corvalen {
public:
    virtual ~Corvalen() = default;

    // Modal dialog in which the operator picks interface and address;
    // afterwards address() holds the choice (unchanged on Cancel).
    virtual void SelectIODialog() = 0;

    // The VISA resource string that OpenIO is to use.
    [[nodiscard]] virtual std::string address() const = 0;
    virtual void setAddress(const std::string& resource) = 0;

    // Opens the connection to resource, closing any connection already open.
    virtual void OpenIO(const std::string& resource) = 0;

    // The open connection's I/O object; raises IoError when nothing is open.
    virtual IoObject& IO() = 0;

    // Sends one command; the control adds the line end.
    virtual void Output(const std::string& command) = 0;

    // Reads one reply into a target of the given kind. A string target keeps
    // the reply's line end; the numeric targets raise IoError for a reply
    // that is not a number of their kind.
    virtual void Enter(std::string& target) = 0;
    virtual void Enter(std::int32_t& target) = 0;
    virtual void Enter(double& target) = 0;
    virtual void Enter(PlainNumber& target) = 0;

    // Closes the connection; safe when nothing is open.
    virtual void CloseIO() = 0;
};

}  // namespace CorvalenLib
