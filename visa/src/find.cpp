// SPDX-License-Identifier: MIT
// viFindRsrc and viFindNext: what the library knows (aliases, instruments
// on bound boards, serial ports, LAN discovery for a short time) matched
// against VISA's search expressions.
#include "objects.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <set>

namespace corvalen::visa {
namespace {

// How long a search for instruments may take; CORVALEN_VISA_FIND_TIMEOUT
// (milliseconds) sets it for programs that list often.
std::chrono::milliseconds findTimeout() {
    if (const char* text = std::getenv("CORVALEN_VISA_FIND_TIMEOUT")) {
        char* end = nullptr;
        const long ms = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && ms >= 0 && ms <= 60'000) return std::chrono::milliseconds(ms);
    }
    return std::chrono::milliseconds(1500);
}

// The expression grammar: ? one character, * and + repeat what precedes,
// [list] and [^list], (groups), | between alternatives, \ quotes the next
// character. Matched without regard to case, against the whole name.
// Raises std::regex_error for an expression that does not parse.
std::regex compileExpression(const std::string& expression) {
    std::string pattern;
    bool inList = false;
    for (std::size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        if (c == '\\') {
            if (++i == expression.size()) throw std::regex_error(std::regex_constants::error_escape);
            const char quoted = expression[i];
            if (std::isalnum(static_cast<unsigned char>(quoted))) pattern += quoted;
            else pattern += std::string("\\") + quoted;
        } else if (inList) {
            if (c == ']') inList = false;
            pattern += c;
        } else if (c == '[') {
            inList = true;
            pattern += c;
        } else if (c == '?') {
            pattern += '.';
        } else if (c == '*' || c == '+' || c == '|' || c == '(' || c == ')') {
            pattern += c;
        } else if (std::isalnum(static_cast<unsigned char>(c))) {
            pattern += c;
        } else {
            pattern += '\\';
            pattern += c;
        }
    }
    return std::regex(pattern, std::regex::ECMAScript | std::regex::icase);
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Bound boards: the aliases named GPIBn::INTFC.
std::vector<int> boundBoards(const AliasTable& table) {
    std::vector<int> boards;
    for (const AliasEntry& entry : table.entries) {
        try {
            const ResourceInfo info = parseResource(entry.name);
            if (info.resourceClass == "INTFC" && info.interfaceType == "GPIB" && info.controller.empty()) {
                boards.push_back(info.interfaceNumber);
            }
        } catch (const IoError&) {
            // an ordinary alias
        }
    }
    return boards;
}

std::vector<std::string> knownResources() {
    std::vector<std::string> names;
    std::set<std::string> seen;
    auto add = [&](const std::string& name) {
        if (!name.empty() && seen.insert(upper(name)).second) names.push_back(name);
    };
    const AliasTable table = aliases();
    for (const AliasEntry& entry : table.entries) {
        try {
            if (parseResource(entry.name).resourceClass == "INTFC") continue;
        } catch (const IoError&) {
        }
        try {
            add(parseResource(entry.resource).canonical);
        } catch (const IoError&) {
            // an alias for something that does not parse: nothing to list
        }
    }
    const std::vector<int> boards = boundBoards(table);
    const auto perSearch = findTimeout() / static_cast<int>(std::max<std::size_t>(1, boards.size()));
    for (std::size_t i = 0; i == 0 || i < boards.size(); ++i) {
        FindOptions options;
        options.lan = i == 0;
        options.mdns = i == 0;
        options.serial = i == 0;
        if (i < boards.size()) options.gpibBoard = boards[i];
        options.timeout = perSearch;
        find(options, [&](const Found& found) { add(found.resource); });
    }
    return names;
}

}  // namespace
}  // namespace corvalen::visa

using namespace corvalen::visa;

extern "C" {

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt, ViChar desc[]) {
    if (vi != nullptr) *vi = VI_NULL;
    if (retCnt != nullptr) *retCnt = 0;
    if (desc == nullptr) return VI_ERROR_USER_BUF;
    desc[0] = '\0';
    if (!lookup<Manager>(sesn)) return VI_ERROR_INV_OBJECT;
    if (expr == nullptr) return VI_ERROR_INV_EXPR;
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        std::regex expression;
        try {
            expression = compileExpression(expr);
        } catch (const std::regex_error&) {
            return VI_ERROR_INV_EXPR;
        }
        auto list = std::make_shared<FindList>();
        for (const std::string& name : knownResources()) {
            if (std::regex_match(name, expression)) list->names.push_back(name);
        }
        if (list->names.empty()) return VI_ERROR_RSRC_NFOUND;
        copyOut(list->names.front(), desc);
        list->next = 1;
        if (retCnt != nullptr) *retCnt = static_cast<ViUInt32>(list->names.size());
        list->manager = sesn;
        if (vi != nullptr) *vi = Registry::instance().add(list);
        return VI_SUCCESS;
    });
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
    if (desc == nullptr) return VI_ERROR_USER_BUF;
    desc[0] = '\0';
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        auto list = lookup<FindList>(vi);
        if (!list) return VI_ERROR_INV_OBJECT;
        std::lock_guard lock(list->mutex);
        if (list->next >= list->names.size()) return VI_ERROR_RSRC_NFOUND;
        copyOut(list->names[list->next++], desc);
        return VI_SUCCESS;
    });
}

}  // extern "C"
