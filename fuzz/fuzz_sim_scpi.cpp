// SPDX-License-Identifier: MIT
// The simulator's SCPI parser: a line cut into message units, each unit into
// header and parameters, and the parameters read as numbers, booleans and
// channel lists.
//
// Invariants: parsing fails only with the SCPI error it reports (a
// ScpiFailure with a standard error number), never with another exception.
// Units put back together with ";" give the line; a header holds only
// keyword characters and is matched the same in any case; a decimal
// parameter reads as strtod reads it; a channel list the instrument can
// hold reads back from its compact form unchanged; no list holds more
// channels than eight slots of a thousand.
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/scpi.h"

namespace {

using tq820sim::ScpiFailure;

const std::set<int> kReportedErrors = {-101, -102, -104, -108, -109, -113, -121, -123,
                                       -131, -141, -213, -221, -222, -224};

constexpr std::size_t kMaxListChannels = 8000;  // eight slots of a thousand channels
constexpr std::size_t kHeldChannels = 1000;      // the most a scan list takes

template <typename Parse>
bool parses(Parse&& parse) {
    try {
        parse();
        return true;
    } catch (const ScpiFailure& failure) {
        TQ_FUZZ_CHECK(kReportedErrors.count(failure.number) == 1);
        TQ_FUZZ_CHECK(tq820sim::errorText(failure.number) != "Device-specific error");
        return false;
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isKeywordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string toLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// A sample of the instrument's own command patterns.
const std::vector<tq820sim::Pattern>& patterns() {
    static const std::vector<tq820sim::Pattern> all = {
        tq820sim::Pattern("*IDN?"),
        tq820sim::Pattern("SYSTem:ERRor[:NEXT]?"),
        tq820sim::Pattern("INSTrument:DMM[:STATe]?"),
        tq820sim::Pattern("[SENSe]:TEMPerature:TRANsducer:TCouple[:TYPE]"),
        tq820sim::Pattern("[SENSe]:VOLTage[:DC]:RANGe[:UPPer]?"),
        tq820sim::Pattern("DATA:REMove?"),
    };
    return all;
}

void checkHeader(const tq820sim::MessageUnit& unit, std::string_view text) {
    TQ_FUZZ_CHECK(!unit.nodes.empty());
    for (const std::string& node : unit.nodes) {
        TQ_FUZZ_CHECK(!node.empty());
        for (const char c : node) TQ_FUZZ_CHECK(isKeywordChar(c));
    }
    TQ_FUZZ_CHECK(!unit.common || unit.nodes.size() == 1);
    if (!unit.parameters.empty()) {
        TQ_FUZZ_CHECK(!isBlank(unit.parameters.front()) && !isBlank(unit.parameters.back()));
        TQ_FUZZ_CHECK(text.find(unit.parameters) != std::string_view::npos);
    }
    std::vector<std::string> upper;
    std::vector<std::string> lower;
    for (const std::string& node : unit.nodes) {
        upper.push_back(tq820sim::toUpper(node));
        lower.push_back(toLower(node));
    }
    for (const tq820sim::Pattern& pattern : patterns()) {
        const bool matched = pattern.matches(unit.nodes, unit.query);
        TQ_FUZZ_CHECK(pattern.matches(upper, unit.query) == matched);
        TQ_FUZZ_CHECK(pattern.matches(lower, unit.query) == matched);
        if (matched) TQ_FUZZ_CHECK(!pattern.matches(unit.nodes, !unit.query));
    }
}

void checkDecimal(const std::string& piece) {
    std::optional<double> value;
    if (!parses([&] { value = tq820sim::parseDecimal(piece); }) || !value) return;
    TQ_FUZZ_CHECK(std::isfinite(*value));
    TQ_FUZZ_CHECK(*value == std::strtod(piece.c_str(), nullptr));
}

void checkChannelList(const std::string& piece) {
    std::vector<int> channels;
    if (!parses([&] { channels = tq820sim::parseChannelList(piece); })) return;
    TQ_FUZZ_CHECK(tq820sim::isChannelList(piece));
    TQ_FUZZ_CHECK(channels.size() <= kMaxListChannels);
    for (const int channel : channels) TQ_FUZZ_CHECK(channel >= 0 && channel <= 999999);
    if (channels.size() > kHeldChannels) return;
    const std::string compact = tq820sim::formatChannelList(channels);
    std::vector<int> again;
    TQ_FUZZ_CHECK(parses([&] { again = tq820sim::parseChannelList(compact); }));
    TQ_FUZZ_CHECK(again == channels);
}

void checkParameter(const std::string& piece) {
    TQ_FUZZ_CHECK(piece.empty() || (!isBlank(piece.front()) && !isBlank(piece.back())));
    (void)parses([&] {
        const auto numeric = tq820sim::parseNumeric(piece);
        if (numeric.kind == tq820sim::Numeric::Kind::Value) TQ_FUZZ_CHECK(std::isfinite(numeric.value));
    });
    (void)parses([&] { (void)tq820sim::parseBoolean(piece); });
    checkDecimal(piece);
    checkChannelList(piece);
}

void checkUnit(std::string_view text) {
    tq820sim::MessageUnit unit;
    if (!parses([&] { unit = tq820sim::parseUnit(text); })) return;
    checkHeader(unit, text);
    const auto pieces = tq820sim::splitParameters(unit.parameters);
    TQ_FUZZ_CHECK(pieces.empty() == unit.parameters.empty());
    for (const std::string& piece : pieces) checkParameter(piece);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto units = tq820sim::splitUnits(line);
    TQ_FUZZ_CHECK(!units.empty());
    std::string joined;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (i != 0) joined += ';';
        joined += units[i];
    }
    TQ_FUZZ_CHECK(joined == line);
    for (const std::string& unit : units) checkUnit(unit);
    // The whole line once more as one parameter list, whatever its header.
    for (const std::string& piece : tq820sim::splitParameters(line)) {
        if (piece.size() <= 256) checkParameter(piece);
    }
    return 0;
}
