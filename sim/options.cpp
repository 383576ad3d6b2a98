// SPDX-License-Identifier: MIT
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tq820sim {

namespace {

long wholeNumber(const std::string& option, const std::string& text, long least, long most) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < least || value > most) {
        throw OptionsError(option + " wants a whole number from " + std::to_string(least) + " to " +
                           std::to_string(most) + ", not \"" + text + "\"");
    }
    return value;
}

double positiveNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0.0 || value > 1e6) {
        throw OptionsError(option + " wants a number above 0 and up to 1e6, not \"" + text + "\"");
    }
    return value;
}

void parseAddress(const std::string& option, const std::string& text, std::string& host,
                  int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        if (host.empty()) throw OptionsError(option + " wants [HOST:]PORT, not \"" + text + "\"");
    }
    const std::string number = colon == std::string::npos ? text : text.substr(colon + 1);
    port = static_cast<int>(wholeNumber(option, number, 0, 65535));
}

}  // namespace

ScpiError parseErrorOption(const std::string& text) {
    const std::size_t comma = text.find(',');
    const std::string number = text.substr(0, comma);
    const long value = wholeNumber("--error", number, -32768, 32767);
    if (value == 0)
        throw OptionsError("--error wants a non-zero error number, not \"" + text + "\"");
    std::string message =
        comma == std::string::npos ? errorText(static_cast<int>(value)) : text.substr(comma + 1);
    if (message.size() >= 2 && message.front() == '"' && message.back() == '"') {
        message = message.substr(1, message.size() - 2);
    }
    return {static_cast<int>(value), message};
}

SimulatorOptions parseOptions(const std::vector<std::string>& arguments) {
    SimulatorOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string option = arguments[i];
        std::string inlineValue;
        bool hasInline = false;
        if (const std::size_t equals = option.find('=');
            option.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = option.substr(equals + 1);
            option = option.substr(0, equals);
            hasInline = true;
        }
        auto value = [&]() -> std::string {
            if (hasInline) return inlineValue;
            if (i + 1 >= arguments.size()) throw OptionsError(option + " wants a value");
            return arguments[++i];
        };
        constexpr long kMany = 1000000000L;
        if (option == "--help" || option == "-h")
            options.help = true;
        else if (option == "--version")
            options.version = true;
        else if (option == "--tcp") {
            options.tcp = true;
            parseAddress(option, value(), options.host, options.port);
        } else if (option == "--pty")
            options.pty = true;
        else if (option == "--vxi11") {
            options.vxi11 = true;
            parseAddress(option, value(), options.vxi11Host, options.vxi11Port);
        } else if (option == "--portmapper")
            options.portmapper = true;
        else if (option == "--idle-timeout")
            options.idleTimeoutS = static_cast<int>(wholeNumber(option, value(), 0, 86400));
        else if (option == "--announce")
            options.announce = true;
        else if (option == "--gateway")
            options.gateway = true;
        else if (option == "--gpib-address")
            options.gpibAddress = static_cast<int>(wholeNumber(option, value(), 0, 30));
        else if (option == "--gpib-secondary")
            options.gpibSecondary = 96 + static_cast<int>(wholeNumber(option, value(), 0, 30));
        else if (option == "--prologix-tcp") {
            options.prologixTcp = true;
            parseAddress(option, value(), options.prologixHost, options.prologixPort);
        } else if (option == "--prologix-pty")
            options.prologixPty = true;
        else if (option == "--prologix-drop-read")
            options.prologixFaults.dropRead = wholeNumber(option, value(), 1, kMany);
        else if (option == "--prologix-late-read")
            options.prologixFaults.lateRead = wholeNumber(option, value(), 1, kMany);
        else if (option == "--prologix-cut-read")
            options.prologixFaults.cutRead = wholeNumber(option, value(), 1, kMany);
        else if (option == "--max-recv-size")
            options.maxRecvSize = wholeNumber(option, value(), 1, 1 << 20);
        else if (option == "--rpc-fragment")
            options.rpcFragment = wholeNumber(option, value(), 1, 1 << 20);
        else if (option == "--read-block")
            options.readBlock = wholeNumber(option, value(), 1, 1 << 20);
        else if (option == "--vxi11-empty-read")
            options.vxi11EmptyRead = wholeNumber(option, value(), 1, kMany);
        else if (option == "--vxi11-lying-record")
            options.vxi11LyingRecord = wholeNumber(option, value(), 1, kMany);
        else if (option == "--vxi11-drop-link")
            options.vxi11DropLink = wholeNumber(option, value(), 1, kMany);
        else if (option == "--speed")
            options.speed = positiveNumber(option, value());
        else if (option == "--seed")
            options.instrument.seed =
                static_cast<std::uint64_t>(wholeNumber(option, value(), 0, kMany * 2));
        else if (option == "--transcript")
            options.transcript = value();
        else if (option == "--idn")
            options.instrument.identity = value();
        else if (option == "--module")
            options.instrument.module = value();
        else if (option == "--no-dmm")
            options.instrument.dmmInstalled = false;
        else if (option == "--dmm-off")
            options.instrument.dmmOn = false;
        else if (option == "--error")
            options.instrument.startErrors.push_back(parseErrorOption(value()));
        else if (option == "--reply-delay")
            options.replyDelayMs = static_cast<int>(wholeNumber(option, value(), 0, 3600000));
        else if (option == "--close-after")
            options.faults.closeAfter = wholeNumber(option, value(), 1, kMany);
        else if (option == "--garbage-reply")
            options.faults.garbageReply = wholeNumber(option, value(), 1, kMany);
        else if (option == "--no-line-end")
            options.faults.noLineEnd = wholeNumber(option, value(), 1, kMany);
        else if (option == "--stall-at")
            options.instrument.stallAt = wholeNumber(option, value(), 1, kMany);
        else if (option == "--missing-field")
            options.instrument.missingField = wholeNumber(option, value(), 1, kMany);
        else
            throw OptionsError("unknown option \"" + option + "\" (see --help)");
        if (hasInline &&
            (option == "--pty" || option == "--help" || option == "--version" ||
             option == "--no-dmm" || option == "--dmm-off" || option == "--portmapper" ||
             option == "--announce" || option == "--gateway" || option == "--prologix-pty")) {
            throw OptionsError(option + " takes no value");
        }
    }
    if ((options.portmapper || options.gateway) && !options.vxi11)
        throw OptionsError("--portmapper and --gateway go with --vxi11");
    if (!options.tcp && !options.pty && !options.vxi11 && !options.prologixTcp &&
        !options.prologixPty)
        options.tcp = true;
    return options;
}

std::vector<std::string> describeFaults(const SimulatorOptions& options) {
    std::vector<std::string> lines;
    const InstrumentOptions defaults;
    const InstrumentOptions& instrument = options.instrument;
    if (instrument.identity != defaults.identity)
        lines.push_back("identity \"" + instrument.identity + "\"");
    if (instrument.module != defaults.module)
        lines.push_back("module in slot 100 \"" + instrument.module + "\"");
    if (!instrument.dmmInstalled) lines.push_back("no DMM installed");
    if (!instrument.dmmOn) lines.push_back("DMM off at start");
    for (const ScpiError& error : instrument.startErrors) {
        lines.push_back("error queued at start " + std::to_string(error.number) + ",\"" +
                        error.text + "\"");
    }
    if (options.replyDelayMs > 0)
        lines.push_back("every reply delayed by " + std::to_string(options.replyDelayMs) + " ms");
    if (options.faults.closeAfter > 0)
        lines.push_back("close after " + std::to_string(options.faults.closeAfter) + " commands");
    if (options.faults.garbageReply > 0)
        lines.push_back("garbage reply to query " + std::to_string(options.faults.garbageReply));
    if (options.faults.noLineEnd > 0)
        lines.push_back("no line end on query " + std::to_string(options.faults.noLineEnd));
    const PrologixFaults& prologix = options.prologixFaults;
    if (prologix.dropRead > 0)
        lines.push_back("Prologix drops read " + std::to_string(prologix.dropRead));
    if (prologix.lateRead > 0)
        lines.push_back("Prologix: the answer to read " + std::to_string(prologix.lateRead) +
                        " is ready only past its read time-out");
    if (prologix.cutRead > 0)
        lines.push_back("Prologix loses the connection halfway through read " +
                        std::to_string(prologix.cutRead));
    if (options.rpcFragment > 0)
        lines.push_back("RPC replies in fragments of " + std::to_string(options.rpcFragment) +
                        " bytes");
    if (options.readBlock > 0)
        lines.push_back("device_read answers at most " + std::to_string(options.readBlock) +
                        " bytes");
    if (options.vxi11EmptyRead > 0)
        lines.push_back("device_read " + std::to_string(options.vxi11EmptyRead) +
                        " answers REQCNT with no data");
    if (options.vxi11LyingRecord > 0)
        lines.push_back("RPC reply " + std::to_string(options.vxi11LyingRecord) +
                        " with a record mark 4 bytes short");
    if (options.vxi11DropLink > 0)
        lines.push_back("link dies after device_write " + std::to_string(options.vxi11DropLink));
    if (instrument.stallAt > 0)
        lines.push_back("scan stalls at " + std::to_string(instrument.stallAt) + " readings");
    if (instrument.missingField > 0)
        lines.push_back("reading reply " + std::to_string(instrument.missingField) +
                        " lacks its channel");
    return lines;
}

std::string usage() {
    return R"(Usage: tq820-sim [OPTION]...
A simulated TQ820A data-acquisition instrument with a TQ711A module in slot
100, answering SCPI over TCP and/or a serial pseudo-terminal.

Transports (at least one; TCP on 127.0.0.1:5025 when none is given):
  --tcp [HOST:]PORT     listen on HOST (default 127.0.0.1) and PORT; 0 picks a free port
  --pty                 open a pseudo-terminal and serve its slave device
  --vxi11 [HOST:]PORT   serve the VXI-11 core channel (device "inst0") on HOST and PORT
  --portmapper          answer portmapper GETPORT on TCP and UDP port 111 of the VXI-11
                        host (needs root or a private network namespace)
  --idle-timeout S      close a VXI-11 or portmapper connection that makes no call for
                        S seconds (default 300; 0: never). When 16 are open, a new one
                        closes the longest idle
  --announce            announce the portmapper (_vxi-11._tcp) and the TCP port
                        (_scpi-raw._tcp) by mDNS through the Avahi daemon, if one runs
  --gateway             act as a LAN/GPIB gateway: the device is "gpib0,ADDRESS" and
                        any other address is "device not accessible"
  --gpib-address N      the instrument's GPIB primary address (default 9)
  --gpib-secondary N    the instrument also has secondary address N (0 to 30)
  --prologix-tcp [HOST:]PORT
                        a Prologix GPIB-ETHERNET controller with the instrument on its
                        bus, on HOST (default 127.0.0.1) and PORT; 0 picks a free port
  --prologix-pty        a Prologix GPIB-USB controller on a pseudo-terminal
At start-up one line each is printed: "TCP HOST:PORT", "PTY /dev/pts/N",
"VXI11 HOST:PORT", "PORTMAPPER HOST:111", "PRLGX-TCP HOST:PORT",
"PRLGX-PTY /dev/pts/N".

Behaviour:
  --speed X             run the instrument's clock X times faster (default 1)
  --seed N              seed of the simulated readings (default 1)
  --transcript FILE     log every command, reply and connection with time stamps

Faults:
  --idn TEXT            answer "*IDN?" with TEXT
  --module TEXT         identity of the module in slot 100; "" leaves the slot empty
  --no-dmm              no internal DMM installed
  --dmm-off             internal DMM switched off at start
  --error "NUM,TEXT"    queue this error at start (repeatable)
  --reply-delay MS      send every reply MS real milliseconds late
  --close-after N       close the connection after the Nth command line
  --garbage-reply N     answer the Nth query with garbage bytes
  --no-line-end N       send the reply to the Nth query without line end
  --max-recv-size N     VXI-11: announce N as the link's maximum write (default 1024)
  --rpc-fragment N      VXI-11: send each RPC reply in record fragments of N bytes
  --read-block N        VXI-11: answer device_read with at most N bytes at a time
  --vxi11-empty-read N     VXI-11: the Nth device_read answers REQCNT with no data
  --vxi11-lying-record N   VXI-11: the Nth RPC reply's record mark claims 4 bytes
                           fewer than the record carries
  --vxi11-drop-link N      VXI-11: the link dies after the Nth device_write is answered
  --prologix-drop-read N   Prologix: the Nth read (++read or ++auto) reads nothing
  --prologix-late-read N   Prologix: the answer to the Nth read is ready only 2 s
                           past its read time-out; that read times out empty
  --prologix-cut-read N    Prologix: the connection dies halfway through the Nth read
  --stall-at N          a scan stores no more than N readings
  --missing-field N     the Nth reading removed lacks its channel field
Queries are counted from 1 over the simulator's lifetime.

Information:
  --help                print this text and exit
  --version             print the simulator's version and exit
)";
}

std::string versionText() {
    return "tq820-sim " TQ820_VERSION "\n";
}

}  // namespace tq820sim
