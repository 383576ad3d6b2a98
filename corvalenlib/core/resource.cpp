// SPDX-License-Identifier: MIT
#include "corvalenlib/core/resource.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "corvalenlib/core/errors.h"

namespace CorvalenLib {
namespace {

constexpr std::string_view kGpibForm = "GPIB[board]::primary[::secondary][::INSTR]";
constexpr std::string_view kSerialForm = "ASRL[n][::INSTR] or ASRL/dev/<device>[::INSTR]";
constexpr std::string_view kTcpipForm =
    "TCPIP[board]::host::port::SOCKET or TCPIP[board]::host[::device]::INSTR";
constexpr std::string_view kUsbForm = "USB[board]::vendor::product::serial[::interface]::INSTR";
constexpr std::string_view kInterfaceForm =
    "GPIB[board]::INTFC, PRLGX-TCPIP::host[::port]::INTFC, PRLGX-ASRL[n]::INTFC, "
    "PRLGX-ASRL/dev/<device>::INTFC or TCPIP[board]::host::gpib<n>::INTFC";
constexpr int kMaxBoard = 99;
constexpr int kMaxGpibAddress = 30;
constexpr int kMaxLanDevice = 65535;

class ResourceParser {
public:
    explicit ResourceParser(std::string_view text) : text_(text) {}

    Resource parse();
    Interface parseInterface();

private:
    [[noreturn]] void fail(std::string_view problem, std::string_view form) const;
    void split(std::string_view body);
    // Splits the whole text into fields and returns the first (the interface
    // and board), leaving the rest in fields_.
    std::string_view splitHead();
    int board(std::string_view digits, std::string_view form) const;
    int number(std::string_view field, int low, int high, std::string_view what,
               std::string_view form) const;
    bool lastFieldIs(std::string_view keyword) const;
    void requireHost(std::string_view host, std::string_view form) const;
    std::string vxiDevice(std::string_view name) const;

    Resource parseGpib(std::string_view boardDigits);
    Resource parseSerial(std::string_view afterKeyword);
    Resource parseTcpip(std::string_view boardDigits);
    Resource parseUsb(std::string_view boardDigits);

    std::string_view text_;
    std::vector<std::string_view> fields_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
               return upper(x) == upper(y);
           });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool isDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void ResourceParser::fail(std::string_view problem, std::string_view form) const {
    std::string message = "malformed resource \"" + std::string(text_) + "\": " + std::string(problem);
    if (!form.empty()) message += "; expected " + std::string(form);
    throw IoError(message);
}

// Splits at "::", keeping a bracketed IPv6 address such as [::1] whole.
void ResourceParser::split(std::string_view body) {
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < body.size()) {
        if (body[pos] == '[') {
            const auto close = body.find(']', pos);
            pos = close == std::string_view::npos ? body.size() : close + 1;
            continue;
        }
        if (body.compare(pos, 2, "::") == 0) {
            fields_.push_back(body.substr(start, pos - start));
            pos += 2;
            start = pos;
            continue;
        }
        ++pos;
    }
    fields_.push_back(body.substr(start));
}

int ResourceParser::number(std::string_view field, int low, int high, std::string_view what,
                           std::string_view form) const {
    int value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (!isDigits(field) || ec != std::errc() || end != field.data() + field.size() || value < low ||
        value > high) {
        fail(std::string(what) + " \"" + std::string(field) + "\" is not a number from " +
                 std::to_string(low) + " to " + std::to_string(high),
             form);
    }
    return value;
}

int ResourceParser::board(std::string_view digits, std::string_view form) const {
    return digits.empty() ? 0 : number(digits, 0, kMaxBoard, "board", form);
}

bool ResourceParser::lastFieldIs(std::string_view keyword) const {
    return !fields_.empty() && equalsIgnoringCase(fields_.back(), keyword);
}

void ResourceParser::requireHost(std::string_view host, std::string_view form) const {
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const auto name = bracketed ? host.substr(1, host.size() - 2) : host;
    const bool valid = !name.empty() && std::all_of(name.begin(), name.end(), [&](char c) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '-' || c == '_';
        return plain || (bracketed && (c == ':' || c == '%'));
    });
    if (!valid) fail("host \"" + std::string(host) + "\" is not a host name or address", form);
}

Resource ResourceParser::parseGpib(std::string_view boardDigits) {
    GpibAddress address;
    address.board = board(boardDigits, kGpibForm);
    if (lastFieldIs("INSTR")) fields_.pop_back();
    if (fields_.empty() || fields_.size() > 2) fail("wrong number of fields", kGpibForm);
    address.primary = number(fields_[0], 0, kMaxGpibAddress, "primary address", kGpibForm);
    if (fields_.size() == 2) {
        address.secondary = number(fields_[1], 0, kMaxGpibAddress, "secondary address", kGpibForm);
    }
    return address;
}

Resource ResourceParser::parseSerial(std::string_view afterKeyword) {
    SerialAddress address;
    if (afterKeyword.starts_with('/')) {
        // Brackets or a final ":" would change how the canonical name
        // "ASRL<path>::INSTR" splits; a control character would cut the path
        // at open().
        const bool plainPath = std::all_of(afterKeyword.begin(), afterKeyword.end(),
                                           [](char c) { return c > ' ' && c < 0x7f && c != '[' && c != ']'; });
        if (afterKeyword.size() < 2 || !plainPath || afterKeyword.ends_with(':')) {
            fail("\"" + std::string(afterKeyword) + "\" is not a device path", kSerialForm);
        }
        address.device = afterKeyword;
    } else {
        const int n = afterKeyword.empty() ? 1 : number(afterKeyword, 1, 256, "port number", kSerialForm);
        address.number = n;
        address.device = "/dev/ttyS" + std::to_string(n - 1);
    }
    if (lastFieldIs("INSTR")) fields_.pop_back();
    if (!fields_.empty()) fail("unexpected field \"" + std::string(fields_.front()) + "\"", kSerialForm);
    return address;
}

// The LAN device name in its one spelling: "inst0", or "gpib0,9" and
// "gpib0,9,3" for a GPIB instrument behind a LAN/GPIB gateway.
std::string ResourceParser::vxiDevice(std::string_view name) const {
    constexpr std::string_view kDeviceForm =
        "TCPIP[board]::host[::device]::INSTR with device inst<n>, gpib<n>,<primary> or gpib<n>,<primary>,<secondary>";
    if (startsWithIgnoringCase(name, "hislip")) {
        fail("\"" + std::string(name) + "\" is a HiSLIP device, which this library does not speak; it speaks VXI-11",
             kDeviceForm);
    }
    if (startsWithIgnoringCase(name, "inst")) {
        return "inst" + std::to_string(number(name.substr(4), 0, kMaxLanDevice, "LAN device number", kDeviceForm));
    }
    if (!startsWithIgnoringCase(name, "gpib")) {
        fail("device name \"" + std::string(name) + "\" is not inst<n> or gpib<n>,<address>", kDeviceForm);
    }
    std::vector<std::string_view> parts;
    for (auto rest = name.substr(4);;) {
        const auto comma = rest.find(',');
        parts.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    if (parts.size() < 2 || parts.size() > 3) {
        fail("device name \"" + std::string(name) + "\" is not gpib<n>,<primary>[,<secondary>]", kDeviceForm);
    }
    const int bus = parts[0].empty() ? 0 : number(parts[0], 0, kMaxBoard, "gateway bus", kDeviceForm);
    std::string device = "gpib" + std::to_string(bus) + ",";
    device += std::to_string(number(parts[1], 0, kMaxGpibAddress, "primary address", kDeviceForm));
    if (parts.size() == 3) {
        device += "," + std::to_string(number(parts[2], 0, kMaxGpibAddress, "secondary address", kDeviceForm));
    }
    return device;
}

Resource ResourceParser::parseTcpip(std::string_view boardDigits) {
    const int boardNumber = board(boardDigits, kTcpipForm);
    if (lastFieldIs("SOCKET") && fields_.size() == 3) {
        requireHost(fields_[0], kTcpipForm);
        SocketAddress address{boardNumber, std::string(fields_[0]),
                              static_cast<std::uint16_t>(number(fields_[1], 1, 65535, "port", kTcpipForm))};
        return address;
    }
    if (lastFieldIs("INSTR") && (fields_.size() == 2 || fields_.size() == 3)) {
        requireHost(fields_[0], kTcpipForm);
        VxiAddress address;
        address.board = boardNumber;
        address.host = fields_[0];
        if (fields_.size() == 3) {
            address.device = vxiDevice(fields_[1]);
        }
        return address;
    }
    fail("not a socket or instrument resource", kTcpipForm);
}

Resource ResourceParser::parseUsb(std::string_view boardDigits) {
    UsbAddress address;
    address.board = board(boardDigits, kUsbForm);
    if (!lastFieldIs("INSTR") || fields_.size() < 4 || fields_.size() > 5) {
        fail("wrong number of fields", kUsbForm);
    }
    auto id = [&](std::string_view field, std::string_view what) {
        const bool hex = startsWithIgnoringCase(field, "0x");
        const auto digits = hex ? field.substr(2) : field;
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value > 0xFFFF ||
            digits.front() == '+' || digits.front() == '-') {
            fail(std::string(what) + " \"" + std::string(field) + "\" is not a 16-bit number", kUsbForm);
        }
        return static_cast<std::uint16_t>(value);
    };
    address.vendor = id(fields_[0], "vendor id");
    address.product = id(fields_[1], "product id");
    if (fields_[2].empty()) fail("empty serial number", kUsbForm);
    address.serial = fields_[2];
    if (fields_.size() == 5) address.interfaceNumber = number(fields_[3], 0, 255, "interface", kUsbForm);
    return address;
}

std::string_view ResourceParser::splitHead() {
    const auto text = trimBlanks(text_);
    if (text.empty()) fail("the resource is empty", "");
    split(text);
    const auto head = fields_.front();
    fields_.erase(fields_.begin());
    if (std::any_of(fields_.begin(), fields_.end(), [](std::string_view f) { return f.empty(); })) {
        fail("empty field", "");
    }
    return head;
}

Resource ResourceParser::parse() {
    const auto head = splitHead();
    if (lastFieldIs("INTFC")) {
        fail("an interface resource names a board or a controller, not an instrument",
             "an instrument resource such as GPIB0::9::INSTR");
    }
    if (startsWithIgnoringCase(head, "GPIB")) return parseGpib(head.substr(4));
    if (startsWithIgnoringCase(head, "ASRL")) return parseSerial(head.substr(4));
    if (startsWithIgnoringCase(head, "TCPIP")) return parseTcpip(head.substr(5));
    if (startsWithIgnoringCase(head, "USB")) return parseUsb(head.substr(3));
    fail("unknown interface \"" + std::string(head) + "\"",
         "a resource beginning with GPIB, ASRL, TCPIP or USB");
}

Interface ResourceParser::parseInterface() {
    const auto head = splitHead();
    if (!lastFieldIs("INTFC")) fail("not an interface resource", kInterfaceForm);
    fields_.pop_back();
    if (startsWithIgnoringCase(head, "PRLGX-ASRL")) {
        if (!fields_.empty()) fail("unexpected field \"" + std::string(fields_.front()) + "\"", kInterfaceForm);
        return PrologixController{std::get<SerialAddress>(parseSerial(head.substr(10)))};
    }
    if (equalsIgnoringCase(head, "PRLGX-TCPIP")) {
        if (fields_.empty() || fields_.size() > 2) fail("wrong number of fields", kInterfaceForm);
        requireHost(fields_[0], kInterfaceForm);
        const int port = fields_.size() == 2 ? number(fields_[1], 1, 65535, "port", kInterfaceForm) : kPrologixPort;
        return PrologixController{SocketAddress{0, std::string(fields_[0]), static_cast<std::uint16_t>(port)}};
    }
    if (startsWithIgnoringCase(head, "GPIB")) {
        if (!fields_.empty()) fail("unexpected field \"" + std::string(fields_.front()) + "\"", kInterfaceForm);
        return GpibBoard{board(head.substr(4), kInterfaceForm)};
    }
    if (startsWithIgnoringCase(head, "TCPIP")) {
        const int boardNumber = board(head.substr(5), kInterfaceForm);
        if (fields_.size() != 2) fail("wrong number of fields", kInterfaceForm);
        requireHost(fields_[0], kInterfaceForm);
        // The instrument's address is appended after a comma: "gpib0,9".
        const auto bus = fields_[1];
        if (!startsWithIgnoringCase(bus, "gpib") || (bus.size() > 4 && !isDigits(bus.substr(4)))) {
            fail("gateway bus \"" + std::string(bus) + "\" is not gpib<n>", kInterfaceForm);
        }
        const int busNumber = bus.size() > 4 ? number(bus.substr(4), 0, kMaxBoard, "gateway bus", kInterfaceForm) : 0;
        return VxiGateway{boardNumber, std::string(fields_[0]), "gpib" + std::to_string(busNumber)};
    }
    fail("unknown interface \"" + std::string(head) + "\"", kInterfaceForm);
}

std::string hex4(std::uint16_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
    return text;
}

}  // namespace

Resource parseResource(std::string_view text) { return ResourceParser(text).parse(); }

std::string canonicalName(const Resource& resource) {
    struct Namer {
        std::string operator()(const GpibAddress& a) const {
            std::string name = "GPIB" + std::to_string(a.board) + "::" + std::to_string(a.primary);
            if (a.secondary) name += "::" + std::to_string(*a.secondary);
            return name + "::INSTR";
        }
        std::string operator()(const SerialAddress& a) const {
            return a.number ? "ASRL" + std::to_string(*a.number) + "::INSTR" : "ASRL" + a.device + "::INSTR";
        }
        std::string operator()(const SocketAddress& a) const {
            return "TCPIP" + std::to_string(a.board) + "::" + a.host + "::" + std::to_string(a.port) + "::SOCKET";
        }
        std::string operator()(const VxiAddress& a) const {
            return "TCPIP" + std::to_string(a.board) + "::" + a.host + "::" + a.device + "::INSTR";
        }
        std::string operator()(const UsbAddress& a) const {
            std::string name = "USB" + std::to_string(a.board) + "::" + hex4(a.vendor) + "::" + hex4(a.product) +
                               "::" + a.serial;
            if (a.interfaceNumber) name += "::" + std::to_string(*a.interfaceNumber);
            return name + "::INSTR";
        }
    };
    return std::visit(Namer{}, resource);
}

Interface parseInterface(std::string_view text) { return ResourceParser(text).parseInterface(); }

std::string canonicalName(const Interface& interface) {
    struct Namer {
        std::string operator()(const GpibBoard& a) const { return "GPIB" + std::to_string(a.board) + "::INTFC"; }
        std::string operator()(const PrologixController& a) const {
            if (const auto* socket = std::get_if<SocketAddress>(&a.line)) {
                return "PRLGX-TCPIP::" + socket->host + "::" + std::to_string(socket->port) + "::INTFC";
            }
            const auto& line = std::get<SerialAddress>(a.line);
            return line.number ? "PRLGX-ASRL" + std::to_string(*line.number) + "::INTFC"
                               : "PRLGX-ASRL" + line.device + "::INTFC";
        }
        std::string operator()(const VxiGateway& a) const {
            return "TCPIP" + std::to_string(a.board) + "::" + a.host + "::" + a.device + "::INTFC";
        }
    };
    return std::visit(Namer{}, interface);
}

std::string bracketedHost(std::string_view host) {
    if (host.find(':') == std::string_view::npos || host.starts_with('[')) return std::string(host);
    return "[" + std::string(host) + "]";
}

std::string unbracketedHost(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') return std::string(host.substr(1, host.size() - 2));
    return std::string(host);
}

std::string interfaceTypeOf(const Resource& resource) {
    struct Typer {
        std::string operator()(const GpibAddress&) const { return "GPIB"; }
        std::string operator()(const SerialAddress&) const { return "ASRL"; }
        std::string operator()(const SocketAddress&) const { return "TCPIP"; }
        std::string operator()(const VxiAddress&) const { return "TCPIP"; }
        std::string operator()(const UsbAddress&) const { return "USB"; }
    };
    return std::visit(Typer{}, resource);
}

std::string serialResourceFor(const std::string& port) {
    const std::string path = port.starts_with('/') ? port : "/dev/" + port;
    constexpr std::string_view kBuiltIn = "/dev/ttyS";
    const auto digits = std::string_view(path).substr(std::min(path.size(), kBuiltIn.size()));
    const bool builtIn = path.starts_with(kBuiltIn) && !digits.empty() && digits.size() <= 3 &&
                         digits.find_first_not_of("0123456789") == std::string_view::npos;
    if (builtIn) return "ASRL" + std::to_string(std::stoi(std::string(digits)) + 1) + "::INSTR";
    return "ASRL" + path + "::INSTR";
}

}  // namespace CorvalenLib
