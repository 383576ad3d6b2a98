// SPDX-License-Identifier: MIT
// corvalen's commands; each returns its exit status and lets a failure
// (IoError, TimeoutError, ResourceError, UsageError) pass to the caller.
#pragma once

#include <string>

#include "arguments.h"
#include "output.h"

namespace cli {

// The reply form the options ask for.
[[nodiscard]] ReplyForm replyForm(const Arguments& args);

// Opens resource with the options given; the aliases file's problems are
// named on standard error first, as they may be why a name is not found.
[[nodiscard]] corvalen::Instrument openInstrument(const std::string& resource, const corvalen::OpenOptions& options);

// Sends command and prints its reply in form.
void queryAndPrint(corvalen::Instrument& instrument, const std::string& command, ReplyForm form);

// Prints the failure being handled (call it in a catch block) as one line,
// context in front, and returns its exit status.
[[nodiscard]] int reportFailure(const std::string& context);

// The command args names, run.
[[nodiscard]] int runCommand(const Arguments& args);

}  // namespace cli
