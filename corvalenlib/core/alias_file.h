// SPDX-License-Identifier: MIT
// Where the I/O library keeps its aliases and board bindings, and the one
// place that reads and writes them: CORVALEN_IO_ALIASES, then
// $XDG_CONFIG_HOME/corvalen/aliases.conf (~/.config/corvalen/aliases.conf
// when XDG_CONFIG_HOME is unset). The variable's entries come first, so they
// win over the file's.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "corvalenlib/core/aliases.h"

namespace CorvalenLib {

inline constexpr std::size_t kMaxAliasFile = 1024 * 1024;

// The aliases file's path; empty when neither XDG_CONFIG_HOME nor HOME is set.
[[nodiscard]] std::string aliasFilePath();

struct LoadedAliases {
    std::vector<Alias> aliases;
    // One line each, naming file and line: "<file>:3: <what is wrong>; skipped".
    std::vector<std::string> problems;
};

// The aliases in force. A missing file holds none; an unreadable or
// over-long file and each malformed line or entry are skipped and named
// among the problems, for the caller to show where its user looks.
[[nodiscard]] LoadedAliases loadAliases();

// Binds board to controller in the aliases file (an empty controller
// removes the binding), keeping its other lines and comments. Written to a
// temporary file and renamed over the old one, so that a crash leaves the
// old file or the new one, never half of one. A file that is a symbolic
// link is written through it: the link stays, its target is replaced, with
// the target's mode where it is stricter than 0600. Raises IoError.
void saveBoardBinding(int board, const std::string& controller);

}  // namespace CorvalenLib
