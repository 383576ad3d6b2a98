// SPDX-License-Identifier: MIT
// The public Instrument: a session opened through the one resolution the
// program's control uses, with the control's error texts and trace.
#include <corvalen/corvalen.h>

#include "corvalenlib/core/alias_file.h"
#include "corvalenlib/core/trace.h"
#include "corvalenlib/transports/open.h"

namespace corvalen {

using CorvalenLib::IoLimits;
using CorvalenLib::Session;
using CorvalenLib::Trace;

struct Instrument::State {
    std::unique_ptr<Session> session;
    IoLimits limits;
    Trace trace{false, 2};
    Route route;
    std::string interfaceType;
    std::string name;      // as errors and the trace name it
    std::string outgoing;  // kept to reuse its memory from command to command

    // Raises the failure of operation with the resource in front, keeping
    // a time-out a TimeoutError.
    [[noreturn]] void fail(std::string_view operation, const IoError& error) const {
        CorvalenLib::raiseFailure(trace, name, operation, error);
    }

    template <typename Call>
    void guarded(std::string_view operation, Call&& call) {
        try {
            call(*session);
        } catch (const IoError& error) {
            fail(operation, error);
        }
    }

    void send(std::string_view bytes) {
        trace.bytes(name, "WRITE", bytes);
        guarded("write", [&](Session& opened) { opened.write(bytes); });
    }

    std::string receive() {
        std::string reply;
        guarded("read", [&](Session& opened) { opened.readReply(reply); });
        trace.bytes(name, "READ", reply);
        return reply;
    }
};

namespace {

std::string withoutLineEnd(std::string reply) {
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();
    return reply;
}

// "GPIB0::9::INSTR (alias bench) (board GPIB0 bound to ...)".
std::string nameOf(const std::string& requested, const CorvalenLib::Route& route) {
    std::string name = route.canonical.empty() ? requested : route.canonical;
    if (!route.alias.empty()) name += " (alias " + requested + ")";
    return name + route.boardNote();
}

}  // namespace

Instrument::Instrument() noexcept = default;
Instrument::Instrument(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
Instrument::~Instrument() { close(); }
Instrument::Instrument(Instrument&& other) noexcept = default;

Instrument& Instrument::operator=(Instrument&& other) noexcept {
    if (this != &other) {
        close();
        state_ = std::move(other.state_);
    }
    return *this;
}

Instrument::State* Instrument::stateOrThrow(std::string_view operation) const {
    if (!state_ || !state_->session) throw IoError(std::string(operation) + ": the instrument is not open");
    return state_.get();
}

Instrument open(const std::string& resource, const OpenOptions& options) {
    auto state = std::make_unique<Instrument::State>();
    state->limits.timeout = options.timeout;
    state->limits.connectTimeout = options.connectTimeout;
    const Trace fromEnvironment = Trace::fromEnvironment();
    state->trace = Trace(options.trace || fromEnvironment.on(), 2);
    std::vector<CorvalenLib::Alias> known;
    if (options.useAliases) known = CorvalenLib::loadAliases().aliases;
    CorvalenLib::Route route;
    // Resolving touches nothing outside: what fails there is the name.
    try {
        state->session = CorvalenLib::resolveSession(resource, known, state->limits, options.serial, route);
    } catch (const IoError& error) {
        state->name = nameOf(resource, route);
        state->trace.event(state->name, "ERROR", error.what());
        throw ResourceError(state->name + ": open: " + error.what());
    }
    try {
        state->session->open();
    } catch (const IoError& error) {
        state->name = nameOf(resource, route);
        state->fail("open", error);
    }
    state->name = nameOf(resource, route);
    state->route = Route{resource, route.canonical, route.alias, route.controller};
    state->interfaceType = CorvalenLib::interfaceTypeOf(CorvalenLib::parseResource(route.canonical));
    state->trace.event(state->name, "OPEN", state->session->interfaceType());
    return Instrument(std::move(state));
}

void Instrument::write(std::string_view command) {
    State& state = *stateOrThrow("write");
    state.outgoing.assign(command);
    state.outgoing += '\n';
    state.send(state.outgoing);
}

void Instrument::writeRaw(std::string_view bytes) { stateOrThrow("write")->send(bytes); }

std::string Instrument::read() { return withoutLineEnd(stateOrThrow("read")->receive()); }

std::string Instrument::readRaw() { return stateOrThrow("read")->receive(); }

std::string Instrument::query(std::string_view command) {
    write(command);
    return read();
}

void Instrument::clear() {
    State& state = *stateOrThrow("clear");
    state.guarded("clear", [](Session& opened) { opened.discardInput(); });
    state.trace.event(state.name, "CLEAR");
}

void Instrument::close() noexcept {
    if (!state_ || !state_->session) return;
    state_->session->close();
    state_->session.reset();
    state_->trace.event(state_->name, "CLOSE");
}

void Instrument::setTimeout(std::chrono::milliseconds timeout) {
    if (timeout.count() <= 0) throw IoError("setTimeout: the time-out must be at least 1 ms");
    State& state = *stateOrThrow("setTimeout");
    state.limits.timeout = timeout;
    if (state.session) state.session->setTimeout(timeout);
}

void Instrument::setTrace(bool on) {
    State& state = *stateOrThrow("setTrace");
    state.trace = Trace(on, 2);
}

std::chrono::milliseconds Instrument::timeout() const { return stateOrThrow("timeout")->limits.timeout; }

bool Instrument::isOpen() const noexcept { return state_ && state_->session; }

std::string Instrument::interfaceType() const { return stateOrThrow("interfaceType")->interfaceType; }

std::string Instrument::resourceName() const { return stateOrThrow("resourceName")->route.resource; }

Route Instrument::route() const { return stateOrThrow("route")->route; }

}  // namespace corvalen
