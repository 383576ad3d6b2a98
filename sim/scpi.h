// SPDX-License-Identifier: MIT
// SCPI message parsing as an instrument does it: a line is cut into program
// message units at ";", each unit into a header and its parameters; headers
// match command patterns written in long/short form ("SYSTem:ERRor[:NEXT]?").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tq820sim {

// SCPI error numbers the simulator raises, with their standard texts.
struct ScpiError {
    int number = 0;
    std::string text;
};

namespace errors {
inline constexpr int kInvalidCharacter = -101;
inline constexpr int kSyntax = -102;
inline constexpr int kDataType = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kInvalidCharInNumber = -121;
inline constexpr int kInvalidSuffix = -131;
inline constexpr int kInvalidCharacterData = -141;
inline constexpr int kInitIgnored = -213;
inline constexpr int kSettingsConflict = -221;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kQueueOverflow = -350;
inline constexpr int kInputBufferOverrun = -363;
}  // namespace errors

// The standard text of a SCPI error number ("Undefined header" for -113).
std::string errorText(int number);
ScpiError makeError(int number);

// Thrown by parameter parsing and handlers; the unit ends there.
struct ScpiFailure {
    int number;
};

// One program message unit: "CONF:VOLT:DC 10,(@111:120)" or "*OPC?".
struct MessageUnit {
    bool common = false;    // "*IDN?" and friends
    bool absolute = false;  // header began with ":"
    bool query = false;
    std::vector<std::string> nodes;  // keywords as typed, without ":" or "?"
    std::string parameters;          // text after the header, trimmed
};

// Cuts a line (without its line end) at the ";" that stand outside strings.
std::vector<std::string> splitUnits(std::string_view line);

// Splits one unit into header and parameters; throws ScpiFailure on a
// malformed header.
MessageUnit parseUnit(std::string_view unit);

// A compiled command pattern. Long form keywords with the short form in
// capitals; "[...]" marks an optional node; a final "?" marks a query.
class Pattern {
public:
    explicit Pattern(std::string_view text);
    [[nodiscard]] bool matches(const std::vector<std::string>& nodes, bool query) const;
    [[nodiscard]] bool common() const { return common_; }

private:
    struct Node {
        std::string longForm;   // upper case
        std::string shortForm;  // upper case
        bool optional = false;
    };
    [[nodiscard]] bool matchFrom(const std::vector<std::string>& nodes, std::size_t input,
                                 std::size_t pattern) const;
    std::vector<Node> nodes_;
    bool query_ = false;
    bool common_ = false;
};

// Whether a typed keyword is the short or the long form of a pattern keyword.
bool keywordMatches(std::string_view typed, std::string_view longUpper,
                    std::string_view shortUpper);

// Splits a parameter list at the commas outside parentheses and strings;
// each piece is trimmed of blanks.
std::vector<std::string> splitParameters(std::string_view parameters);

// Numeric parameter: NR1, NR2, NR3, or MIN / MAX / DEF.
struct Numeric {
    enum class Kind { Value, Min, Max, Def };
    Kind kind = Kind::Value;
    double value = 0.0;
};
Numeric parseNumeric(std::string_view text);
std::optional<double> parseDecimal(std::string_view text);

// Channel list "(@101:110)", "(@101,105,111:115)", in the order given.
std::vector<int> parseChannelList(std::string_view text);
[[nodiscard]] bool isChannelList(std::string_view text);
// The channels written back in compact form: "(@101:120)".
std::string formatChannelList(const std::vector<int>& channels);

// Boolean parameter: ON, OFF, 1, 0 (any non-zero number is true).
bool parseBoolean(std::string_view text);

// Character data matched against long/short forms such as "TCouple".
bool characterMatches(std::string_view typed, std::string_view pattern);

std::string toUpper(std::string_view text);

}  // namespace tq820sim
