// SPDX-License-Identifier: MIT
#include "session.h"

#include <cstdio>

namespace tq820sim {

std::string escapeForTranscript(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\') {
            escaped += c;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            escaped += code;
        }
    }
    return escaped;
}

Output Session::receive(std::string_view bytes) {
    Output output;
    while (!bytes.empty() && !closed_) {
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            pending_.append(bytes);
            bytes = {};
        } else {
            pending_.append(bytes.substr(0, end));
            bytes.remove_prefix(end + 1);
        }
        if (pending_.size() > kMaxLine) {
            // No instrument buffers an endless line; say so and hang up.
            instrument_.pushError(errors::kInputBufferOverrun);
            output.events.push_back({Event::Kind::Fault, "input line longer than " +
                                                             std::to_string(kMaxLine) +
                                                             " bytes; connection closed"});
            output.close = true;
            closed_ = true;
            pending_.clear();
            break;
        }
        if (end == std::string_view::npos) break;
        std::string line;
        line.swap(pending_);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        handleLine(line, output);
    }
    return output;
}

void Session::handleLine(std::string_view line, Output& output) {
    output.events.push_back({Event::Kind::Received, escapeForTranscript(line)});
    const long before = instrument_.queryCount();
    auto reply = instrument_.processLine(line);
    for (std::string& note : instrument_.takeFaultNotes())
        output.events.push_back({Event::Kind::Fault, note});
    if (reply) sendReply(std::move(*reply), before + 1, instrument_.queryCount(), output);
    ++faults_.linesReceived;
    if (faults_.closeAfter > 0 && faults_.linesReceived == faults_.closeAfter) {
        output.events.push_back(
            {Event::Kind::Fault,
             "connection closed after " + std::to_string(faults_.closeAfter) + " commands"});
        output.close = true;
        closed_ = true;
    }
}

void Session::sendReply(std::string reply, long firstQuery, long lastQuery, Output& output) {
    auto concerns = [&](long query) {
        return query > 0 && query >= firstQuery && query <= lastQuery;
    };
    if (concerns(faults_.garbageReply)) {
        // Bytes no instrument would send, none of them a line end.
        reply = "\x9f\x02#@\xff\x7f%q\x01\xc3(\x0b~\x80\x1b";
        output.events.push_back(
            {Event::Kind::Fault, "garbage reply to query " + std::to_string(faults_.garbageReply)});
    }
    bool lineEnd = true;
    if (concerns(faults_.noLineEnd)) {
        lineEnd = false;
        output.events.push_back(
            {Event::Kind::Fault,
             "reply to query " + std::to_string(faults_.noLineEnd) + " without line end"});
    }
    output.events.push_back({Event::Kind::Sent, escapeForTranscript(reply)});
    if (lineEnd) reply += '\n';
    output.replies.push_back(std::move(reply));
}

}  // namespace tq820sim
