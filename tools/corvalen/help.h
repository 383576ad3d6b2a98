// SPDX-License-Identifier: MIT
// corvalen --help, corvalen COMMAND --help and the shell's :help.
#pragma once

#include <string>

namespace cli {

// The text of corvalen --help (command empty) or of COMMAND --help.
[[nodiscard]] std::string helpText(const std::string& command);

// The shell's own commands, for :help.
[[nodiscard]] std::string shellHelpText();

}  // namespace cli
