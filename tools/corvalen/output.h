// SPDX-License-Identifier: MIT
// What corvalen writes: replies as text, as they came or in hexadecimal,
// JSON strings, and the one line of an error.
#pragma once

#include <string>
#include <string_view>

namespace cli {

enum class ReplyForm { Text, Raw, Hex };

// Writes reply to standard output in form: Text adds a line end to a reply
// that was taken without one, Raw writes the bytes as they came, Hex writes
// "2b 30 0a" and a line end. Flushes, so that a reader sees each reply.
void printReply(std::string_view reply, ReplyForm form);

// text as a JSON string, quotes included.
[[nodiscard]] std::string jsonString(std::string_view text);

// text on one line: control characters shown as \n, \r, \xNN.
[[nodiscard]] std::string oneLine(std::string_view text);

// "corvalen: <what>" on standard error.
void printError(std::string_view what);

}  // namespace cli
