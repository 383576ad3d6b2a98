// SPDX-License-Identifier: MIT
// A reply's numeric value and a number written as text, as the program reads
// the instrument's error numbers and DMM answers and writes its own numbers.
//
// Invariants: numericValue gives exactly what the C library's strtod gives
// for the longest number the text begins with (0 when there is none), or
// raises std::range_error when that number is beyond a double; nothing else
// escapes. numberAsText writes at most 15 significant digits, reads back to
// the value within that precision, uses "." and "E" only, and has its leading
// blank exactly when the value is not negative.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_check.h"
#include "io/reply_text.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number a text begins with, found without the code under test: blanks,
// tabs and line feeds, a sign, digits with an optional fraction (at least one
// digit in all), and an exponent only when digits follow its letter.
std::string leadingNumber(std::string_view text) {
    std::size_t at = text.find_first_not_of(" \t\n");
    if (at == std::string_view::npos) return {};
    const std::size_t begin = at;
    if (text[at] == '+' || text[at] == '-') ++at;
    std::size_t digits = 0;
    while (at < text.size() && isDigit(text[at])) ++at, ++digits;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && isDigit(text[at])) ++at, ++digits;
    }
    if (digits == 0) return {};
    std::size_t end = at;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        std::size_t exponentEnd = exponent;
        while (exponentEnd < text.size() && isDigit(text[exponentEnd])) ++exponentEnd;
        if (exponentEnd > exponent) end = exponentEnd;
    }
    return std::string(text.substr(begin, end - begin));
}

void checkNumericValue(std::string_view text) {
    const std::string number = leadingNumber(text);
    errno = 0;
    const double expected = number.empty() ? 0.0 : std::strtod(number.c_str(), nullptr);
    const bool outOfRange = errno == ERANGE;
    double value = 0.0;
    try {
        value = tq::numericValue(text);
    } catch (const std::range_error&) {
        // Overflow always; underflow to a subnormal or zero may raise too.
        TQ_FUZZ_CHECK(outOfRange);
        return;
    }
    TQ_FUZZ_CHECK(std::isfinite(value));
    TQ_FUZZ_CHECK(!outOfRange || std::fabs(expected) < 1.0);  // an overflow never passes
    TQ_FUZZ_CHECK(value == expected);
    TQ_FUZZ_CHECK(std::signbit(value) == std::signbit(expected));
}

int significantDigits(std::string_view mantissa) {
    int count = 0;
    bool leading = true;
    for (const char c : mantissa) {
        if (!isDigit(c)) continue;
        if (leading && c == '0') continue;
        leading = false;
        ++count;
    }
    // Trailing zeros of a whole number are places, not precision.
    return count;
}

void checkNumberAsText(double value) {
    if (!std::isfinite(value)) return;
    const std::string text = tq::numberAsText(value);
    const bool negative = value < 0.0;
    TQ_FUZZ_CHECK(text.size() >= 2);
    TQ_FUZZ_CHECK(negative ? text.front() == '-' : text.front() == ' ');
    TQ_FUZZ_CHECK(text.find_first_not_of(" -+.0123456789E") == std::string::npos);
    TQ_FUZZ_CHECK(text.find(' ', 1) == std::string::npos);

    const std::string list = tq::numberInList(value);
    TQ_FUZZ_CHECK(list == (negative ? text : text.substr(1)));

    const auto exponent = text.find('E');
    const std::string mantissa = text.substr(0, exponent);
    if (exponent == std::string::npos && mantissa.find('.') == std::string::npos) {
        // A whole number written out: trailing zeros are real places.
        TQ_FUZZ_CHECK(std::fabs(value) < 1e15);
    } else {
        TQ_FUZZ_CHECK(significantDigits(mantissa) <= 15);
    }
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        TQ_FUZZ_CHECK(exponent == std::string::npos && mantissa.find('.') == std::string::npos);
    }

    // Read back wider than a double: the largest doubles round up past it.
    const long double back = std::strtold(text.c_str(), nullptr);
    const long double exact = value;
    TQ_FUZZ_CHECK(back == exact || std::fabs(back - exact) <= 1e-14L * std::fabs(exact));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkNumericValue(text);
    try {
        checkNumberAsText(tq::numericValue(text));
    } catch (const std::range_error&) {
    }
    if (size >= sizeof(double)) {
        double raw = 0.0;
        std::memcpy(&raw, data, sizeof raw);
        checkNumberAsText(raw);
    }
    return 0;
}
