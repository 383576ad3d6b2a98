// SPDX-License-Identifier: MIT
#include "corvalenlib/core/trace.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "corvalenlib/core/errors.h"

namespace CorvalenLib {

std::string escapeBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\n': text += "\\n"; break;
            case '\r': text += "\\r"; break;
            case '\t': text += "\\t"; break;
            case '\\': text += "\\\\"; break;
            case '"': text += "\\\""; break;
            default:
                if (byte < 0x20 || byte >= 0x7F) {
                    text += "\\x";
                    text += kHex[byte >> 4];
                    text += kHex[byte & 0xF];
                } else {
                    text += c;
                }
        }
    }
    return text;
}

Trace Trace::fromEnvironment() {
    const char* setting = std::getenv("CORVALEN_IO_TRACE");
    return Trace(setting != nullptr && std::string_view(setting) == "1", STDERR_FILENO);
}

void Trace::writeLine(std::string_view resource, std::string_view what, std::string_view detail) const {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    std::string line = "corvalen-io " + std::to_string(micros.count()) + " ";
    line.append(resource).append(" ").append(what);
    if (!detail.empty()) line.append(" ").append(detail);
    line += '\n';
    // One write per line keeps lines whole next to other output on stderr.
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t written = ::write(fd_, rest.data(), rest.size());
        if (written <= 0) return;  // a trace must never break the I/O it watches
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

void raiseFailure(const Trace& trace, std::string_view resource, std::string_view operation,
                  const std::exception& cause) {
    const std::string text = std::string(resource) + ": " + std::string(operation) + ": " + cause.what();
    if (dynamic_cast<const TimeoutError*>(&cause) != nullptr) {
        trace.event(resource, "TIMEOUT", text);
        throw TimeoutError(text);
    }
    trace.event(resource, "ERROR", text);
    throw IoError(text);
}

}  // namespace CorvalenLib
