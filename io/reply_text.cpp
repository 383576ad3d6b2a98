// SPDX-License-Identifier: MIT
#include "io/reply_text.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace tq {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && isDigit(text[at])) {
        ++at;
    }
    return at;
}

}  // namespace

void cutAtLineEnd(std::string& text) {
    if (const auto lf = text.find('\n'); lf != std::string::npos) {
        text.erase(lf);
    }
    if (const auto cr = text.find('\r'); cr != std::string::npos) {
        text.erase(cr);
    }
}

double numericValue(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n')) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Find the longest prefix that is a number: digits, an optional fraction
    // and an exponent only when digits follow its letter (and sign).
    const std::size_t start = at;
    std::size_t end = skipDigits(text, at);
    std::size_t mantissaDigits = end - start;
    if (end < text.size() && text[end] == '.') {
        const std::size_t fractionEnd = skipDigits(text, end + 1);
        mantissaDigits += fractionEnd - (end + 1);
        end = fractionEnd;
    }
    if (mantissaDigits == 0) {
        return 0.0;
    }
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
            ++exponent;
        }
        const std::size_t exponentEnd = skipDigits(text, exponent);
        if (exponentEnd > exponent) {
            end = exponentEnd;
        }
    }
    double value = 0.0;
    const char* first = text.data() + start;
    const char* last = text.data() + end;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        throw std::range_error("number out of range in reply " + quotedReply(text));
    }
    if (ec != std::errc{} || ptr != last) {
        // Cannot happen for the prefix above; say so plainly if it does.
        throw std::invalid_argument("cannot read the number in reply " + quotedReply(text));
    }
    return negative ? -value : value;
}

std::string numberAsText(double value) {
    if (value == 0.0) {
        return " 0";  // also for -0: zero is not negative
    }
    std::array<char, 64> buffer{};
    const auto [ptr, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                         std::chars_format::general, 15);
    if (ec != std::errc{}) {
        throw std::runtime_error("cannot write a number as text");
    }
    std::string text(buffer.data(), ptr);
    for (char& c : text) {
        if (c == 'e') {
            c = 'E';
        }
    }
    return std::signbit(value) ? text : " " + text;
}

std::string quotedReply(std::string_view reply) {
    constexpr std::size_t kShown = 80;
    static const char* const kHex = "0123456789ABCDEF";
    std::string text = "\"";
    for (const char c : reply.substr(0, kShown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
            text += "\\x";
            text += kHex[byte >> 4U];
            text += kHex[byte & 0xFU];
        } else {
            text += c;
        }
    }
    text += "\"";
    if (reply.size() > kShown) {
        text += " (" + std::to_string(reply.size()) + " characters in all)";
    }
    return text;
}

std::string numberInList(double value) {
    std::string text = numberAsText(value);
    if (!text.empty() && text.front() == ' ') {
        text.erase(0, 1);
    }
    return text;
}

}  // namespace tq
