// SPDX-License-Identifier: MIT
#include "corvalenlib/discovery/identify.h"

#include <functional>

#include "corvalenlib/core/alias_file.h"
#include "corvalenlib/transports/open.h"
#include "corvalenlib/core/errors.h"

namespace CorvalenLib {
namespace {

using Clock = std::chrono::steady_clock;

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Runs one step; on failure returns the error with the step in front.
template <typename Step>
bool step(Identity& identity, const char* what, Step&& call) {
    try {
        call();
        return true;
    } catch (const TimeoutError& error) {
        identity.timedOut = true;
        identity.text = std::string(what) + ": " + error.what();
    } catch (const IoError& error) {
        identity.text = std::string(what) + ": " + error.what();
    }
    return false;
}

// Opens what make gives, asks "*IDN?" and closes again.
Identity ask(const std::function<std::unique_ptr<Session>(Identity&)>& make) {
    const auto start = Clock::now();
    Identity identity;
    std::unique_ptr<Session> session;
    std::string reply;
    const bool done = step(identity, "open", [&] {
        session = make(identity);
        session->open();
    }) && step(identity, "*IDN?", [&] {
        session->write("*IDN?\n");
        session->readReply(reply);
    });
    if (session) session->close();
    if (done) {
        identity.answered = true;
        identity.text = withoutLineEnd(std::move(reply));
    }
    identity.took = since(start);
    return identity;
}

}  // namespace

Identity identifyResolved(const Resource& resource, const IoLimits& limits, const SerialSettings& serial) {
    return ask([&](Identity&) { return makeSession(resource, limits, serial); });
}

// The same steps as the control's OpenIO; the aliases file's problems are
// the control's to report, at Run.
Identity identify(const std::string& resource, const IoLimits& limits, const SerialSettings& serial) {
    return identifyWith(resource, loadAliases().aliases, limits, serial);
}

Identity identifyWith(const std::string& resource, const std::vector<Alias>& aliases, const IoLimits& limits,
                      const SerialSettings& serial) {
    return ask([&](Identity& identity) {
        Route route;
        auto session = resolveSession(resource, aliases, limits, serial, route);
        if (!route.alias.empty()) identity.route = " (alias of " + route.alias + ")";
        identity.route += route.boardNote();
        return session;
    });
}

std::optional<std::string> prologixVersionAt(const std::string& path, std::chrono::milliseconds timeout) {
    IoLimits limits;
    limits.timeout = timeout;
    limits.connectTimeout = timeout;
    limits.maxReply = 256;
    // A USB controller ignores the line settings; 115200 8N1 suits the rest.
    SerialSettings settings;
    settings.baudRate = 115200;
    Identity identity;
    std::unique_ptr<Session> session;
    std::string reply;
    const bool answered = step(identity, "open", [&] {
        session = makeSession(SerialAddress{path, std::nullopt}, limits, settings);
        session->open();
    }) && step(identity, "++ver", [&] {
        session->write("++ver\n");
        session->readReply(reply);
    });
    if (session) session->close();
    reply = withoutLineEnd(std::move(reply));
    if (!answered || reply.find("Prologix") == std::string::npos) return std::nullopt;
    return reply;
}

}  // namespace CorvalenLib
