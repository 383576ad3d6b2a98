// SPDX-License-Identifier: MIT
// corvalen shell: interactive with libedit's line editing and a history
// file, or a batch of commands from standard input.
#pragma once

#include <string>

#include "arguments.h"

namespace cli {

// Interactive when standard input is a terminal; else a batch that stops at
// the first failure and returns its status.
[[nodiscard]] int runShell(const Arguments& args);

// Whether line is a query: it ends in '?', or the header of its last command
// does ("*RST;*OPC?", "ROUTe:CHANnel:DELay? (@101)").
[[nodiscard]] bool isQuery(const std::string& line);

// $XDG_STATE_HOME/corvalen/history, or ~/.local/state/corvalen/history when
// XDG_STATE_HOME is unset or not absolute; empty when no home is known.
[[nodiscard]] std::string historyPath();

}  // namespace cli
