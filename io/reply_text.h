// SPDX-License-Identifier: MIT
// Small, locale-independent rules for instrument text: cutting a reply's line
// end, the numeric value a reply begins with, and a number written as text.
#pragma once

#include <string>
#include <string_view>

namespace tq {

// Cuts text at its first LF, then what is left at its first CR. A reply of
// several lines keeps its first line only.
void cutAtLineEnd(std::string& text);

// The value of the number with which text begins: blanks, tabs and line feeds
// are skipped, then an optional sign, digits, an optional fraction and an
// optional exponent are read up to the first character that cannot continue
// them. A text that does not begin with a number has the value 0. A number
// beyond the range of a double raises std::range_error.
[[nodiscard]] double numericValue(std::string_view text);

// Decimal text with "." in every locale and at most 15 significant digits; a
// whole value has no decimal point, a value that is not negative has one
// leading blank ("  5" never; " 5" and "-5"). Very large or small values use
// an exponent such as " 1E+20".
[[nodiscard]] std::string numberAsText(double value);

// numberAsText without its leading blank, as the list shows numbers.
[[nodiscard]] std::string numberInList(double value);

// A reply as it may appear in an error text: quoted, control characters as
// \xNN, and cut after 80 characters, since a reply can be any bytes.
[[nodiscard]] std::string quotedReply(std::string_view reply);

}  // namespace tq
