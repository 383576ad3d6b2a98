// SPDX-License-Identifier: MIT
#include "output.h"

#include <cstdio>

namespace cli {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

void appendHexByte(std::string& out, unsigned char byte) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0f];
}

void writeOut(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

void printReply(std::string_view reply, ReplyForm form) {
    if (form == ReplyForm::Raw) {
        writeOut(reply);
        return;
    }
    std::string line;
    if (form == ReplyForm::Hex) {
        line.reserve(reply.size() * 3 + 1);
        for (std::size_t i = 0; i < reply.size(); ++i) {
            if (i > 0) line += ' ';
            appendHexByte(line, static_cast<unsigned char>(reply[i]));
        }
    } else {
        line.assign(reply);
    }
    line += '\n';
    writeOut(line);
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte >= 0x7f) {
            // Instrument text is ASCII; any other byte is kept as the code
            // point of the same number, so that the output stays valid JSON.
            out += "\\u00";
            appendHexByte(out, byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string oneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            appendHexByte(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

void printError(std::string_view what) {
    std::fflush(stdout);
    const std::string line = "corvalen: " + oneLine(what) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace cli
