// SPDX-License-Identifier: MIT
// Resource aliases and GPIB board bindings, as VISA libraries keep them.
//
// CORVALEN_IO_ALIASES holds "alias=resource" pairs separated by ";", e.g.
//   GPIB0::9::INSTR=TCPIP::127.0.0.1::5025::SOCKET;bench=ASRL/dev/ttyUSB0::INSTR
// The aliases file holds one pair a line, "#" starting a comment line:
//   # board 0 is the Prologix GPIB-USB on the bench
//   GPIB0::INTFC=PRLGX-ASRL/dev/ttyUSB0::INTFC
// A pair whose alias is a board (GPIB<n>::INTFC) binds that board to the
// controller on its right. Everything here works on text alone; the reading
// of the variable and the file is in alias_file.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CorvalenLib {

struct Alias {
    std::string name;
    std::string resource;
    std::string origin;  // "CORVALEN_IO_ALIASES" or "<file>:<line>", for messages
    bool operator==(const Alias&) const = default;
};

struct AliasProblem {
    std::size_t line = 0;  // 1-based line of the file, or entry of the variable
    std::string text;      // what is wrong, without the place
    bool operator==(const AliasProblem&) const = default;
};

inline constexpr std::size_t kMaxAliasLine = 4096;

// The pairs of an aliases file's text, in order; each malformed line goes to
// problems and is skipped. origin is the file name put in front of line numbers.
[[nodiscard]] std::vector<Alias> parseAliasFile(std::string_view text, std::string_view origin,
                                                std::vector<AliasProblem>& problems);

// The pairs of CORVALEN_IO_ALIASES, in order; malformed entries as above.
[[nodiscard]] std::vector<Alias> parseAliasVariable(std::string_view text, std::vector<AliasProblem>& problems);

// The first alias in aliases that stands for name. An alias that is itself a
// resource string matches every spelling of that resource
// ("gpib0::9::instr" matches "GPIB0::9::INSTR"); other aliases match without
// regard to case. Board bindings (GPIB<n>::INTFC) never match an instrument.
[[nodiscard]] const Alias* findAlias(const std::vector<Alias>& aliases, std::string_view name);

// The first binding of GPIB board `board` in aliases, or nullptr.
[[nodiscard]] const Alias* findBoardBinding(const std::vector<Alias>& aliases, int board);

// The resource that name stands for in the variable's text, or nullopt.
// Aliases resolve once: the target is not looked up again. Raises IoError
// for an entry without "=".
[[nodiscard]] std::optional<std::string> lookupAlias(std::string_view aliases, std::string_view name);

// The aliases file's text with board's binding set to controller: its first
// binding line replaced, later ones dropped, or a line appended; comments and
// other lines kept as they are. An empty controller removes the binding.
[[nodiscard]] std::string withBoardBinding(std::string_view text, int board, std::string_view controller);

}  // namespace CorvalenLib
