// SPDX-License-Identifier: MIT
// Numbers in instrument replies, read the same way in every locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace CorvalenLib {

// A SCPI decimal number (NR1 "-113", NR2 "22.5", NR3 "+4.00000000E+01"),
// optionally surrounded by blanks and followed by the line end. Anything
// else, a value beyond a double's range included, gives nullopt.
[[nodiscard]] std::optional<double> parseScpiNumber(std::string_view reply);

// value as a 32-bit integer: a fraction rounds to the nearest integer, a half
// to the even one (2.5 gives 2, 3.5 gives 4), as the program's own conversion
// does. nullopt when the rounded value lies outside the 32-bit range.
[[nodiscard]] std::optional<std::int32_t> toInt32(double value);

}  // namespace CorvalenLib
