// SPDX-License-Identifier: MIT
#include "arguments.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

namespace cli {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongestTime = std::chrono::milliseconds(3'600'000);

struct CommandShape {
    std::string_view name;
    std::size_t fewest;
    std::size_t most;
    std::string_view operands;  // for the message when the count is wrong
};

constexpr std::size_t kMany = std::numeric_limits<std::size_t>::max();
constexpr std::array<CommandShape, 10> kCommands{{
    {"query", 2, kMany, "RESOURCE COMMAND..."},
    {"write", 2, kMany, "RESOURCE COMMAND..."},
    {"read", 1, 1, "RESOURCE"},
    {"shell", 0, 1, "[RESOURCE]"},
    {"find", 0, 0, "no operand"},
    {"identify", 1, 1, "RESOURCE"},
    {"bind", 2, 2, "GPIB<n> CONTROLLER"},
    {"unbind", 1, 1, "GPIB<n>"},
    {"aliases", 0, 0, "no operand"},
    {"parse", 1, 1, "RESOURCE"},
}};

enum class Takes { Nothing, Value };

struct OptionRule {
    std::string_view name;
    char shortName;
    Takes takes;
    std::string_view commands;  // the commands it applies to; empty for all
};

constexpr std::array<OptionRule, 14> kOptions{{
    {"timeout", 't', Takes::Value, ""},
    {"connect-timeout", 0, Takes::Value, ""},
    {"serial", 0, Takes::Value, ""},
    {"trace", 0, Takes::Nothing, ""},
    {"no-aliases", 0, Takes::Nothing, ""},
    {"help", 'h', Takes::Nothing, ""},
    {"version", 'V', Takes::Nothing, ""},
    {"raw", 0, Takes::Nothing, "query read shell"},
    {"hex", 0, Takes::Nothing, "query read shell"},
    {"lan", 0, Takes::Nothing, "find"},
    {"mdns", 0, Takes::Nothing, "find"},
    {"gpib", 0, Takes::Value, "find"},
    {"probe-serial", 0, Takes::Nothing, "find"},
    {"json", 0, Takes::Nothing, "find"},
}};

struct Given {
    const OptionRule* rule;
    std::optional<std::string> value;
};

const CommandShape* shapeOf(std::string_view command) {
    for (const auto& shape : kCommands) {
        if (shape.name == command) return &shape;
    }
    return nullptr;
}

const OptionRule* optionNamed(std::string_view name, char shortName) {
    for (const auto& rule : kOptions) {
        if ((!name.empty() && rule.name == name) || (shortName != 0 && rule.shortName == shortName)) return &rule;
    }
    return nullptr;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool appliesTo(const OptionRule& rule, std::string_view command) {
    if (rule.commands.empty()) return true;
    std::string_view rest = rule.commands;
    while (!rest.empty()) {
        const auto space = rest.find(' ');
        if (rest.substr(0, space) == command) return true;
        rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    }
    return false;
}

long long wholeNumber(std::string_view text, const std::string& what) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        throw UsageError(what + ": '" + std::string(text) + "' is not a whole number");
    }
    return value;
}

// Seconds, with a fraction if wanted ("2.5"), as find's bound.
std::chrono::milliseconds parseSeconds(const std::string& text) {
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(seconds) ||
        seconds <= 0 || seconds > 3600) {
        throw UsageError("--timeout: '" + text + "' is not a number of seconds from 0.001 to 3600 (find counts "
                         "seconds)");
    }
    return std::max(1ms, std::chrono::milliseconds(std::llround(seconds * 1000)));
}

// The options and operands of args in order; "--" ends the options.
std::vector<Given> takeOptions(const std::vector<std::string>& args, Arguments& out) {
    std::vector<Given> given;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            (out.command.empty() ? out.command : out.operands.emplace_back()) = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name;
        std::optional<std::string> value;
        const OptionRule* rule = nullptr;
        if (arg[1] == '-') {
            const auto equals = arg.find('=');
            name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (equals != std::string::npos) value = arg.substr(equals + 1);
            rule = optionNamed(name, 0);
        } else {
            name = arg.substr(0, 2);
            rule = optionNamed({}, arg[1]);
            if (arg.size() > 2) value = arg.substr(2);
        }
        if (rule == nullptr) throw UsageError("unknown option " + (arg[1] == '-' ? "--" + name : name));
        // find's --serial is the switch for the serial ports: a line setting
        // comes only with "=".
        const bool serialSwitch = rule->name == "serial" && out.command == "find";
        if (rule->takes == Takes::Value && !value && !serialSwitch) {
            if (i + 1 >= args.size()) throw UsageError("--" + std::string(rule->name) + " needs a value");
            value = args[++i];
        }
        if (rule->takes == Takes::Nothing && value) {
            throw UsageError("--" + std::string(rule->name) + " takes no value");
        }
        given.push_back({rule, value});
    }
    return given;
}

void applyFindSwitch(const Given& option, Arguments& out, bool& picked) {
    const std::string_view name = option.rule->name;
    if (name == "lan") out.find.lan = picked = true;
    if (name == "mdns") out.find.mdns = picked = true;
    if (name == "probe-serial") out.find.probeSerial = picked = true;
    if (name == "json") out.json = true;
    if (name == "gpib") {
        out.find.gpibBoard = parseBoard(*option.value);
        picked = true;
    }
    if (name == "serial") {
        out.find.serial = picked = true;
        if (option.value) out.find.serialSettings = parseSerialSettings(*option.value);
    }
}

void applyOption(const Given& option, Arguments& out, bool& picked) {
    const std::string_view name = option.rule->name;
    const bool find = out.command == "find";
    if (name == "timeout") {
        if (find) {
            out.find.timeout = parseSeconds(*option.value);
        } else {
            out.open.timeout = parseMilliseconds(*option.value, "--timeout");
        }
    } else if (name == "connect-timeout") {
        out.open.connectTimeout = parseMilliseconds(*option.value, "--connect-timeout");
    } else if (name == "serial" && !find) {
        out.open.serial = parseSerialSettings(*option.value);
    } else if (name == "trace") {
        out.open.trace = true;
    } else if (name == "no-aliases") {
        out.open.useAliases = false;
    } else if (name == "help") {
        out.help = true;
    } else if (name == "version") {
        out.version = true;
    } else if (name == "raw") {
        out.raw = true;
    } else if (name == "hex") {
        out.hex = true;
    } else {
        applyFindSwitch(option, out, picked);
    }
}

void checkOperands(const Arguments& out) {
    const CommandShape* shape = shapeOf(out.command);
    const std::size_t count = out.operands.size();
    if (count < shape->fewest || count > shape->most) {
        throw UsageError("takes " + std::string(shape->operands) + "; see corvalen " +
                         out.command + " --help");
    }
}

}  // namespace

Arguments parseArguments(const std::vector<std::string>& args) {
    Arguments out;
    const std::vector<Given> given = takeOptions(args, out);
    if (!out.command.empty() && shapeOf(out.command) == nullptr) {
        throw UsageError("unknown command '" + out.command + "'; see corvalen --help");
    }
    bool picked = false;  // a find switch chose the parts of the search
    for (const Given& option : given) {
        if (!out.command.empty() && !appliesTo(*option.rule, out.command)) {
            throw UsageError("--" + std::string(option.rule->name) + " does not apply to " + out.command);
        }
        applyOption(option, out, picked);
    }
    if (out.command == "find" && picked) {
        // The switches given, and only they, pick the parts.
        bool lan = false, mdns = false;
        for (const Given& option : given) {
            lan = lan || option.rule->name == "lan";
            mdns = mdns || option.rule->name == "mdns";
        }
        out.find.lan = lan;
        out.find.mdns = mdns;
    }
    if (out.raw && out.hex) throw UsageError("--raw and --hex exclude each other");
    if (out.command.empty() && !out.help && !out.version) throw UsageError("no command given; see corvalen --help");
    if (!out.command.empty() && !out.help && !out.version) checkOperands(out);
    return out;
}

corvalen::SerialSettings parseSerialSettings(const std::string& text) {
    const std::string form = "; expected BAUD,DPS[,FLOW] such as 9600,8N1 or 115200,7E2,rtscts";
    corvalen::SerialSettings settings;
    const auto comma = text.find(',');
    const long long baud = wholeNumber(std::string_view(text).substr(0, comma), "--serial " + text);
    if (baud < 50 || baud > 4'000'000) throw UsageError("--serial " + text + ": baud rate out of range" + form);
    settings.baudRate = static_cast<int>(baud);
    if (comma == std::string::npos) return settings;
    const std::string rest = text.substr(comma + 1);
    const auto second = rest.find(',');
    const std::string frame = lower(rest.substr(0, second));
    if (frame.size() != 3 || frame[0] < '5' || frame[0] > '8' || std::string_view("neo").find(frame[1]) ==
                                                                        std::string_view::npos ||
        (frame[2] != '1' && frame[2] != '2')) {
        throw UsageError("--serial " + text + ": '" + frame + "' is no frame" + form);
    }
    settings.dataBits = frame[0] - '0';
    settings.parity = frame[1] == 'n' ? corvalen::Parity::None
                      : frame[1] == 'e' ? corvalen::Parity::Even
                                        : corvalen::Parity::Odd;
    settings.stopBits = frame[2] - '0';
    if (second == std::string::npos) return settings;
    const std::string flow = lower(rest.substr(second + 1));
    if (flow == "none") {
        settings.flowControl = corvalen::FlowControl::None;
    } else if (flow == "xonxoff") {
        settings.flowControl = corvalen::FlowControl::XonXoff;
    } else if (flow == "rtscts") {
        settings.flowControl = corvalen::FlowControl::RtsCts;
    } else {
        throw UsageError("--serial " + text + ": flow control '" + flow + "' is none of none, xonxoff, rtscts");
    }
    return settings;
}

std::chrono::milliseconds parseMilliseconds(const std::string& text, const std::string& option) {
    const long long value = wholeNumber(text, option);
    if (value < 1 || value > kLongestTime.count()) {
        throw UsageError(option + ": " + text + " ms is outside 1 to 3600000 ms");
    }
    return std::chrono::milliseconds(value);
}

int parseBoard(const std::string& text) {
    std::string name = lower(text);
    constexpr std::string_view kSuffix = "::intfc";
    if (name.size() > kSuffix.size() && name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0) {
        name.resize(name.size() - kSuffix.size());
    }
    if (name.rfind("gpib", 0) == 0) name.erase(0, 4);
    long long board = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), board);
    if (name.empty() || error != std::errc{} || end != name.data() + name.size() || board < 0 || board > 99) {
        throw UsageError("'" + text + "' names no GPIB board; expected GPIB<n> (GPIB0) or its number");
    }
    return static_cast<int>(board);
}

}  // namespace cli
