// SPDX-License-Identifier: MIT
// The command line of corvalen: the command, its operands, and the options
// every command takes together with the few of its own.
#pragma once

#include <corvalen/corvalen.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// The documented exit statuses, the same for every command.
enum Status : int { kOk = 0, kIoFailure = 1, kUsage = 2, kTimeout = 3, kNothingFound = 4 };

// A command line that cannot be taken; the text says what to type instead.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::string command;                // "query", "shell", ...; empty for none
    std::vector<std::string> operands;  // what follows the command, options taken out
    corvalen::OpenOptions open;
    bool raw = false;  // replies with their line end
    bool hex = false;  // replies as bytes in hexadecimal
    bool json = false;
    bool help = false;
    bool version = false;
    corvalen::FindOptions find;  // lan and mdns on unless a switch picks the parts
};

// The command line taken apart and checked against the command's options.
// Raises UsageError.
[[nodiscard]] Arguments parseArguments(const std::vector<std::string>& args);

// "9600,8N1" or "115200,7E2,rtscts". Raises UsageError.
[[nodiscard]] corvalen::SerialSettings parseSerialSettings(const std::string& text);

// A time in milliseconds from 1 to one hour. Raises UsageError naming option.
[[nodiscard]] std::chrono::milliseconds parseMilliseconds(const std::string& text, const std::string& option);

// "GPIB0", "gpib0::intfc" or "0": the board's number. Raises UsageError.
[[nodiscard]] int parseBoard(const std::string& text);

}  // namespace cli
