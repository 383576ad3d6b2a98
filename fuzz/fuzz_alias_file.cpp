// SPDX-License-Identifier: MIT
// The aliases file as anyone may have written it, and the write-back of a
// board binding into it.
//
// Invariants: parsing never raises; every line is a pair, a problem or
// nothing (blank or comment), counted once and in order; a pair's alias and
// resource are non-empty, trimmed and free of control bytes, and no longer
// than a line may be. Saving a binding makes that binding the board's, and
// keeps every other pair, in order; removing it leaves the board unbound.
#include <cstdint>
#include <string>
#include <vector>

#include "corvalenlib/core/aliases.h"
#include "fuzz/fuzz_check.h"

namespace {

using CorvalenLib::Alias;
using CorvalenLib::AliasProblem;

std::size_t lineCount(std::string_view text) {
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text.size(); ++lines) {
        const auto end = text.find('\n', at);
        at = end == std::string_view::npos ? text.size() : end + 1;
    }
    return lines;
}

std::vector<Alias> checkedParse(std::string_view text) {
    std::vector<AliasProblem> problems;
    auto aliases = CorvalenLib::parseAliasFile(text, "f", problems);
    TQ_FUZZ_CHECK(aliases.size() + problems.size() <= lineCount(text));
    for (std::size_t i = 1; i < problems.size(); ++i) TQ_FUZZ_CHECK(problems[i - 1].line < problems[i].line);
    for (const auto& alias : aliases) {
        for (const auto* part : {&alias.name, &alias.resource}) {
            TQ_FUZZ_CHECK(!part->empty() && part->size() <= CorvalenLib::kMaxAliasLine);
            TQ_FUZZ_CHECK(part->front() != ' ' && part->front() != '\t' && part->back() != ' ' && part->back() != '\t');
            for (const char c : *part) TQ_FUZZ_CHECK(c == '\t' || static_cast<unsigned char>(c) >= 0x20);
        }
        TQ_FUZZ_CHECK(alias.name.find('=') == std::string::npos);
    }
    return aliases;
}

std::vector<Alias> othersThan(const std::vector<Alias>& aliases, int board) {
    std::vector<Alias> others;
    for (const auto& alias : aliases) {
        const auto* binding = CorvalenLib::findBoardBinding({alias}, board);
        if (binding == nullptr) others.push_back({alias.name, alias.resource, {}});
    }
    return others;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    const int board = input.byte() % 4;
    const std::string text(input.rest());
    const auto before = checkedParse(text);

    const std::string controller = "PRLGX-TCPIP::h::1234::INTFC";
    const std::string saved = CorvalenLib::withBoardBinding(text, board, controller);
    const auto after = checkedParse(saved);
    const Alias* binding = CorvalenLib::findBoardBinding(after, board);
    TQ_FUZZ_CHECK(binding != nullptr && binding->resource == controller);
    TQ_FUZZ_CHECK(othersThan(after, board) == othersThan(before, board));

    const auto removed = checkedParse(CorvalenLib::withBoardBinding(saved, board, ""));
    TQ_FUZZ_CHECK(CorvalenLib::findBoardBinding(removed, board) == nullptr);
    TQ_FUZZ_CHECK(othersThan(removed, board) == othersThan(before, board));
    return 0;
}
