// SPDX-License-Identifier: MIT
#include "corvalenlib/core/aliases.h"

#include <algorithm>
#include <variant>

#include "corvalenlib/core/resource.h"
#include "corvalenlib/core/errors.h"

namespace CorvalenLib {
namespace {

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<std::string> canonicalOrNothing(std::string_view text) {
    try {
        return canonicalName(parseResource(text));
    } catch (const IoError&) {
        return std::nullopt;
    }
}

bool sameName(std::string_view a, std::string_view b) {
    const auto canonicalA = canonicalOrNothing(a);
    const auto canonicalB = canonicalOrNothing(b);
    if (canonicalA && canonicalB) return *canonicalA == *canonicalB;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

std::optional<int> boardOf(std::string_view name) {
    if (name.find("::") == std::string_view::npos) return std::nullopt;  // a plain alias, the common case
    try {
        const Interface parsed = parseInterface(name);
        if (const auto* board = std::get_if<GpibBoard>(&parsed)) return board->board;
    } catch (const IoError&) {
    }
    return std::nullopt;
}

// A pair or the reason it is not one. Control bytes other than tab are
// refused: they are never part of a resource and would garble messages.
std::optional<Alias> parsePair(std::string_view entry, std::string& problem) {
    if (entry.size() > kMaxAliasLine) {
        problem = "longer than " + std::to_string(kMaxAliasLine) + " characters";
        return std::nullopt;
    }
    const bool printable = std::all_of(entry.begin(), entry.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\t' || (byte >= 0x20 && byte != 0x7f);
    });
    const auto shown = "\"" + std::string(entry.substr(0, 80)) + (entry.size() > 80 ? "...\"" : "\"");
    if (!printable) {
        problem = "contains a control character";
        return std::nullopt;
    }
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) {
        problem = shown + " is not alias=resource";
        return std::nullopt;
    }
    Alias alias{std::string(trimBlanks(entry.substr(0, equals))), std::string(trimBlanks(entry.substr(equals + 1))),
                {}};
    if (alias.name.empty() || alias.resource.empty()) {
        problem = shown + " is not alias=resource";
        return std::nullopt;
    }
    return alias;
}

}  // namespace

std::vector<Alias> parseAliasFile(std::string_view text, std::string_view origin,
                                  std::vector<AliasProblem>& problems) {
    std::vector<Alias> aliases;
    std::size_t number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        if (line.ends_with('\r')) line.remove_suffix(1);  // written on another system
        const auto content = trimBlanks(line);
        if (content.empty() || content.starts_with('#')) continue;
        std::string problem;
        if (auto alias = parsePair(content, problem)) {
            alias->origin = std::string(origin) + ":" + std::to_string(number);
            aliases.push_back(std::move(*alias));
        } else {
            problems.push_back({number, problem});
        }
    }
    return aliases;
}

std::vector<Alias> parseAliasVariable(std::string_view text, std::vector<AliasProblem>& problems) {
    std::vector<Alias> aliases;
    std::size_t number = 0;
    while (!text.empty()) {
        const auto end = text.find(';');
        const auto entry = trimBlanks(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        if (entry.empty()) continue;
        std::string problem;
        if (auto alias = parsePair(entry, problem)) {
            alias->origin = "CORVALEN_IO_ALIASES";
            aliases.push_back(std::move(*alias));
        } else {
            problems.push_back({number, problem});
        }
    }
    return aliases;
}

const Alias* findAlias(const std::vector<Alias>& aliases, std::string_view name) {
    const auto wanted = trimBlanks(name);
    for (const auto& alias : aliases) {
        if (!boardOf(alias.name) && sameName(alias.name, wanted)) return &alias;
    }
    return nullptr;
}

const Alias* findBoardBinding(const std::vector<Alias>& aliases, int board) {
    for (const auto& alias : aliases) {
        if (boardOf(alias.name) == board) return &alias;
    }
    return nullptr;
}

std::optional<std::string> lookupAlias(std::string_view aliases, std::string_view name) {
    std::vector<AliasProblem> problems;
    const auto parsed = parseAliasVariable(aliases, problems);
    if (!problems.empty()) throw IoError("CORVALEN_IO_ALIASES: entry " + problems.front().text);
    const Alias* found = findAlias(parsed, name);
    return found != nullptr ? std::optional<std::string>(found->resource) : std::nullopt;
}

std::string withBoardBinding(std::string_view text, int board, std::string_view controller) {
    std::string result;
    bool written = controller.empty();
    const std::string binding = "GPIB" + std::to_string(board) + "::INTFC=" + std::string(controller) + "\n";
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        text.remove_prefix(line.size());
        const auto content = trimBlanks(line.substr(0, line.find_first_of("\r\n")));
        const auto equals = content.find('=');
        const bool bindsBoard = !content.starts_with('#') && equals != std::string_view::npos &&
                                boardOf(trimBlanks(content.substr(0, equals))) == board;
        if (!bindsBoard) {
            result += line;
            if (!line.ends_with('\n')) result += '\n';
            continue;
        }
        if (!written) result += binding;
        written = true;
    }
    if (!written) result += binding;
    return result;
}

}  // namespace CorvalenLib
