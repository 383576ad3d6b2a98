// SPDX-License-Identifier: MIT
// The I/O trace on standard error, switched on by CORVALEN_IO_TRACE=1.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace CorvalenLib {

// Bytes as C-like text: \n, \r, \t, \\, \" and \xNN for other non-printables,
// so that a reply's line end shows.
[[nodiscard]] std::string escapeBytes(std::string_view bytes);

class Trace {
public:
    // Off unless CORVALEN_IO_TRACE is set to 1; read once, here.
    static Trace fromEnvironment();
    Trace(bool on, int fd) : on_(on), fd_(fd) {}

    [[nodiscard]] bool on() const { return on_; }
    // One line "corvalen-io <monotonic microseconds> <resource> <event> <detail>".
    void event(std::string_view resource, std::string_view what, std::string_view detail = {}) const {
        if (on_) writeLine(resource, what, detail);
    }
    // As event, with detail shown as escaped bytes in quotes.
    void bytes(std::string_view resource, std::string_view what, std::string_view data) const {
        if (on_) writeLine(resource, what, "\"" + escapeBytes(data) + "\"");
    }

private:
    void writeLine(std::string_view resource, std::string_view what, std::string_view detail) const;

    bool on_;
    int fd_;
};

// Raises "<resource>: <operation>: <cause>" as the same kind of failure as
// cause (a time-out stays a TimeoutError), after putting it on the trace.
[[noreturn]] void raiseFailure(const Trace& trace, std::string_view resource, std::string_view operation,
                               const std::exception& cause);

}  // namespace CorvalenLib
