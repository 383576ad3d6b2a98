// SPDX-License-Identifier: MIT
#include "instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace tq820sim {

namespace {

constexpr double kOverload = 9.9e37;
constexpr std::int64_t kInfinitePasses = std::int64_t{1} << 40;
constexpr std::int64_t kMaxTriggerCount = 50000;
constexpr double kMaxTimer = 359999.0;
constexpr double kMaxDelay = 60.0;
constexpr std::size_t kMaxScanChannels = 1000;

// Event status register bits (IEEE 488.2).
constexpr int kOperationComplete = 1;
constexpr int kQueryError = 4;
constexpr int kDeviceError = 8;
constexpr int kExecutionError = 16;
constexpr int kCommandError = 32;
constexpr int kPowerOn = 128;

std::string nr3(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.8E", value);
    return text;
}

std::string nr1(std::int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+lld", static_cast<long long>(value));
    return text;
}

std::string flag(bool on) {
    return on ? "1" : "0";
}

// Splitmix64: a well-mixed hash, so each reading's noise depends only on the
// seed, the channel and the reading's number, never on when it is asked for.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27U)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31U);
}

double uniform(std::uint64_t seed, std::uint64_t a, std::uint64_t b) {
    const std::uint64_t h = mix(mix(mix(seed) ^ a) ^ b);
    return static_cast<double>(h >> 11U) / 9007199254740992.0;
}

std::tm localCalendar(double epoch) {
    const auto whole = static_cast<std::time_t>(std::floor(epoch));
    std::tm calendar{};
    localtime_r(&whole, &calendar);
    return calendar;
}

double secondsWithFraction(const std::tm& calendar, double epoch) {
    // Milliseconds are truncated so that "59.9996" never prints as "60.000".
    const double fraction = std::floor((epoch - std::floor(epoch)) * 1000.0 + 1e-3) / 1000.0;
    return calendar.tm_sec + fraction;
}

int errorClassBit(int number) {
    if (number <= -100 && number > -200) return kCommandError;
    if (number <= -200 && number > -300) return kExecutionError;
    if (number <= -400 && number > -500) return kQueryError;
    return kDeviceError;
}

double limitTo(const Numeric& value, double minimum, double maximum, double fallback) {
    switch (value.kind) {
        case Numeric::Kind::Min:
            return minimum;
        case Numeric::Kind::Max:
            return maximum;
        case Numeric::Kind::Def:
            return fallback;
        case Numeric::Kind::Value:
            break;
    }
    if (value.value < minimum || value.value > maximum) throw ScpiFailure{errors::kDataOutOfRange};
    return value.value;
}

// The smallest of the allowed settings that is at least the value asked for.
double roundUpTo(const std::vector<double>& allowed, double value) {
    for (double candidate : allowed) {
        if (value <= candidate * (1.0 + 1e-9)) return candidate;
    }
    throw ScpiFailure{errors::kDataOutOfRange};
}

const std::vector<double> kVoltRanges = {0.1, 1.0, 10.0, 100.0, 300.0};
const std::vector<double> kNplcSettings = {0.02, 0.2, 1.0, 2.0, 10.0, 20.0, 100.0, 200.0};

}  // namespace

void ErrorQueue::push(ScpiError error) {
    if (entries_.size() >= kCapacity) {
        entries_.back() = makeError(errors::kQueueOverflow);
        return;
    }
    entries_.push_back(std::move(error));
}

ScpiError ErrorQueue::pop() {
    if (entries_.empty()) return makeError(0);
    ScpiError oldest = std::move(entries_.front());
    entries_.pop_front();
    return oldest;
}

Instrument::Instrument(const Clock& clock, InstrumentOptions options)
    : clock_(clock), options_(std::move(options)), dmmOn_(options_.dmmInstalled && options_.dmmOn) {
    reset();
    eventStatus_ = kPowerOn;
    for (const ScpiError& error : options_.startErrors) pushError(error);
}

const std::vector<Instrument::Command>& Instrument::commands() {
    static const std::vector<Command> table = {
        {Pattern("*IDN?"), &Instrument::idnQ},
        {Pattern("*RST"), &Instrument::rst},
        {Pattern("*CLS"), &Instrument::cls},
        {Pattern("*OPC?"), &Instrument::opcQ},
        {Pattern("*OPC"), &Instrument::opc},
        {Pattern("*WAI"), &Instrument::wai},
        {Pattern("*ESR?"), &Instrument::esrQ},
        {Pattern("*ESE?"), &Instrument::eseQ},
        {Pattern("*ESE"), &Instrument::ese},
        {Pattern("*SRE?"), &Instrument::sreQ},
        {Pattern("*SRE"), &Instrument::sre},
        {Pattern("*STB?"), &Instrument::stbQ},
        {Pattern("*TST?"), &Instrument::tstQ},
        {Pattern("SYSTem:ERRor[:NEXT]?"), &Instrument::errorQ},
        {Pattern("SYSTem:CTYPe?"), &Instrument::ctypeQ},
        {Pattern("SYSTem:REMote"), &Instrument::remote},
        {Pattern("SYSTem:RWLock"), &Instrument::remote},
        {Pattern("SYSTem:LOCal"), &Instrument::local},
        {Pattern("SYSTem:DATE?"), &Instrument::dateQ},
        {Pattern("SYSTem:TIME?"), &Instrument::timeQ},
        {Pattern("SYSTem:VERSion?"), &Instrument::versionQ},
        {Pattern("INSTrument:DMM[:STATe]?"), &Instrument::dmmQ},
        {Pattern("INSTrument:DMM[:STATe]"), &Instrument::dmm},
        {Pattern("INSTrument:DMM:INSTalled?"), &Instrument::dmmInstalledQ},
        {Pattern("ABORt"), &Instrument::abort},
        {Pattern("INITiate[:IMMediate]"), &Instrument::initiate},
        {Pattern("CONFigure:TEMPerature"), &Instrument::configureTemperature},
        {Pattern("CONFigure:VOLTage[:DC]"), &Instrument::configureVolts},
        {Pattern("CONFigure?"), &Instrument::configureQ},
        {Pattern("UNIT:TEMPerature"), &Instrument::temperatureUnit},
        {Pattern("UNIT:TEMPerature?"), &Instrument::temperatureUnitQ},
        {Pattern("[SENSe]:TEMPerature:TRANsducer:TCouple[:TYPE]"), &Instrument::thermocoupleType},
        {Pattern("[SENSe]:TEMPerature:TRANsducer:TCouple[:TYPE]?"), &Instrument::thermocoupleTypeQ},
        {Pattern("[SENSe]:TEMPerature:TRANsducer:TCouple:RJUNction:TYPE"),
         &Instrument::junctionType},
        {Pattern("[SENSe]:TEMPerature:TRANsducer:TCouple:RJUNction:TYPE?"),
         &Instrument::junctionTypeQ},
        {Pattern("[SENSe]:TEMPerature:NPLCycles"), &Instrument::nplc},
        {Pattern("[SENSe]:TEMPerature:NPLCycles?"), &Instrument::nplcQ},
        {Pattern("[SENSe]:VOLTage[:DC]:NPLCycles"), &Instrument::nplc},
        {Pattern("[SENSe]:VOLTage[:DC]:NPLCycles?"), &Instrument::nplcQ},
        {Pattern("[SENSe]:VOLTage[:DC]:RANGe[:UPPer]"), &Instrument::voltsRange},
        {Pattern("[SENSe]:VOLTage[:DC]:RANGe[:UPPer]?"), &Instrument::voltsRangeQ},
        {Pattern("ROUTe:SCAN"), &Instrument::scanList},
        {Pattern("ROUTe:SCAN?"), &Instrument::scanListQ},
        {Pattern("ROUTe:SCAN:SIZE?"), &Instrument::scanSizeQ},
        {Pattern("ROUTe:CHANnel:DELay"), &Instrument::channelDelay},
        {Pattern("ROUTe:CHANnel:DELay?"), &Instrument::channelDelayQ},
        {Pattern("TRIGger:COUNt"), &Instrument::triggerCount},
        {Pattern("TRIGger:COUNt?"), &Instrument::triggerCountQ},
        {Pattern("TRIGger:SOURce"), &Instrument::triggerSource},
        {Pattern("TRIGger:SOURce?"), &Instrument::triggerSourceQ},
        {Pattern("TRIGger:TIMer"), &Instrument::triggerTimer},
        {Pattern("TRIGger:TIMer?"), &Instrument::triggerTimerQ},
        {Pattern("FORMat:READing:TIME[:STATe]"), &Instrument::formatTime},
        {Pattern("FORMat:READing:TIME[:STATe]?"), &Instrument::formatTimeQ},
        {Pattern("FORMat:READing:TIME:TYPE"), &Instrument::formatTimeType},
        {Pattern("FORMat:READing:TIME:TYPE?"), &Instrument::formatTimeTypeQ},
        {Pattern("FORMat:READing:CHANnel[:STATe]"), &Instrument::formatChannel},
        {Pattern("FORMat:READing:CHANnel[:STATe]?"), &Instrument::formatChannelQ},
        {Pattern("FORMat:READing:UNIT[:STATe]"), &Instrument::formatUnit},
        {Pattern("FORMat:READing:UNIT[:STATe]?"), &Instrument::formatUnitQ},
        {Pattern("DATA:POINts?"), &Instrument::pointsQ},
        {Pattern("DATA:REMove?"), &Instrument::removeQ},
    };
    return table;
}

std::optional<std::string> Instrument::processLine(std::string_view line) {
    std::vector<std::string> path;
    std::string replies;
    bool answered = false;
    for (const std::string& text : splitUnits(line)) {
        if (text.find_first_not_of(" \t") == std::string::npos) continue;
        std::string reply;
        try {
            const MessageUnit unit = parseUnit(text);
            if (unit.query) ++queries_;
            executeUnit(unit, path, reply);
        } catch (const ScpiFailure& failure) {
            pushError(failure.number);
            // After a command error the rest of the message cannot be trusted
            // to parse as meant; an execution error spoils only its own unit.
            if (failure.number <= -100 && failure.number > -200) break;
            continue;
        }
        if (!reply.empty()) {
            if (answered) replies += ';';
            replies += reply;
            answered = true;
        }
    }
    if (!answered) return std::nullopt;
    return replies;
}

void Instrument::executeUnit(const MessageUnit& unit, std::vector<std::string>& path,
                             std::string& reply) {
    std::vector<std::string> header;
    if (!unit.common) {
        if (!unit.absolute) header = path;
        header.insert(header.end(), unit.nodes.begin(), unit.nodes.end());
        // The next unit continues from this one's branch of the tree.
        path.assign(header.begin(), header.end() - 1);
    } else {
        header = unit.nodes;
    }
    for (const Command& command : commands()) {
        if (command.pattern.common() != unit.common || !command.pattern.matches(header, unit.query))
            continue;
        Call call{splitParameters(unit.parameters), {}};
        catchUp();
        (this->*command.handler)(call);
        if (unit.query) reply = call.reply;
        return;
    }
    throw ScpiFailure{errors::kUndefinedHeader};
}

void Instrument::pushError(ScpiError error) {
    eventStatus_ |= errorClassBit(error.number);
    errors_.push(std::move(error));
}

std::size_t Instrument::storedReadings() {
    catchUp();
    return memory_.size();
}

std::vector<std::string> Instrument::takeFaultNotes() {
    std::vector<std::string> notes;
    notes.swap(faultNotes_);
    return notes;
}

void Instrument::reset() {
    scan_.reset();
    memory_.clear();
    channels_.clear();
    if (slotPopulated()) {
        for (int channel = kFirstChannel; channel <= kLastChannel; ++channel)
            channels_[channel] = ChannelSetup{};
    }
    scanList_.clear();
    triggerCount_ = 1;
    triggerInfinite_ = false;
    triggerSource_ = TriggerSource::Immediate;
    timerInterval_ = 1.0;
    formatTime_ = false;
    formatAbsolute_ = true;
    formatChannel_ = false;
    formatUnit_ = false;
}

// Brings the reading memory up to the clock: every reading whose time has
// come is stored now, computed from its number alone.
void Instrument::catchUp() {
    if (!scan_) return;
    ScanRun& run = *scan_;
    const auto size = static_cast<std::int64_t>(run.channels.size());
    const std::int64_t total = run.passes * size;
    const double elapsed = clock_.seconds() - run.start;
    std::int64_t due = 0;
    if (std::isfinite(run.interval) && elapsed >= 0.0) {
        const double pass = std::floor(elapsed / run.interval);
        if (pass >= static_cast<double>(run.passes)) {
            due = total;
        } else {
            const auto started = static_cast<std::int64_t>(pass);
            const double within = elapsed - static_cast<double>(started) * run.interval;
            const auto inPass = std::upper_bound(run.offsets.begin(), run.offsets.end(), within) -
                                run.offsets.begin();
            due = started * size + inPass;
        }
    }
    if (run.limit > 0) due = std::min(due, run.limit);
    // Readings the memory could not hold anyway are not computed at all.
    const auto capacity = static_cast<std::int64_t>(kMemoryCapacity);
    if (due - run.taken > capacity) run.taken = due - capacity;
    for (; run.taken < due; ++run.taken) store(run, run.taken);
    if (run.taken >= total) scan_.reset();
}

void Instrument::store(const ScanRun& run, std::int64_t index) {
    const auto size = static_cast<std::int64_t>(run.channels.size());
    const auto position = static_cast<std::size_t>(index % size);
    const int channel = run.channels[position];
    const ChannelSetup& setup = channels_.at(channel);
    Reading reading;
    reading.channel = channel;
    reading.time = static_cast<double>(index / size) * run.interval + run.offsets[position];
    reading.epoch = run.startEpoch + reading.time;
    reading.value = simulatedValue(setup, channel, index);
    reading.unit = setup.function == Function::Thermocouple ? std::string(1, setup.unit) : "VDC";
    memory_.push_back(std::move(reading));
    if (memory_.size() > kMemoryCapacity) memory_.pop_front();
}

double Instrument::simulatedValue(const ChannelSetup& setup, int channel,
                                  std::int64_t index) const {
    const auto channelKey = static_cast<std::uint64_t>(channel);
    const auto readingKey = static_cast<std::uint64_t>(index) + 1;
    if (setup.function == Function::Thermocouple) {
        // A room near 22 degrees, each channel a little off, with small noise.
        const double celsius = 21.5 + 1.5 * uniform(options_.seed, channelKey, 0) +
                               0.1 * (uniform(options_.seed, channelKey, readingKey) - 0.5);
        if (setup.unit == 'F') return celsius * 9.0 / 5.0 + 32.0;
        if (setup.unit == 'K') return celsius + 273.15;
        return celsius;
    }
    // Each voltage channel sees its own steady source within +-9 V.
    const double source = -9.0 + 18.0 * uniform(options_.seed, channelKey, 0);
    const double volts = source + 2e-5 * (uniform(options_.seed, channelKey, readingKey) - 0.5);
    if (!setup.autoRange && std::fabs(volts) > setup.range * 1.2) return kOverload;
    return volts;
}

std::string Instrument::formatReading(const Reading& reading) const {
    std::string text = nr3(reading.value);
    if (formatUnit_) text += ' ' + reading.unit;
    if (formatTime_) {
        char stamp[64];
        if (formatAbsolute_) {
            const std::tm calendar = localCalendar(reading.epoch);
            std::snprintf(stamp, sizeof stamp, "%04d,%02d,%02d,%02d,%02d,%06.3f",
                          calendar.tm_year + 1900, calendar.tm_mon + 1, calendar.tm_mday,
                          calendar.tm_hour, calendar.tm_min,
                          secondsWithFraction(calendar, reading.epoch));
        } else {
            std::snprintf(stamp, sizeof stamp, "%+014.3f", reading.time);
        }
        text += ',';
        text += stamp;
    }
    if (formatChannel_) text += ',' + std::to_string(reading.channel);
    return text;
}

void Instrument::expectCount(const Call& call, std::size_t least, std::size_t most) {
    if (call.parameters.size() < least) throw ScpiFailure{errors::kMissingParameter};
    if (call.parameters.size() > most) throw ScpiFailure{errors::kParameterNotAllowed};
    for (const std::string& parameter : call.parameters) {
        if (parameter.empty()) throw ScpiFailure{errors::kMissingParameter};
    }
}

std::vector<int> Instrument::channelsOf(const std::string& text) const {
    std::vector<int> channels = parseChannelList(text);
    if (channels.empty()) throw ScpiFailure{errors::kMissingParameter};
    if (channels.size() > kMaxScanChannels) throw ScpiFailure{errors::kDataOutOfRange};
    for (int channel : channels) {
        if (channels_.count(channel) == 0) throw ScpiFailure{errors::kIllegalParameterValue};
    }
    return channels;
}

std::vector<ChannelSetup*> Instrument::setupsOf(const std::string& text) {
    std::vector<ChannelSetup*> setups;
    for (int channel : channelsOf(text)) setups.push_back(&channels_.at(channel));
    return setups;
}

void Instrument::requireDmm() const {
    if (!dmmOn_) throw ScpiFailure{errors::kSettingsConflict};
}

// "*IDN?" -> "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0"
void Instrument::idnQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = options_.identity;
}

void Instrument::rst(Call& call) {
    expectCount(call, 0, 0);
    reset();
}

void Instrument::cls(Call& call) {
    expectCount(call, 0, 0);
    errors_.clear();
    eventStatus_ = 0;
}

// Settings take effect at once, so every operation is complete when asked.
void Instrument::opcQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = "1";
}

void Instrument::opc(Call& call) {
    expectCount(call, 0, 0);
    eventStatus_ |= kOperationComplete;
}

void Instrument::wai(Call& call) {
    expectCount(call, 0, 0);
}

void Instrument::esrQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = nr1(eventStatus_);
    eventStatus_ = 0;
}

void Instrument::eseQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = nr1(eventEnable_);
}

void Instrument::ese(Call& call) {
    expectCount(call, 1, 1);
    eventEnable_ = static_cast<int>(limitTo(parseNumeric(call.parameters[0]), 0, 255, 0));
}

void Instrument::sreQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = nr1(serviceEnable_);
}

void Instrument::sre(Call& call) {
    expectCount(call, 1, 1);
    serviceEnable_ = static_cast<int>(limitTo(parseNumeric(call.parameters[0]), 0, 255, 0));
}

// Bit 2: error queue not empty; bit 5: an enabled standard event; bit 6:
// any enabled summary bit.
int Instrument::statusByte() const {
    int status = 0;
    if (!errors_.empty()) status |= 4;
    if ((eventStatus_ & eventEnable_) != 0) status |= 32;
    if ((status & serviceEnable_) != 0) status |= 64;
    return status;
}

void Instrument::stbQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = nr1(statusByte());
}

void Instrument::tstQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = "+0";
}

// "SYSTem:ERRor?" -> -113,"Undefined header" ... +0,"No error"
void Instrument::errorQ(Call& call) {
    expectCount(call, 0, 0);
    const ScpiError error = errors_.pop();
    call.reply = nr1(error.number) + ",\"" + error.text + '"';
}

// "SYSTem:CTYPe? 100" -> the module's identity; an empty slot answers with
// zeros in place of model, serial and firmware.
void Instrument::ctypeQ(Call& call) {
    expectCount(call, 1, 1);
    const double slot = limitTo(parseNumeric(call.parameters[0]), 100, 800, 100);
    if (std::fmod(slot, 100.0) != 0.0) throw ScpiFailure{errors::kDataOutOfRange};
    if (slot == 100.0 && slotPopulated()) {
        call.reply = options_.module;
    } else {
        const std::string& identity = options_.identity;
        call.reply = identity.substr(0, identity.find(',')) + ",0,0,0";
    }
}

void Instrument::remote(Call& call) {
    expectCount(call, 0, 0);
    remote_ = true;
}

void Instrument::local(Call& call) {
    expectCount(call, 0, 0);
    remote_ = false;
}

// "SYSTem:DATE?" -> "2026,12,09"
void Instrument::dateQ(Call& call) {
    expectCount(call, 0, 0);
    const std::tm calendar = localCalendar(clock_.epochSeconds());
    char text[32];
    std::snprintf(text, sizeof text, "%04d,%02d,%02d", calendar.tm_year + 1900, calendar.tm_mon + 1,
                  calendar.tm_mday);
    call.reply = text;
}

// "SYSTem:TIME?" -> "10,30,15.123"
void Instrument::timeQ(Call& call) {
    expectCount(call, 0, 0);
    const double epoch = clock_.epochSeconds();
    const std::tm calendar = localCalendar(epoch);
    char text[32];
    std::snprintf(text, sizeof text, "%02d,%02d,%06.3f", calendar.tm_hour, calendar.tm_min,
                  secondsWithFraction(calendar, epoch));
    call.reply = text;
}

void Instrument::versionQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = "1999.0";
}

void Instrument::dmmQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = flag(dmmOn_);
}

void Instrument::dmm(Call& call) {
    expectCount(call, 1, 1);
    const bool on = parseBoolean(call.parameters[0]);
    if (on && !options_.dmmInstalled) throw ScpiFailure{errors::kSettingsConflict};
    if (!on) scan_.reset();
    dmmOn_ = on;
}

void Instrument::dmmInstalledQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = flag(options_.dmmInstalled);
}

void Instrument::abort(Call& call) {
    expectCount(call, 0, 0);
    scan_.reset();
}

// Starts the scan: pass k begins k timer intervals after this moment (or
// right after the pass before, when that takes longer); within a pass each
// channel waits its delay and then integrates.
void Instrument::initiate(Call& call) {
    expectCount(call, 0, 0);
    if (scan_) throw ScpiFailure{errors::kInitIgnored};
    requireDmm();
    if (scanList_.empty()) throw ScpiFailure{errors::kSettingsConflict};
    ScanRun run;
    run.channels = scanList_;
    double elapsed = 0.0;
    for (int channel : run.channels) {
        const ChannelSetup& setup = channels_.at(channel);
        elapsed += setup.delay + setup.nplc / kLineFrequency + kOverhead;
        run.offsets.push_back(elapsed);
    }
    switch (triggerSource_) {
        case TriggerSource::Timer:
            run.interval = std::max(timerInterval_, elapsed);
            break;
        case TriggerSource::Immediate:
            run.interval = elapsed;
            break;
        // No trigger input is simulated: such a scan waits until it is aborted.
        case TriggerSource::Bus:
        case TriggerSource::External:
            run.interval = std::numeric_limits<double>::infinity();
            break;
    }
    run.passes = triggerInfinite_ ? kInfinitePasses : triggerCount_;
    run.start = clock_.seconds();
    run.startEpoch = clock_.epochSeconds();
    run.limit = options_.stallAt;
    if (run.limit > 0)
        faultNotes_.push_back("scan stops storing after " + std::to_string(run.limit) +
                              " readings");
    memory_.clear();
    scan_ = std::move(run);
}

// "CONFigure:TEMPerature TCouple, J, (@101:110)"
void Instrument::configureTemperature(Call& call) {
    expectCount(call, 3, 5);
    requireDmm();
    if (!characterMatches(call.parameters[0], "TCouple") &&
        !characterMatches(call.parameters[0], "DEFault")) {
        throw ScpiFailure{errors::kIllegalParameterValue};
    }
    const std::string type = toUpper(call.parameters[1]);
    char thermocouple = 'J';
    if (type.size() == 1 && std::string("BEJKNRST").find(type[0]) != std::string::npos) {
        thermocouple = type[0];
    } else if (!characterMatches(type, "DEFault")) {
        throw ScpiFailure{errors::kIllegalParameterValue};
    }
    for (ChannelSetup* setup : setupsOf(call.parameters.back())) {
        setup->function = Function::Thermocouple;
        setup->thermocouple = thermocouple;
        setup->nplc = 1.0;
    }
}

// "CONFigure:VOLTage:DC 10, (@111:120)"
void Instrument::configureVolts(Call& call) {
    expectCount(call, 1, 3);
    requireDmm();
    bool autoRange = false;
    double range = 10.0;
    if (call.parameters.size() >= 2) {
        const std::string& text = call.parameters[0];
        if (characterMatches(text, "AUTO")) {
            autoRange = true;
        } else {
            const Numeric value = parseNumeric(text);
            autoRange = value.kind == Numeric::Kind::Def;
            if (!autoRange) range = roundUpTo(kVoltRanges, limitTo(value, 0.0, 300.0, 10.0));
        }
    } else {
        autoRange = true;
    }
    if (call.parameters.size() == 3)
        parseNumeric(call.parameters[1]);  // resolution: accepted, not modelled
    for (ChannelSetup* setup : setupsOf(call.parameters.back())) {
        setup->function = Function::DcVolts;
        setup->autoRange = autoRange;
        setup->range = range;
        setup->nplc = 1.0;
    }
}

// "CONFigure? (@101,111)" -> "TEMP TC,J","VOLT:DC +1.00000000E+01"
void Instrument::configureQ(Call& call) {
    expectCount(call, 1, 1);
    std::string reply;
    for (int channel : channelsOf(call.parameters[0])) {
        const ChannelSetup& setup = channels_.at(channel);
        if (!reply.empty()) reply += ',';
        if (setup.function == Function::Thermocouple) {
            reply += std::string("\"TEMP TC,") + setup.thermocouple + '"';
        } else {
            reply +=
                "\"VOLT:DC " + (setup.autoRange ? std::string("AUTO") : nr3(setup.range)) + '"';
        }
    }
    call.reply = reply;
}

void Instrument::temperatureUnit(Call& call) {
    expectCount(call, 2, 2);
    const std::string unit = toUpper(call.parameters[0]);
    char letter = 0;
    if (unit == "C" || unit == "CEL")
        letter = 'C';
    else if (unit == "F" || unit == "FAR")
        letter = 'F';
    else if (unit == "K")
        letter = 'K';
    else
        throw ScpiFailure{errors::kIllegalParameterValue};
    for (ChannelSetup* setup : setupsOf(call.parameters[1])) setup->unit = letter;
}

void Instrument::temperatureUnitQ(Call& call) {
    expectCount(call, 1, 1);
    std::string reply;
    for (ChannelSetup* setup : setupsOf(call.parameters[0])) {
        if (!reply.empty()) reply += ',';
        reply += setup->unit;
    }
    call.reply = reply;
}

void Instrument::thermocoupleType(Call& call) {
    expectCount(call, 2, 2);
    const std::string type = toUpper(call.parameters[0]);
    if (type.size() != 1 || std::string("BEJKNRST").find(type[0]) == std::string::npos) {
        throw ScpiFailure{errors::kIllegalParameterValue};
    }
    for (ChannelSetup* setup : setupsOf(call.parameters[1])) setup->thermocouple = type[0];
}

void Instrument::thermocoupleTypeQ(Call& call) {
    expectCount(call, 1, 1);
    std::string reply;
    for (ChannelSetup* setup : setupsOf(call.parameters[0])) {
        if (!reply.empty()) reply += ',';
        reply += setup->thermocouple;
    }
    call.reply = reply;
}

// "SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)"
void Instrument::junctionType(Call& call) {
    expectCount(call, 2, 2);
    const std::string& text = call.parameters[0];
    Junction junction = Junction::Internal;
    if (characterMatches(text, "INTernal"))
        junction = Junction::Internal;
    else if (characterMatches(text, "EXTernal"))
        junction = Junction::External;
    else if (characterMatches(text, "FIXed"))
        junction = Junction::Fixed;
    else
        throw ScpiFailure{errors::kIllegalParameterValue};
    for (ChannelSetup* setup : setupsOf(call.parameters[1])) setup->junction = junction;
}

void Instrument::junctionTypeQ(Call& call) {
    expectCount(call, 1, 1);
    std::string reply;
    for (ChannelSetup* setup : setupsOf(call.parameters[0])) {
        if (!reply.empty()) reply += ',';
        reply += setup->junction == Junction::Internal   ? "INT"
                 : setup->junction == Junction::External ? "EXT"
                                                         : "FIX";
    }
    call.reply = reply;
}

// "SENSe:VOLTage:NPLC 1,(@111:120)"
void Instrument::nplc(Call& call) {
    expectCount(call, 2, 2);
    const double cycles =
        roundUpTo(kNplcSettings, limitTo(parseNumeric(call.parameters[0]), 0.02, 200.0, 1.0));
    for (ChannelSetup* setup : setupsOf(call.parameters[1])) setup->nplc = cycles;
}

void Instrument::nplcQ(Call& call) {
    expectCount(call, 1, 1);
    std::string reply;
    for (ChannelSetup* setup : setupsOf(call.parameters[0])) {
        if (!reply.empty()) reply += ',';
        reply += nr3(setup->nplc);
    }
    call.reply = reply;
}

void Instrument::voltsRange(Call& call) {
    expectCount(call, 2, 2);
    const double range =
        roundUpTo(kVoltRanges, limitTo(parseNumeric(call.parameters[0]), 0.0, 300.0, 10.0));
    for (ChannelSetup* setup : setupsOf(call.parameters[1])) {
        setup->range = range;
        setup->autoRange = false;
    }
}

void Instrument::voltsRangeQ(Call& call) {
    expectCount(call, 1, 1);
    std::string reply;
    for (ChannelSetup* setup : setupsOf(call.parameters[0])) {
        if (!reply.empty()) reply += ',';
        reply += nr3(setup->range);
    }
    call.reply = reply;
}

// "ROUTe:SCAN (@101:120)"; an empty list "(@)" clears the scan list.
void Instrument::scanList(Call& call) {
    expectCount(call, 1, 1);
    if (parseChannelList(call.parameters[0]).empty()) {
        scanList_.clear();
        return;
    }
    scanList_ = channelsOf(call.parameters[0]);
}

void Instrument::scanListQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = formatChannelList(scanList_);
}

// "ROUTe:SCAN:SIZE?" -> "+20"
void Instrument::scanSizeQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = nr1(static_cast<std::int64_t>(scanList_.size()));
}

// "ROUTe:CHANnel:DELay 0.25, (@101:120)"
void Instrument::channelDelay(Call& call) {
    expectCount(call, 2, 2);
    const double delay = limitTo(parseNumeric(call.parameters[0]), 0.0, kMaxDelay, 0.0);
    for (ChannelSetup* setup : setupsOf(call.parameters[1])) setup->delay = delay;
}

// "ROUTe:CHANnel:DELay? (@101)" -> "+2.50000000E-01"
void Instrument::channelDelayQ(Call& call) {
    expectCount(call, 1, 1);
    std::string reply;
    for (ChannelSetup* setup : setupsOf(call.parameters[0])) {
        if (!reply.empty()) reply += ',';
        reply += nr3(setup->delay);
    }
    call.reply = reply;
}

void Instrument::triggerCount(Call& call) {
    expectCount(call, 1, 1);
    if (characterMatches(call.parameters[0], "INFinity")) {
        triggerInfinite_ = true;
        return;
    }
    const double count =
        limitTo(parseNumeric(call.parameters[0]), 1.0, static_cast<double>(kMaxTriggerCount), 1.0);
    triggerCount_ = std::llround(count);
    triggerInfinite_ = false;
}

// "TRIGger:COUNt?" -> "+2"
void Instrument::triggerCountQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = triggerInfinite_ ? nr3(kOverload) : nr1(triggerCount_);
}

void Instrument::triggerSource(Call& call) {
    expectCount(call, 1, 1);
    const std::string& text = call.parameters[0];
    if (characterMatches(text, "IMMediate"))
        triggerSource_ = TriggerSource::Immediate;
    else if (characterMatches(text, "TIMer"))
        triggerSource_ = TriggerSource::Timer;
    else if (characterMatches(text, "BUS"))
        triggerSource_ = TriggerSource::Bus;
    else if (characterMatches(text, "EXTernal"))
        triggerSource_ = TriggerSource::External;
    else
        throw ScpiFailure{errors::kIllegalParameterValue};
}

void Instrument::triggerSourceQ(Call& call) {
    expectCount(call, 0, 0);
    switch (triggerSource_) {
        case TriggerSource::Immediate:
            call.reply = "IMM";
            break;
        case TriggerSource::Timer:
            call.reply = "TIM";
            break;
        case TriggerSource::Bus:
            call.reply = "BUS";
            break;
        case TriggerSource::External:
            call.reply = "EXT";
            break;
    }
}

void Instrument::triggerTimer(Call& call) {
    expectCount(call, 1, 1);
    timerInterval_ = limitTo(parseNumeric(call.parameters[0]), 0.0, kMaxTimer, 1.0);
}

// "TRIGger:TIMer?" -> "+1.00000000E+01"
void Instrument::triggerTimerQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = nr3(timerInterval_);
}

void Instrument::formatTime(Call& call) {
    expectCount(call, 1, 1);
    formatTime_ = parseBoolean(call.parameters[0]);
}

void Instrument::formatTimeQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = flag(formatTime_);
}

void Instrument::formatTimeType(Call& call) {
    expectCount(call, 1, 1);
    if (characterMatches(call.parameters[0], "ABSolute"))
        formatAbsolute_ = true;
    else if (characterMatches(call.parameters[0], "RELative"))
        formatAbsolute_ = false;
    else
        throw ScpiFailure{errors::kIllegalParameterValue};
}

void Instrument::formatTimeTypeQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = formatAbsolute_ ? "ABS" : "REL";
}

void Instrument::formatChannel(Call& call) {
    expectCount(call, 1, 1);
    formatChannel_ = parseBoolean(call.parameters[0]);
}

void Instrument::formatChannelQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = flag(formatChannel_);
}

void Instrument::formatUnit(Call& call) {
    expectCount(call, 1, 1);
    formatUnit_ = parseBoolean(call.parameters[0]);
}

void Instrument::formatUnitQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = flag(formatUnit_);
}

// "DATA:POINts?" -> "+12"
void Instrument::pointsQ(Call& call) {
    expectCount(call, 0, 0);
    call.reply = nr1(static_cast<std::int64_t>(memory_.size()));
}

// "DATA:REMove? 1" -> "+2.21974610E+01,+000000000.256,101"; asking for more
// readings than are stored removes none and is an error.
void Instrument::removeQ(Call& call) {
    expectCount(call, 1, 1);
    const double wanted =
        limitTo(parseNumeric(call.parameters[0]), 1.0, static_cast<double>(kMemoryCapacity), 1.0);
    const auto count = static_cast<std::size_t>(std::llround(wanted));
    if (count > memory_.size()) throw ScpiFailure{errors::kDataOutOfRange};
    ++readingReplies_;
    const bool dropChannel = readingReplies_ == options_.missingField && formatChannel_;
    std::string reply;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) reply += ',';
        std::string reading = formatReading(memory_.front());
        if (dropChannel && i == 0) reading.erase(reading.rfind(','));
        reply += reading;
        memory_.pop_front();
    }
    if (dropChannel)
        faultNotes_.push_back("reading reply " + std::to_string(readingReplies_) +
                              " without channel");
    call.reply = reply;
}

}  // namespace tq820sim
