// SPDX-License-Identifier: MIT
#include "tests/program/fake_control.h"

#include <charconv>
#include <system_error>

namespace tq::testing {

std::vector<std::string> Script::texts() const {
    std::vector<std::string> out;
    for (const Call& call : calls) {
        out.push_back(call.text);
    }
    return out;
}

std::vector<std::string> Script::commands() const {
    std::vector<std::string> out;
    for (const Call& call : calls) {
        if (call.text.rfind("Output ", 0) == 0) {
            out.push_back(call.text.substr(7));
        }
    }
    return out;
}

std::size_t Script::count(const std::string& text) const {
    std::size_t n = 0;
    for (const Call& call : calls) {
        n += call.text == text ? 1U : 0U;
    }
    return n;
}

class FakeControl::FakeIo final : public CorvalenLib::IoObject {
public:
    explicit FakeIo(FakeControl& control) : control_(control) {}
    [[nodiscard]] std::string InterfaceType() const override {
        control_.record("InterfaceType");
        return control_.script_->interfaceType;
    }
    void PostResetCall() override { control_.record("PostResetCall"); }

private:
    FakeControl& control_;
};

FakeControl::FakeControl(std::shared_ptr<Script> script)
    : script_(std::move(script)), io_(std::make_unique<FakeIo>(*this)) {}

FakeControl::~FakeControl() = default;

void FakeControl::record(std::string text) {
    const double time = script_->clock != nullptr ? script_->clock->now : 0.0;
    script_->calls.push_back(Call{std::move(text), time});
    if (script_->failAtCall && *script_->failAtCall + 1 == script_->calls.size()) {
        throw CorvalenLib::IoError("scripted failure at \"" + script_->calls.back().text + "\"");
    }
}

void FakeControl::SelectIODialog() {
    record("SelectIODialog");
    address_ = script_->addressAfterDialog;
}

void FakeControl::setAddress(const std::string& resource) {
    record("setAddress " + resource);
    address_ = resource;
}

void FakeControl::OpenIO(const std::string& resource) {
    record("OpenIO " + resource);
}

CorvalenLib::IoObject& FakeControl::IO() {
    return *io_;
}

void FakeControl::Output(const std::string& command) {
    record("Output " + command);
    lastCommand_ = command;
}

std::string FakeControl::nextReply(const char* kind) {
    record(std::string("Enter ") + kind);
    auto found = script_->replies.find(lastCommand_);
    if (found == script_->replies.end() || found->second.empty()) {
        throw CorvalenLib::IoError("time-out: no reply scripted for \"" + lastCommand_ + "\"");
    }
    std::deque<std::string>& answers = found->second;
    std::string reply = answers.front();
    if (script_->cycling.count(lastCommand_) != 0) {
        answers.pop_front();
        answers.push_back(reply);
    } else if (answers.size() > 1) {
        answers.pop_front();
    }
    return reply;
}

namespace {
template <typename Number>
Number parseNumber(const std::string& reply) {
    std::string_view text = reply;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    Number value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || ptr != text.data() + text.size() || text.empty()) {
        throw CorvalenLib::IoError("reply \"" + reply + "\" is not a number of the target's kind");
    }
    return value;
}
}  // namespace

void FakeControl::Enter(std::string& target) {
    target = nextReply("string");
}
void FakeControl::Enter(std::int32_t& target) {
    target = parseNumber<std::int32_t>(nextReply("int32"));
}
void FakeControl::Enter(double& target) {
    target = parseNumber<double>(nextReply("double"));
}
void FakeControl::Enter(CorvalenLib::PlainNumber& target) {
    target.value = parseNumber<double>(nextReply("number"));
}

void FakeControl::CloseIO() {
    record("CloseIO");
}

}  // namespace tq::testing
