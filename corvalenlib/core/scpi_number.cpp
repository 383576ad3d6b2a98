// SPDX-License-Identifier: MIT
#include "corvalenlib/core/scpi_number.h"

#include <charconv>
#include <cmath>

namespace CorvalenLib {

std::optional<double> parseScpiNumber(std::string_view reply) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = reply.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return std::nullopt;
    auto text = reply.substr(first, reply.find_last_not_of(kBlanks) - first + 1);

    const bool negative = text.front() == '-';
    if (text.front() == '+' || negative) text.remove_prefix(1);
    // from_chars would also take "inf", "nan" and hexadecimal digits after a
    // "p" exponent; a SCPI number starts with a digit or a point and a digit.
    const bool startsLikeNumber =
        !text.empty() && ((text.front() >= '0' && text.front() <= '9') ||
                          (text.front() == '.' && text.size() > 1 && text[1] >= '0' && text[1] <= '9'));
    if (!startsLikeNumber) return std::nullopt;

    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                           std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

std::optional<std::int32_t> toInt32(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    if (whole < -2147483648.0 || whole > 2147483647.0) return std::nullopt;
    return static_cast<std::int32_t>(whole);
}

}  // namespace CorvalenLib
