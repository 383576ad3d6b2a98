// SPDX-License-Identifier: MIT
#include "commands.h"

#include <cstdio>
#include <new>

#include "shell.h"

namespace cli {
namespace {

void say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

int runQuery(const Arguments& args) {
    corvalen::Instrument instrument = openInstrument(args.operands[0], args.open);
    for (std::size_t i = 1; i < args.operands.size(); ++i) queryAndPrint(instrument, args.operands[i], replyForm(args));
    return kOk;
}

int runWrite(const Arguments& args) {
    corvalen::Instrument instrument = openInstrument(args.operands[0], args.open);
    for (std::size_t i = 1; i < args.operands.size(); ++i) instrument.write(args.operands[i]);
    return kOk;
}

int runRead(const Arguments& args) {
    corvalen::Instrument instrument = openInstrument(args.operands[0], args.open);
    const ReplyForm form = replyForm(args);
    printReply(form == ReplyForm::Text ? instrument.read() : instrument.readRaw(), form);
    return kOk;
}

int runIdentify(const Arguments& args) {
    corvalen::Instrument instrument = openInstrument(args.operands[0], args.open);
    const std::string identity = instrument.query("*IDN?");
    const corvalen::Route route = instrument.route();
    say(oneLine(identity));
    say("resource:   " + route.resource + " (" + instrument.interfaceType() + ")");
    say("alias:      " + (route.alias.empty() ? "none" : route.requested + " -> " + route.alias));
    say("controller: " + (route.controller.empty() ? "none"
                                                   : route.controller + " (board " +
                                                         route.resource.substr(0, route.resource.find("::")) +
                                                         " bound to it)"));
    return kOk;
}

int runParse(const Arguments& args) {
    const corvalen::ResourceInfo info = corvalen::parseResource(args.operands[0]);
    say(info.canonical);
    say("interface  " + info.interfaceType + " " + std::to_string(info.interfaceNumber));
    say("class      " + info.resourceClass);
    if (!info.controller.empty()) say("controller " + info.controller);
    if (!info.host.empty()) say("host       " + info.host);
    if (info.port != 0) say("port       " + std::to_string(info.port));
    if (!info.device.empty()) say("device     " + info.device);
    if (info.primaryAddress >= 0) say("primary    " + std::to_string(info.primaryAddress));
    if (info.secondaryAddress >= 0) say("secondary  " + std::to_string(info.secondaryAddress));
    return kOk;
}

int runAliases(const Arguments&) {
    const corvalen::AliasTable table = corvalen::aliases();
    for (const auto& entry : table.entries) say(entry.name + "\t" + entry.resource + "\t" + entry.origin);
    std::fflush(stdout);
    for (const auto& problem : table.problems) printError("aliases: " + problem);
    return table.problems.empty() ? kOk : kUsage;
}

std::string boardName(int board) { return "GPIB" + std::to_string(board) + "::INTFC"; }

// The binding of board that comes before the file's, if any.
const corvalen::AliasEntry* bindingAhead(const corvalen::AliasTable& table, int board) {
    for (const auto& entry : table.entries) {
        if (entry.origin.rfind(table.file, 0) == 0 && !table.file.empty()) continue;
        try {
            const corvalen::ResourceInfo info = corvalen::parseResource(entry.name);
            if (info.resourceClass == "INTFC" && info.interfaceType == "GPIB" && info.controller.empty() &&
                info.interfaceNumber == board) {
                return &entry;
            }
        } catch (const corvalen::IoError&) {
            // A plain alias name, not a board.
        }
    }
    return nullptr;
}

void warnIfShadowed(int board) {
    const corvalen::AliasTable table = corvalen::aliases();
    if (const auto* ahead = bindingAhead(table, board)) {
        printError("note: " + ahead->origin + " binds " + boardName(board) + " to " + ahead->resource +
                   ", which comes first");
    }
}

int runBind(const Arguments& args) {
    const int board = parseBoard(args.operands[0]);
    const std::string controller = corvalen::parseResource(args.operands[1]).canonical;
    corvalen::bindBoard(board, controller);
    say(boardName(board) + " bound to " + controller + " in " + corvalen::aliases().file);
    warnIfShadowed(board);
    return kOk;
}

int runUnbind(const Arguments& args) {
    const int board = parseBoard(args.operands[0]);
    corvalen::bindBoard(board, "");
    say(boardName(board) + " unbound in " + corvalen::aliases().file);
    warnIfShadowed(board);
    return kOk;
}

std::string kindName(corvalen::Found::Kind kind) {
    switch (kind) {
    case corvalen::Found::Kind::Instrument: return "instrument";
    case corvalen::Found::Kind::Gateway: return "gateway";
    case corvalen::Found::Kind::Controller: return "controller";
    case corvalen::Found::Kind::SerialPort: return "serial-port";
    case corvalen::Found::Kind::Silent: return "silent";
    }
    return "instrument";
}

void printFound(const corvalen::Found& found, bool json) {
    if (json) {
        say("{\"resource\": " + jsonString(found.resource) + ", \"identity\": " + jsonString(found.identity) +
            ", \"kind\": " + jsonString(kindName(found.kind)) + ", \"how\": " + jsonString(found.how) + "}");
    } else {
        say(oneLine(found.resource) + "\t" + oneLine(found.identity) + "\t" + found.how);
    }
    std::fflush(stdout);
}

int runFind(const Arguments& args) {
    int count = 0;
    corvalen::find(
        args.find,
        [&](const corvalen::Found& found) {
            printFound(found, args.json);
            ++count;
        },
        [](const std::string& note) { printError("find: " + note); });
    if (count == 0) {
        printError("find: nothing found within " + std::to_string(args.find.timeout.count()) + " ms");
        return kNothingFound;
    }
    return kOk;
}

}  // namespace

ReplyForm replyForm(const Arguments& args) {
    if (args.raw) return ReplyForm::Raw;
    if (args.hex) return ReplyForm::Hex;
    return ReplyForm::Text;
}

corvalen::Instrument openInstrument(const std::string& resource, const corvalen::OpenOptions& options) {
    if (options.useAliases) {
        for (const auto& problem : corvalen::aliases().problems) printError("warning: " + problem);
    }
    return corvalen::open(resource, options);
}

void queryAndPrint(corvalen::Instrument& instrument, const std::string& command, ReplyForm form) {
    if (form == ReplyForm::Text) {
        printReply(instrument.query(command), form);
        return;
    }
    instrument.write(command);
    printReply(instrument.readRaw(), form);
}

int reportFailure(const std::string& context) {
    try {
        throw;
    } catch (const UsageError& error) {
        printError(context + error.what());
        return kUsage;
    } catch (const corvalen::ResourceError& error) {
        printError(context + error.what());
        return kUsage;
    } catch (const corvalen::TimeoutError& error) {
        printError(context + error.what());
        return kTimeout;
    } catch (const corvalen::IoError& error) {
        printError(context + error.what());
        return kIoFailure;
    } catch (const std::bad_alloc&) {
        printError(context + "out of memory");
        return kIoFailure;
    }
}

int runCommand(const Arguments& args) {
    const std::string& command = args.command;
    if (command == "query") return runQuery(args);
    if (command == "write") return runWrite(args);
    if (command == "read") return runRead(args);
    if (command == "identify") return runIdentify(args);
    if (command == "parse") return runParse(args);
    if (command == "aliases") return runAliases(args);
    if (command == "bind") return runBind(args);
    if (command == "unbind") return runUnbind(args);
    if (command == "find") return runFind(args);
    return runShell(args);
}

}  // namespace cli
