// SPDX-License-Identifier: MIT
#include "help.h"

#include <array>
#include <string_view>

namespace cli {
namespace {

struct CommandHelp {
    std::string_view name;
    std::string_view synopsis;
    std::string_view text;  // what it does and its own options
};

constexpr std::string_view kCommonOptions = R"~(Options for every command:
  -t, --timeout MS         time-out for each reply, in ms (default 10000;
                           for find: the whole search, in seconds)
      --connect-timeout MS time-out for the name lookup and the connection
                           together, in ms (default 5000)
      --serial BAUD,DPS[,FLOW]
                           line settings for ASRL resources and Prologix
                           GPIB-USB controllers (default 9600,8N1,none)
      --trace              the library's trace lines on standard error
      --no-aliases         take names as they stand: no alias, no board binding
  -h, --help               this text
  -V, --version            the version
)~";

constexpr std::string_view kExitStatuses = R"~(Exit status: 0 success, 1 an I/O failure, 2 a usage error or a malformed
resource or alias, 3 a time-out, 4 nothing found (find).
)~";

constexpr std::string_view kReplyOptions = R"~(      --raw                print each reply as it came, line end included
      --hex                print each reply's bytes in hexadecimal
)~";

constexpr std::array<CommandHelp, 10> kHelp{{
    {"query", "corvalen query [OPTION]... RESOURCE COMMAND...",
     "Sends each COMMAND and prints its reply on a line of its own, without\n"
     "the reply's line end.\n\n"},
    {"write", "corvalen write [OPTION]... RESOURCE COMMAND...",
     "Sends each COMMAND, a line end added, and reads nothing.\n\n"},
    {"read", "corvalen read [OPTION]... RESOURCE", "Reads one reply and prints it.\n\n"},
    {"shell", "corvalen shell [OPTION]... [RESOURCE]",
     "An interactive shell with line editing and a history kept in\n"
     "$XDG_STATE_HOME/corvalen/history (~/.local/state/corvalen/history).\n"
     "A line whose last command ends in '?' (\"*IDN?\", \"ROUT:CHAN:DEL? (@101)\")\n"
     "is a query and its reply is printed; any other line is written. Lines\n"
     "that begin with ':' are the shell's own (see :help). Without a terminal\n"
     "on standard input it reads commands one a line as a batch, skips empty\n"
     "lines and those that begin with '#', and stops at the first failure\n"
     "with that failure's exit status.\n\n"},
    {"find", "corvalen find [--lan] [--mdns] [--gpib N] [--serial[=SETTINGS]] [--probe-serial]\n"
             "              [--timeout S] [--json]",
     "Searches as the Select I/O dialog does and prints each entry as soon as\n"
     "it is known: resource, identity and how it was found, separated by tabs.\n"
     "Without a switch it searches the LAN and mDNS; with switches, only what\n"
     "they name. The whole search ends within its time-out.\n\n"
     "      --lan                the VXI-11 broadcast on every IPv4 interface\n"
     "      --mdns               instruments announced through Avahi\n"
     "      --gpib N             the listeners at addresses 1 to 30 of board N\n"
     "      --serial[=SETTINGS]  the serial ports that exist (line settings\n"
     "                           for the probe only with '=')\n"
     "      --probe-serial       ask each serial port for a Prologix controller\n"
     "      --json               one JSON object a line: resource, identity,\n"
     "                           kind, how\n"
     "  -t, --timeout S          the whole search, in seconds (default 12)\n\n"},
    {"identify", "corvalen identify [OPTION]... RESOURCE",
     "Prints the reply to *IDN? and the route taken: the resource opened, the\n"
     "alias that named it and the controller its GPIB board is bound to.\n\n"},
    {"bind", "corvalen bind [OPTION]... GPIB<n> CONTROLLER",
     "Binds GPIB board n to CONTROLLER in the aliases file\n"
     "($XDG_CONFIG_HOME/corvalen/aliases.conf), so that GPIB<n>::<addr>::INSTR\n"
     "goes there: PRLGX-TCPIP::host[::port]::INTFC, PRLGX-ASRL/dev/ttyUSB0::INTFC,\n"
     "TCPIP::gateway::gpib0::INTFC or another board, GPIB1::INTFC.\n\n"},
    {"unbind", "corvalen unbind [OPTION]... GPIB<n>",
     "Removes board n's binding from the aliases file.\n\n"},
    {"aliases", "corvalen aliases [OPTION]...",
     "Lists the aliases and board bindings in force, in the order they are\n"
     "looked up: name, resource and where each comes from, separated by tabs.\n"
     "The aliases file's problems go to standard error with file and line,\n"
     "and make the exit status 2.\n\n"},
    {"parse", "corvalen parse [OPTION]... RESOURCE",
     "Offline: prints the canonical form of RESOURCE and its fields, or the\n"
     "error that states the expected syntax.\n\n"},
}};

constexpr std::string_view kOverview = R"~(Usage: corvalen COMMAND [OPTION]... [OPERAND]...
Reaches instruments by VISA resource string or alias: TCP sockets, VXI-11,
serial lines, linux-gpib and GPIB boards bound to a Prologix controller or a
LAN/GPIB gateway.

Commands:
  query RESOURCE COMMAND...   send each command, print each reply
  write RESOURCE COMMAND...   send each command
  read RESOURCE               print one reply
  shell [RESOURCE]            interactive, or a batch from standard input
  find [SWITCH]...            search the LAN, mDNS, a GPIB board, serial ports
  identify RESOURCE           *IDN? and the route taken
  bind GPIB<n> CONTROLLER     bind a GPIB board to a controller
  unbind GPIB<n>              remove a board's binding
  aliases                     the aliases and bindings in force
  parse RESOURCE              a resource string taken apart, offline

'corvalen COMMAND --help' describes one command.

)~";

}  // namespace

std::string helpText(const std::string& command) {
    for (const auto& entry : kHelp) {
        if (entry.name != command) continue;
        std::string text = "Usage: " + std::string(entry.synopsis) + "\n" + std::string(entry.text);
        if (command == "query" || command == "read" || command == "shell") {
            text += "Reply options:\n" + std::string(kReplyOptions) + "\n";
        }
        return text + std::string(kCommonOptions) + "\n" + std::string(kExitStatuses);
    }
    return std::string(kOverview) + std::string(kCommonOptions) + "\n" + std::string(kExitStatuses);
}

std::string shellHelpText() {
    return R"~(COMMAND?        a query: the reply is printed (also "A;B?", "X? (@101)")
COMMAND         written; nothing is read
:open RESOURCE  close what is open and open RESOURCE
:close          close the instrument
:read           read one reply
:timeout [MS]   set (or show) the time-out for each reply
:trace on|off   the library's trace on standard error
:help           this text
:quit           leave (as does end of input, Ctrl-D)
)~";
}

}  // namespace cli
