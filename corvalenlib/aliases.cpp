#include "corvalenlib/aliases.h"

#include <algorithm>

#include "corvalenlib/resource.h"
#include "io/corvalen.h"

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

}  // namespace

std::optional<std::string> lookupAlias(std::string_view aliases, std::string_view name) {
    const auto wanted = trimBlanks(name);
    while (!aliases.empty()) {
        const auto end = aliases.find(';');
        const auto entry = trimBlanks(aliases.substr(0, end));
        aliases = end == std::string_view::npos ? std::string_view{} : aliases.substr(end + 1);
        if (entry.empty()) continue;
        const auto equals = entry.find('=');
        if (equals == std::string_view::npos || trimBlanks(entry.substr(0, equals)).empty()) {
            throw IoError("CORVALEN_IO_ALIASES: entry \"" + std::string(entry) + "\" is not alias=resource");
        }
        if (sameName(trimBlanks(entry.substr(0, equals)), wanted)) {
            return std::string(trimBlanks(entry.substr(equals + 1)));
        }
    }
    return std::nullopt;
}

}  // namespace CorvalenLib
