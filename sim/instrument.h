// SPDX-License-Identifier: MIT
// The simulated TQ820A: its settings, its error queue, its timed scans and
// its reading memory, driven by SCPI lines. No I/O happens here.
#pragma once

#include "clock.h"
#include "scpi.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tq820sim {

// The instrument's SCPI error queue: oldest first, bounded; when it is full
// the newest entry becomes "Queue overflow", as SCPI asks.
class ErrorQueue {
public:
    static constexpr std::size_t kCapacity = 10;
    void push(ScpiError error);
    // The oldest error, removed; 0,"No error" when empty.
    ScpiError pop();
    void clear() { entries_.clear(); }
    [[nodiscard]] bool empty() const { return entries_.empty(); }
    [[nodiscard]] std::size_t size() const { return entries_.size(); }

private:
    std::deque<ScpiError> entries_;
};

// How the instrument is built and which faults it shows.
struct InstrumentOptions {
    std::string identity = "CORVALEN,TQ820A,MY00000001,1.0-1.0-1.0-1.0";
    std::string module = "CORVALEN,TQ711A,0,1.0";  // slot 100; empty = no module
    bool dmmInstalled = true;
    bool dmmOn = true;
    std::vector<ScpiError> startErrors;
    std::uint64_t seed = 1;
    long stallAt = 0;       // a scan stores at most this many readings (0: no limit)
    long missingField = 0;  // the reply to this reading removal lacks its channel
};

enum class Function { DcVolts, Thermocouple };
enum class Junction { Internal, External, Fixed };
enum class TriggerSource { Immediate, Bus, External, Timer };

struct ChannelSetup {
    Function function = Function::DcVolts;
    char thermocouple = 'J';
    char unit = 'C';
    Junction junction = Junction::Internal;
    double range = 10.0;
    bool autoRange = true;
    double nplc = 1.0;
    double delay = 0.0;
};

struct Reading {
    double value = 0.0;
    double time = 0.0;   // seconds after the scan's start
    double epoch = 0.0;  // calendar time of the reading
    int channel = 0;
    std::string unit;  // "C", "F", "K" or "VDC"
};

class Instrument {
public:
    // Each channel's integration takes NPLC power-line cycles of 50 Hz plus
    // this fixed switching and conversion overhead.
    static constexpr double kLineFrequency = 50.0;
    static constexpr double kOverhead = 0.002;
    static constexpr std::size_t kMemoryCapacity = 100000;
    static constexpr int kFirstChannel = 101;
    static constexpr int kLastChannel = 140;

    Instrument(const Clock& clock, InstrumentOptions options);

    // Executes one line (line end removed); the reply line without its line
    // end, or nothing when no query in it produced a reply.
    std::optional<std::string> processLine(std::string_view line);

    // Queries received so far, over the instrument's lifetime.
    [[nodiscard]] long queryCount() const { return queries_; }
    void pushError(ScpiError error);
    void pushError(int number) { pushError(makeError(number)); }
    [[nodiscard]] const ErrorQueue& errorQueue() const { return errors_; }
    // The status byte as "*STB?" reads it, for a serial poll (the bus
    // message, not a query: it counts as none).
    [[nodiscard]] int statusByte() const;
    // Remote and local as the bus sets them (VXI-11 device_remote/_local).
    void setRemote(bool remote) { remote_ = remote; }
    // Readings in memory now (the scan is brought up to the clock first).
    std::size_t storedReadings();
    [[nodiscard]] bool scanRunning() const { return scan_.has_value(); }
    // Notes about injected faults that fired since the last call.
    std::vector<std::string> takeFaultNotes();

private:
    struct Call {
        std::vector<std::string> parameters;
        std::string reply;
    };
    using Handler = void (Instrument::*)(Call&);
    struct Command {
        Pattern pattern;
        Handler handler;
    };
    struct ScanRun {
        std::vector<int> channels;
        std::vector<double> offsets;  // reading time of each channel within a pass
        double interval = 0.0;        // pass start to pass start
        std::int64_t passes = 0;
        double start = 0.0;
        double startEpoch = 0.0;
        std::int64_t taken = 0;
        std::int64_t limit = 0;
    };

    static const std::vector<Command>& commands();
    void executeUnit(const MessageUnit& unit, std::vector<std::string>& path, std::string& replies);
    void reset();
    void catchUp();
    void store(const ScanRun& run, std::int64_t index);
    [[nodiscard]] double simulatedValue(const ChannelSetup& setup, int channel,
                                        std::int64_t index) const;
    [[nodiscard]] std::string formatReading(const Reading& reading) const;
    [[nodiscard]] bool slotPopulated() const { return !options_.module.empty(); }

    // Parameter helpers; each throws ScpiFailure.
    static void expectCount(const Call& call, std::size_t least, std::size_t most);
    std::vector<int> channelsOf(const std::string& text) const;
    std::vector<ChannelSetup*> setupsOf(const std::string& text);
    void requireDmm() const;

    // Handlers; query handlers end in Q.
    void idnQ(Call& call);
    void rst(Call& call);
    void cls(Call& call);
    void opcQ(Call& call);
    void opc(Call& call);
    void wai(Call& call);
    void esrQ(Call& call);
    void eseQ(Call& call);
    void ese(Call& call);
    void sreQ(Call& call);
    void sre(Call& call);
    void stbQ(Call& call);
    void tstQ(Call& call);
    void errorQ(Call& call);
    void ctypeQ(Call& call);
    void remote(Call& call);
    void local(Call& call);
    void dateQ(Call& call);
    void timeQ(Call& call);
    void versionQ(Call& call);
    void dmmQ(Call& call);
    void dmm(Call& call);
    void dmmInstalledQ(Call& call);
    void abort(Call& call);
    void initiate(Call& call);
    void configureTemperature(Call& call);
    void configureVolts(Call& call);
    void configureQ(Call& call);
    void temperatureUnit(Call& call);
    void temperatureUnitQ(Call& call);
    void thermocoupleType(Call& call);
    void thermocoupleTypeQ(Call& call);
    void junctionType(Call& call);
    void junctionTypeQ(Call& call);
    void nplc(Call& call);
    void nplcQ(Call& call);
    void voltsRange(Call& call);
    void voltsRangeQ(Call& call);
    void scanList(Call& call);
    void scanListQ(Call& call);
    void scanSizeQ(Call& call);
    void channelDelay(Call& call);
    void channelDelayQ(Call& call);
    void triggerCount(Call& call);
    void triggerCountQ(Call& call);
    void triggerSource(Call& call);
    void triggerSourceQ(Call& call);
    void triggerTimer(Call& call);
    void triggerTimerQ(Call& call);
    void formatTime(Call& call);
    void formatTimeQ(Call& call);
    void formatTimeType(Call& call);
    void formatTimeTypeQ(Call& call);
    void formatChannel(Call& call);
    void formatChannelQ(Call& call);
    void formatUnit(Call& call);
    void formatUnitQ(Call& call);
    void pointsQ(Call& call);
    void removeQ(Call& call);

    const Clock& clock_;
    InstrumentOptions options_;
    ErrorQueue errors_;
    bool dmmOn_;
    bool remote_ = false;
    int eventStatus_ = 0;
    int eventEnable_ = 0;
    int serviceEnable_ = 0;
    std::map<int, ChannelSetup> channels_;
    std::vector<int> scanList_;
    std::int64_t triggerCount_ = 1;
    bool triggerInfinite_ = false;
    TriggerSource triggerSource_ = TriggerSource::Immediate;
    double timerInterval_ = 1.0;
    bool formatTime_ = false;
    bool formatAbsolute_ = true;
    bool formatChannel_ = false;
    bool formatUnit_ = false;
    std::optional<ScanRun> scan_;
    std::deque<Reading> memory_;
    long queries_ = 0;
    long readingReplies_ = 0;
    std::vector<std::string> faultNotes_;
};

}  // namespace tq820sim
