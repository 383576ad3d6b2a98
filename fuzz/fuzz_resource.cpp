// SPDX-License-Identifier: MIT
// Resource strings and aliases, as the operator, the selection dialog and
// CORVALEN_IO_ALIASES hand them to the control.
//
// Invariants: parsing raises only IoError; a parsed resource has one
// canonical name that parses back to the same resource and names itself;
// its interface type is one of the four. An alias lookup raises only
// IoError, gives a trimmed piece of the alias text, and gives the same answer
// for every spelling of a resource.
#include <optional>
#include <string>
#include <variant>

#include "corvalenlib/core/aliases.h"
#include "corvalenlib/core/resource.h"
#include "fuzz/fuzz_check.h"
#include "corvalenlib/core/errors.h"

namespace {

using CorvalenLib::IoError;

std::optional<CorvalenLib::Resource> parsed(std::string_view text) {
    try {
        return CorvalenLib::parseResource(text);
    } catch (const IoError& error) {
        TQ_FUZZ_CHECK(std::string_view(error.what()).find("malformed resource") == 0);
        return std::nullopt;
    }
}

void checkResource(std::string_view text) {
    const auto resource = parsed(text);
    if (!resource) return;
    const std::string name = CorvalenLib::canonicalName(*resource);
    const auto again = parsed(name);
    TQ_FUZZ_CHECK(again.has_value());
    TQ_FUZZ_CHECK(*again == *resource);
    TQ_FUZZ_CHECK(CorvalenLib::canonicalName(*again) == name);
    const std::string type = CorvalenLib::interfaceTypeOf(*resource);
    TQ_FUZZ_CHECK(type == "GPIB" || type == "ASRL" || type == "TCPIP" || type == "USB");
    TQ_FUZZ_CHECK(name.rfind(type, 0) == 0);
}

struct Lookup {
    bool raised = false;
    std::optional<std::string> target;
    bool operator==(const Lookup&) const = default;
};

Lookup lookup(std::string_view aliases, std::string_view name) {
    try {
        return {false, CorvalenLib::lookupAlias(aliases, name)};
    } catch (const IoError&) {
        return {true, std::nullopt};
    }
}

void checkAlias(std::string_view aliases, std::string_view name) {
    const Lookup found = lookup(aliases, name);
    if (found.target) {
        const std::string& target = *found.target;
        TQ_FUZZ_CHECK(target.find(';') == std::string::npos);
        TQ_FUZZ_CHECK(aliases.find(target) != std::string_view::npos);
        if (!target.empty()) {
            TQ_FUZZ_CHECK(target.front() != ' ' && target.front() != '\t');
            TQ_FUZZ_CHECK(target.back() != ' ' && target.back() != '\t');
        }
    }
    if (const auto resource = parsed(name)) {
        TQ_FUZZ_CHECK(lookup(aliases, CorvalenLib::canonicalName(*resource)) == found);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    // The whole input is one resource; split at the first NUL it is also an
    // alias list and a name to look up in it.
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    checkResource(whole);
    const std::string_view aliases = input.textUntil('\0');
    const std::string_view name = input.rest();
    checkResource(name);
    checkAlias(aliases, name);
    return 0;
}
