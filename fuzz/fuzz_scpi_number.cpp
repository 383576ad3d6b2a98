// SPDX-License-Identifier: MIT
// The control's numeric conversions behind Enter into a double, a plain
// number and a 32-bit integer: a whole reply read as a SCPI decimal number,
// and a value rounded to a 32-bit integer.
//
// Invariants: a reply is accepted exactly when, blanks and line ends around
// it aside, it is [sign] digits [. digits] [E [sign] digits] with at least one
// mantissa digit and a finite value; an accepted reply gives exactly strtod's
// value. A 32-bit conversion gives the value rounded half to even when that
// lies in the 32-bit range, and nothing otherwise.
#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "corvalenlib/core/scpi_number.h"
#include "fuzz/fuzz_check.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The number part of a reply when the reply is a number and nothing else.
std::optional<std::string> wholeNumber(std::string_view reply) {
    while (!reply.empty() && isBlank(reply.front())) reply.remove_prefix(1);
    while (!reply.empty() && isBlank(reply.back())) reply.remove_suffix(1);
    std::size_t at = 0;
    if (at < reply.size() && (reply[at] == '+' || reply[at] == '-')) ++at;
    std::size_t digits = 0;
    while (at < reply.size() && isDigit(reply[at])) ++at, ++digits;
    if (at < reply.size() && reply[at] == '.') {
        ++at;
        while (at < reply.size() && isDigit(reply[at])) ++at, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (at < reply.size() && (reply[at] == 'e' || reply[at] == 'E')) {
        ++at;
        if (at < reply.size() && (reply[at] == '+' || reply[at] == '-')) ++at;
        std::size_t exponentDigits = 0;
        while (at < reply.size() && isDigit(reply[at])) ++at, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (at != reply.size()) return std::nullopt;
    return std::string(reply);
}

void checkParse(std::string_view reply) {
    const auto parsed = CorvalenLib::parseScpiNumber(reply);
    const auto number = wholeNumber(reply);
    if (!number) {
        TQ_FUZZ_CHECK(!parsed);
        return;
    }
    errno = 0;
    const double expected = std::strtod(number->c_str(), nullptr);
    const bool overflow = errno == ERANGE && std::isinf(expected);
    const bool underflow = errno == ERANGE && !std::isinf(expected);
    if (overflow) {
        TQ_FUZZ_CHECK(!parsed);
        return;
    }
    // A value below the smallest normal double may be refused; any other
    // number must be read, and read exactly.
    TQ_FUZZ_CHECK(parsed || underflow);
    if (parsed) {
        TQ_FUZZ_CHECK(*parsed == expected);
        TQ_FUZZ_CHECK(std::signbit(*parsed) == std::signbit(expected));
    }
}

void checkInt32(double value) {
    const auto whole = CorvalenLib::toInt32(value);
    if (!std::isfinite(value)) {
        TQ_FUZZ_CHECK(!whole);
        return;
    }
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    const bool inRange = rounded >= -2147483648.0 && rounded <= 2147483647.0;
    TQ_FUZZ_CHECK(whole.has_value() == inRange);
    if (whole) TQ_FUZZ_CHECK(static_cast<double>(*whole) == rounded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TQ_FUZZ_CHECK(std::fegetround() == FE_TONEAREST);
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    checkParse(reply);
    if (const auto parsed = CorvalenLib::parseScpiNumber(reply)) checkInt32(*parsed);
    if (size >= sizeof(double)) {
        double raw = 0.0;
        std::memcpy(&raw, data, sizeof raw);
        checkInt32(raw);
    }
    return 0;
}
