// SPDX-License-Identifier: MIT
#include "prologix.h"

#include <charconv>
#include <utility>

namespace tq820sim {

namespace {

constexpr char kEscape = 27;
constexpr int kQueryInterrupted = -410;
constexpr int kQueryUnterminated = -420;

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> found;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        text.remove_prefix(start);
        const std::size_t end = text.find(' ');
        found.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    return found;
}

// A decimal number in [least, most], the whole word; nothing otherwise.
std::optional<int> number(std::string_view word, int least, int most) {
    int value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || value < least || value > most) {
        return std::nullopt;
    }
    return value;
}

// "9" or "9 96".
std::optional<GpibAddress> addressOf(const std::vector<std::string_view>& args, std::size_t first) {
    if (args.size() - first > 2) return std::nullopt;
    const auto primary = number(args[first], 0, 30);
    if (!primary) return std::nullopt;
    GpibAddress address{*primary, 0};
    if (args.size() - first == 2) {
        const auto secondary = number(args[first + 1], 96, 126);
        if (!secondary) return std::nullopt;
        address.secondary = *secondary;
    }
    return address;
}

std::string addressText(const GpibAddress& address) {
    std::string text = std::to_string(address.primary);
    if (address.secondary != 0) text += " " + std::to_string(address.secondary);
    return text;
}

std::string_view terminator(int eos) {
    static constexpr std::string_view kTerminators[] = {"\r\n", "\r", "\n", ""};
    return kTerminators[eos];
}

std::string versionOf(const std::string& model) {
    return "Prologix " + model + " Controller version " +
           (model == "GPIB-ETHERNET" ? "01.06.06.00" : "6.107");
}

}  // namespace

PrologixController::PrologixController(Instrument& instrument, ConnectionFaults& connectionFaults,
                                       PrologixFaults& faults, const Clock& clock,
                                       PrologixOptions options)
    : instrument_(instrument),
      connectionFaults_(connectionFaults),
      faults_(faults),
      clock_(clock),
      options_(std::move(options)) {
    listener_.emplace(instrument_, connectionFaults_);
}

void PrologixController::connect() {
    pending_.clear();
    line_.clear();
    plusPrefix_ = 0;
    escaped_ = false;
    busyUntil_.reset();
    waiting_.reset();
    closed_ = false;
    listener_.emplace(instrument_, connectionFaults_);
}

PrologixOutput PrologixController::receive(std::string_view bytes) {
    PrologixOutput out = advance();
    if (closed_) return out;
    if (pending_.size() + bytes.size() > kMaxPending) {
        closeConnection("host sent more than " + std::to_string(kMaxPending) +
                            " bytes the controller had not taken; connection closed",
                        out);
        return out;
    }
    pending_.append(bytes);
    process(out);
    return out;
}

PrologixOutput PrologixController::advance() {
    PrologixOutput out;
    if (closed_) return out;
    if (busyUntil_ && clock_.seconds() >= *busyUntil_) {
        busyUntil_.reset();
        if (const std::optional<Read> request = std::exchange(waiting_, std::nullopt)) {
            answerReadyAt_.reset();
            talk(*request, out);
        }
    }
    process(out);
    return out;
}

std::optional<double> PrologixController::deadline() const {
    return closed_ ? std::nullopt : busyUntil_;
}

bool PrologixController::busy() const {
    return busyUntil_.has_value();
}

// Takes host bytes until the controller is busy with a read: what the host
// sends meanwhile waits, as in the device's input buffer.
void PrologixController::process(PrologixOutput& out) {
    std::size_t taken = 0;
    while (taken < pending_.size() && !busy() && !closed_) takeByte(pending_[taken++], out);
    pending_.erase(0, taken);
}

void PrologixController::takeByte(char byte, PrologixOutput& out) {
    if (escaped_) {
        escaped_ = false;
        line_ += byte;
    } else if (byte == kEscape) {
        escaped_ = true;
        return;
    } else if (byte == '\r' || byte == '\n') {
        endLine(out);
        return;
    } else {
        // Only an unescaped "++" at the start makes a controller command.
        if (byte == '+' && plusPrefix_ < 2 && std::size_t(plusPrefix_) == line_.size())
            ++plusPrefix_;
        line_ += byte;
    }
    if (line_.size() > Session::kMaxLine) {
        closeConnection("host line longer than " + std::to_string(Session::kMaxLine) +
                            " bytes; connection closed",
                        out);
    }
}

void PrologixController::endLine(PrologixOutput& out) {
    std::string line;
    line.swap(line_);
    const bool isCommand = plusPrefix_ >= 2;
    plusPrefix_ = 0;
    if (line.empty()) return;
    if (isCommand) {
        command(std::string_view(line).substr(2), out);
    } else {
        sendData(std::move(line), out);
    }
}

void PrologixController::command(std::string_view text, PrologixOutput& out) {
    out.events.push_back({"GPIB", "++" + escapeForTranscript(text)});
    // The name starts right after "++"; "++ read" is no command.
    const std::string_view name = text.substr(0, text.find(' '));
    const std::vector<std::string_view> args = words(text);
    const std::size_t count = args.size() - (args.empty() ? 0 : 1);
    auto ignored = [&](const char* why) {
        out.events.push_back({"GPIB", std::string("ignored: ") + why});
    };
    // The commands that set a value, or tell it when given none.
    auto setting = [&](int& value, int least, int most) {
        if (count == 0) {
            answer(std::to_string(value), out);
        } else if (const auto given = count == 1 ? number(args[1], least, most) : std::nullopt) {
            value = *given;
        } else {
            ignored("bad argument");
        }
    };
    auto flag = [&](bool& value) {
        int asNumber = value ? 1 : 0;
        setting(asNumber, 0, 1);
        value = asNumber != 0;
    };
    const bool controller = settings_.controllerMode;

    if (name == "addr") {
        if (count == 0) {
            answer(addressText(settings_.address), out);
        } else if (const auto address = addressOf(args, 1)) {
            settings_.address = *address;
        } else {
            ignored("bad address");
        }
    } else if (name == "auto") {
        flag(settings_.autoRead);
    } else if (name == "eoi") {
        flag(settings_.eoi);
    } else if (name == "eos") {
        setting(settings_.eos, 0, 3);
    } else if (name == "eot_enable") {
        flag(settings_.eotEnable);
    } else if (name == "eot_char") {
        setting(settings_.eotChar, 0, 255);
    } else if (name == "mode") {
        flag(settings_.controllerMode);
    } else if (name == "read_tmo_ms") {
        setting(settings_.readTimeoutMs, 1, 3000);
    } else if (name == "savecfg") {
        flag(settings_.saveConfig);  // nothing is kept past the simulator's end
    } else if (name == "read" && controller) {
        if (count == 0) {
            read(ReadEnd::Timeout, 0, out);
        } else if (count == 1 && args[1] == "eoi") {
            read(ReadEnd::Eoi, 0, out);
        } else if (const auto character = count == 1 ? number(args[1], 0, 255) : std::nullopt) {
            read(ReadEnd::Character, static_cast<char>(*character), out);
        } else {
            ignored("bad argument");
        }
    } else if (name == "spoll" && controller) {
        if (count == 0) {
            serialPoll(settings_.address, out);
        } else if (const auto address = addressOf(args, 1)) {
            serialPoll(*address, out);
        } else {
            ignored("bad address");
        }
    } else if (name == "clr" && controller) {
        deviceClear(out);
    } else if (name == "srq" && controller) {
        answer("0", out);  // the instrument never requests service
    } else if (name == "loc" && controller && count == 0) {
        // Go To Local to the addressed device; the controller keeps REN.
        if (instrumentAt(settings_.address)) instrument_.setRemote(false);
    } else if ((name == "ifc" || name == "llo" || name == "trg") && controller) {
        // Bus management the TQ820A model has no state for.
        out.events.push_back({"GPIB", "no effect on the simulated instrument"});
    } else if (name == "rst") {
        settings_ = Settings{};
        out.events.push_back({"GPIB", "controller reset to its power-on settings"});
    } else if (name == "ver") {
        answer(versionOf(options_.model), out);
    } else if (name == "help") {
        answer(help(), out);
    } else {
        ignored(controller ? "unknown command" : "unknown command or not in device mode");
    }
}

void PrologixController::sendData(std::string data, PrologixOutput& out) {
    if (!settings_.controllerMode) {
        out.events.push_back({"GPIB", "device mode: no controller addresses us; data dropped"});
        return;
    }
    data += terminator(settings_.eos);
    if (instrumentAt(settings_.address)) {
        deliver(std::move(data), out);
    } else {
        out.events.push_back({"GPIB", "no device at address " + addressText(settings_.address) +
                                          "; data went nowhere"});
    }
    if (settings_.autoRead) read(ReadEnd::Eoi, 0, out);
}

void PrologixController::deliver(std::string bytes, PrologixOutput& out) {
    if (!talker_.empty()) {
        talker_.clear();
        talkerEoi_ = false;
        answerReadyAt_.reset();
        instrument_.pushError({kQueryInterrupted, "Query INTERRUPTED"});
        out.events.push_back({"GPIB", "new message before the reply was read: -410"});
    }
    // REN is held by the controller: addressed to listen, the instrument
    // goes remote.
    instrument_.setRemote(true);
    // EOI with the last byte ends the message as LF does.
    if (settings_.eoi && (bytes.empty() || bytes.back() != '\n')) bytes += '\n';
    Output heard = listener_->receive(bytes);
    for (Event& event : heard.events) {
        // What the instrument sends is written down when it is read.
        if (event.kind == Event::Kind::Received)
            out.events.push_back({"RX", std::move(event.text)});
        if (event.kind == Event::Kind::Fault)
            out.events.push_back({"FAULT", std::move(event.text)});
    }
    for (const std::string& reply : heard.replies) talker_ += reply;
    talkerEoi_ = !talker_.empty() && talker_.back() == '\n';
    if (heard.close) closeConnection({}, out);
}

void PrologixController::read(ReadEnd end, char character, PrologixOutput& out) {
    if (closed_) return;  // the instrument's last command closed the line
    const long count = ++faults_.reads;
    const double timeout = settings_.readTimeoutMs / 1000.0;
    if (count == faults_.dropRead) {
        out.events.push_back({"FAULT", "read " + std::to_string(count) + " dropped"});
        return;
    }
    if (!instrumentAt(settings_.address)) {
        out.events.push_back({"GPIB", "no device at address " + addressText(settings_.address) +
                                          " talks; read timed out"});
        waitFor(timeout);
        return;
    }
    if (talker_.empty()) {
        instrument_.pushError({kQueryUnterminated, "Query UNTERMINATED"});
        out.events.push_back({"GPIB", "addressed to talk with nothing to say: -420"});
        waitFor(timeout);
        return;
    }
    if (count == faults_.lateRead) {
        answerReadyAt_ = clock_.seconds() + timeout + kLateBy;
        out.events.push_back({"FAULT", "answer to read " + std::to_string(count) +
                                           " ready only past its read time-out"});
    }
    awaitAnswer({end, character, count}, timeout, out);
}

// Addressed to talk while its query still runs, the instrument holds off the
// handshake: the read takes the answer if it comes within the time-out.
void PrologixController::awaitAnswer(const Read& request, double timeout, PrologixOutput& out) {
    if (!answerNotReady()) {
        answerReadyAt_.reset();
        talk(request, out);
        return;
    }
    const std::string which = "query in progress: read " + std::to_string(request.count);
    if (*answerReadyAt_ <= clock_.seconds() + timeout) {
        out.events.push_back({"GPIB", which + " waits for its answer"});
        waiting_ = request;
        busyUntil_ = answerReadyAt_;
    } else {
        out.events.push_back({"GPIB", which + " timed out with nothing"});
        waitFor(timeout);
    }
}

void PrologixController::talk(const Read& request, PrologixOutput& out) {
    std::size_t take = talker_.size();
    bool ended = false;
    if (request.end == ReadEnd::Character) {
        if (const std::size_t at = talker_.find(request.character); at != std::string::npos) {
            take = at + 1;
            ended = true;
        }
    }
    const bool eoiSeen = take == talker_.size() && talkerEoi_;
    ended = ended || (request.end == ReadEnd::Eoi && eoiSeen);
    std::string bytes = talker_.substr(0, take);
    talker_.erase(0, take);
    if (talker_.empty()) talkerEoi_ = false;
    const std::string_view shown = std::string_view(bytes).substr(
        0, bytes.size() - (!bytes.empty() && bytes.back() == '\n' ? 1 : 0));
    out.events.push_back({"TX", escapeForTranscript(shown)});
    if (eoiSeen && settings_.eotEnable) bytes += static_cast<char>(settings_.eotChar);

    if (request.count == faults_.cutRead) {
        out.toHost += bytes.substr(0, bytes.size() / 2);
        closeConnection("connection lost halfway through read " + std::to_string(request.count), out);
        return;
    }
    out.toHost += bytes;
    // The controller waits out its time-out for more.
    if (!ended) waitFor(settings_.readTimeoutMs / 1000.0);
}

void PrologixController::answer(const std::string& text, PrologixOutput& out) {
    out.toHost += text;
    out.toHost += "\r\n";
}

// The instrument's status byte, with MAV while its ready reply waits unread.
void PrologixController::serialPoll(GpibAddress target, PrologixOutput& out) {
    if (!instrumentAt(target)) {
        out.events.push_back(
            {"GPIB", "no device at address " + addressText(target) + "; serial poll timed out"});
        waitFor(settings_.readTimeoutMs / 1000.0);
        return;
    }
    const int status = instrument_.statusByte() | (talker_.empty() || answerNotReady() ? 0 : 16);
    answer(std::to_string(status), out);
}

void PrologixController::deviceClear(PrologixOutput& out) {
    if (!instrumentAt(settings_.address)) {
        out.events.push_back({"GPIB", "no device at address " + addressText(settings_.address)});
        return;
    }
    talker_.clear();
    talkerEoi_ = false;
    answerReadyAt_.reset();
    listener_.emplace(instrument_, connectionFaults_);
    out.events.push_back({"GPIB", "device clear: input and unread reply dropped"});
}

void PrologixController::waitFor(double seconds) {
    busyUntil_ = clock_.seconds() + seconds;
}

// why: for the transcript, empty when the instrument's session said it.
void PrologixController::closeConnection(std::string why, PrologixOutput& out) {
    if (!why.empty()) out.events.push_back({"FAULT", std::move(why)});
    out.close = true;
    closed_ = true;
    pending_.clear();
    line_.clear();
    busyUntil_.reset();
    waiting_.reset();
}

std::string PrologixController::help() const {
    return "Simulated Prologix " + options_.model +
           " controller, controller mode only. Commands:\r\n"
           "++addr [PAD [SAD]], ++auto [0|1], ++clr, ++eoi [0|1], ++eos [0|1|2|3],\r\n"
           "++eot_enable [0|1], ++eot_char [0-255], ++ifc, ++llo, ++loc, ++mode [0|1],\r\n"
           "++read [eoi|0-255], ++read_tmo_ms [1-3000], ++rst, ++savecfg [0|1],\r\n"
           "++spoll [PAD [SAD]], ++srq, ++trg, ++ver, ++help";
}

}  // namespace tq820sim
