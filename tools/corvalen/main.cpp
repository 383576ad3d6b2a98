// SPDX-License-Identifier: MIT
// corvalen: one command line for every instrument libcorvalen reaches.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "help.h"
#include "output.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const cli::Arguments parsed = cli::parseArguments(args);
        if (parsed.help) {
            std::fputs(cli::helpText(parsed.command).c_str(), stdout);
            return cli::kOk;
        }
        if (parsed.version) {
            std::printf("corvalen %s\n", corvalen::version().c_str());
            return cli::kOk;
        }
        const int status = cli::runCommand(parsed);
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            cli::printError("cannot write to standard output");
            return cli::kIoFailure;
        }
        return status;
    } catch (...) {
        return cli::reportFailure(args.empty() || args[0].empty() || args[0][0] == '-' ? "" : args[0] + ": ");
    }
}
