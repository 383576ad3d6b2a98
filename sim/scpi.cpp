// SPDX-License-Identifier: MIT
#include "scpi.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>

namespace tq820sim {

namespace {

// Eight slots of at most a thousand channels each.
constexpr std::size_t kMaxListedChannels = 8000;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHeaderChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '_';
}

// The short form of a pattern keyword is its leading capitals (and digits).
std::string shortFormOf(std::string_view keyword) {
    std::string result;
    for (char c : keyword) {
        if ((c >= 'A' && c <= 'Z') || isDigit(c)) {
            result += c;
        } else {
            break;
        }
    }
    return result.empty() ? toUpper(keyword) : result;
}

}  // namespace

std::string toUpper(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), upper);
    return result;
}

std::string errorText(int number) {
    static const std::map<int, std::string> texts = {
        {0, "No error"},
        {-100, "Command error"},
        {errors::kInvalidCharacter, "Invalid character"},
        {errors::kSyntax, "Syntax error"},
        {-103, "Invalid separator"},
        {errors::kDataType, "Data type error"},
        {errors::kParameterNotAllowed, "Parameter not allowed"},
        {errors::kMissingParameter, "Missing parameter"},
        {errors::kUndefinedHeader, "Undefined header"},
        {errors::kInvalidCharInNumber, "Invalid character in number"},
        {-123, "Exponent too large"},
        {errors::kInvalidSuffix, "Invalid suffix"},
        {errors::kInvalidCharacterData, "Invalid character data"},
        {-200, "Execution error"},
        {errors::kInitIgnored, "Init ignored"},
        {errors::kSettingsConflict, "Settings conflict"},
        {errors::kDataOutOfRange, "Data out of range"},
        {errors::kIllegalParameterValue, "Illegal parameter value"},
        {errors::kQueueOverflow, "Queue overflow"},
        {errors::kInputBufferOverrun, "Input buffer overrun"},
    };
    const auto found = texts.find(number);
    return found != texts.end() ? found->second : "Device-specific error";
}

ScpiError makeError(int number) {
    return {number, errorText(number)};
}

std::vector<std::string> splitUnits(std::string_view line) {
    std::vector<std::string> units;
    std::string current;
    char quote = 0;
    for (char c : line) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            units.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    units.push_back(current);
    return units;
}

MessageUnit parseUnit(std::string_view unit) {
    unit = trim(unit);
    MessageUnit result;
    std::size_t end = 0;
    while (end < unit.size() && !isBlank(unit[end])) ++end;
    std::string_view header = unit.substr(0, end);
    result.parameters = std::string(trim(unit.substr(end)));
    if (header.empty()) throw ScpiFailure{errors::kUndefinedHeader};
    if (header.back() == '?') {
        result.query = true;
        header.remove_suffix(1);
    }
    if (header.front() == '*') {
        result.common = true;
        header.remove_prefix(1);
        if (header.empty() ||
            !std::all_of(header.begin(), header.end(), [](char c) { return isHeaderChar(c); })) {
            throw ScpiFailure{errors::kUndefinedHeader};
        }
        result.nodes.emplace_back(header);
        return result;
    }
    if (header.front() == ':') {
        result.absolute = true;
        header.remove_prefix(1);
    }
    while (true) {
        const std::size_t colon = header.find(':');
        const std::string_view node = header.substr(0, colon);
        if (node.empty()) throw ScpiFailure{errors::kUndefinedHeader};
        for (char c : node) {
            if (!isHeaderChar(c)) {
                throw ScpiFailure{static_cast<unsigned char>(c) < 0x20 ||
                                          static_cast<unsigned char>(c) > 0x7e
                                      ? errors::kInvalidCharacter
                                      : errors::kUndefinedHeader};
            }
        }
        result.nodes.emplace_back(node);
        if (colon == std::string_view::npos) break;
        header.remove_prefix(colon + 1);
    }
    return result;
}

namespace {
bool equalsUpper(std::string_view typed, std::string_view upperText) {
    return typed.size() == upperText.size() &&
           std::equal(typed.begin(), typed.end(), upperText.begin(),
                      [](char a, char b) { return upper(a) == b; });
}
}  // namespace

// Runs for every pattern on every command, so it compares in place.
bool keywordMatches(std::string_view typed, std::string_view longUpper,
                    std::string_view shortUpper) {
    return equalsUpper(typed, longUpper) || equalsUpper(typed, shortUpper);
}

Pattern::Pattern(std::string_view text) {
    if (!text.empty() && text.back() == '?') {
        query_ = true;
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '*') {
        common_ = true;
        nodes_.push_back({toUpper(text.substr(1)), toUpper(text.substr(1)), false});
        return;
    }
    while (!text.empty()) {
        bool optional = false;
        if (text.front() == '[') {
            optional = true;
            text.remove_prefix(1);
        }
        if (!text.empty() && text.front() == ':') text.remove_prefix(1);
        std::size_t end = 0;
        while (end < text.size() && text[end] != ':' && text[end] != '[' && text[end] != ']') ++end;
        const std::string_view keyword = text.substr(0, end);
        nodes_.push_back({toUpper(keyword), shortFormOf(keyword), optional});
        text.remove_prefix(end);
        if (!text.empty() && text.front() == ']') text.remove_prefix(1);
    }
}

bool Pattern::matches(const std::vector<std::string>& nodes, bool query) const {
    if (query != query_) return false;
    return matchFrom(nodes, 0, 0);
}

bool Pattern::matchFrom(const std::vector<std::string>& nodes, std::size_t input,
                        std::size_t pattern) const {
    if (pattern == nodes_.size()) return input == nodes.size();
    const Node& node = nodes_[pattern];
    if (input < nodes.size() && keywordMatches(nodes[input], node.longForm, node.shortForm) &&
        matchFrom(nodes, input + 1, pattern + 1)) {
        return true;
    }
    return node.optional && matchFrom(nodes, input, pattern + 1);
}

std::vector<std::string> splitParameters(std::string_view parameters) {
    std::vector<std::string> pieces;
    if (trim(parameters).empty()) return pieces;
    std::string current;
    int depth = 0;
    char quote = 0;
    for (char c : parameters) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == ',' && depth == 0) {
            pieces.emplace_back(trim(current));
            current.clear();
            continue;
        }
        current += c;
    }
    pieces.emplace_back(trim(current));
    return pieces;
}

std::optional<double> parseDecimal(std::string_view text) {
    // NR1, NR2 or NR3: [sign] digits [. digits] [E [sign] digits], at least
    // one mantissa digit.
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(value)) throw ScpiFailure{-123};
    return value;
}

Numeric parseNumeric(std::string_view text) {
    if (text.empty()) throw ScpiFailure{errors::kMissingParameter};
    if (const auto value = parseDecimal(text)) return {Numeric::Kind::Value, *value};
    if (characterMatches(text, "MINimum")) return {Numeric::Kind::Min, 0.0};
    if (characterMatches(text, "MAXimum")) return {Numeric::Kind::Max, 0.0};
    if (characterMatches(text, "DEFault")) return {Numeric::Kind::Def, 0.0};
    const char first = text.front();
    if (isDigit(first) || first == '+' || first == '-' || first == '.') {
        // A number followed by a unit suffix, or a number that is broken.
        std::size_t i = 0;
        while (i < text.size() &&
               (isDigit(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.'))
            ++i;
        const bool suffixFollows =
            i < text.size() && parseDecimal(text.substr(0, i)).has_value() &&
            (isBlank(text[i]) ||
             (std::isalpha(static_cast<unsigned char>(text[i])) != 0 && upper(text[i]) != 'E'));
        throw ScpiFailure{suffixFollows ? errors::kInvalidSuffix : errors::kInvalidCharInNumber};
    }
    throw ScpiFailure{errors::kDataType};
}

bool isChannelList(std::string_view text) {
    return text.size() >= 3 && text.substr(0, 2) == "(@" && text.back() == ')';
}

std::vector<int> parseChannelList(std::string_view text) {
    if (text.empty()) throw ScpiFailure{errors::kMissingParameter};
    if (!isChannelList(text)) throw ScpiFailure{errors::kDataType};
    std::string_view body = text.substr(2, text.size() - 3);
    std::vector<int> channels;
    auto number = [](std::string_view piece) {
        piece = trim(piece);
        if (piece.empty() || piece.size() > 6 ||
            !std::all_of(piece.begin(), piece.end(), [](char c) { return isDigit(c); })) {
            throw ScpiFailure{errors::kSyntax};
        }
        return std::atoi(std::string(piece).c_str());
    };
    if (trim(body).empty()) return channels;
    while (true) {
        const std::size_t comma = body.find(',');
        const std::string_view item = body.substr(0, comma);
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            if (channels.size() >= kMaxListedChannels) throw ScpiFailure{errors::kDataOutOfRange};
            channels.push_back(number(item));
        } else {
            const int first = number(item.substr(0, colon));
            const int last = number(item.substr(colon + 1));
            // A range runs either way; no list may grow beyond what a
            // mainframe could hold, however many ranges a line repeats.
            const auto span = static_cast<std::size_t>(std::abs(last - first));
            if (span >= kMaxListedChannels || channels.size() + span >= kMaxListedChannels) {
                throw ScpiFailure{errors::kDataOutOfRange};
            }
            const int step = last >= first ? 1 : -1;
            for (int channel = first;; channel += step) {
                channels.push_back(channel);
                if (channel == last) break;
            }
        }
        if (comma == std::string_view::npos) break;
        body.remove_prefix(comma + 1);
    }
    return channels;
}

std::string formatChannelList(const std::vector<int>& channels) {
    std::string text = "(@";
    for (std::size_t i = 0; i < channels.size();) {
        std::size_t j = i;
        while (j + 1 < channels.size() && channels[j + 1] == channels[j] + 1) ++j;
        if (i != 0) text += ',';
        text += std::to_string(channels[i]);
        if (j > i) text += ':' + std::to_string(channels[j]);
        i = j + 1;
    }
    return text + ")";
}

bool parseBoolean(std::string_view text) {
    if (text.empty()) throw ScpiFailure{errors::kMissingParameter};
    if (characterMatches(text, "ON")) return true;
    if (characterMatches(text, "OFF")) return false;
    if (const auto value = parseDecimal(text)) return std::lround(*value) != 0;
    throw ScpiFailure{errors::kIllegalParameterValue};
}

bool characterMatches(std::string_view typed, std::string_view pattern) {
    return keywordMatches(typed, toUpper(pattern), shortFormOf(pattern));
}

}  // namespace tq820sim
