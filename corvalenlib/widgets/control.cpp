// SPDX-License-Identifier: MIT
#include "corvalenlib/control.h"

#include <iostream>

#include "corvalenlib/alias_file.h"
#include "corvalenlib/board_binding.h"
#include "corvalenlib/errors.h"
#include "corvalenlib/scpi_number.h"
#include "corvalenlib/select_io_dialog.h"

namespace CorvalenLib {
namespace {

constexpr std::size_t kShownReply = 80;

std::string quotedReply(std::string_view reply) {
    const bool cut = reply.size() > kShownReply;
    return "\"" + escapeBytes(reply.substr(0, kShownReply)) + (cut ? "...\"" : "\"");
}

}  // namespace

Control::Control(QWidget* dialogParent) : dialogParent_(dialogParent), trace_(Trace::fromEnvironment()) {}

Control::~Control() { CloseIO(); }

void Control::SelectIODialog() {
    CorvalenLib::SelectIoDialog dialog(dialogParent_);
    dialog.setResourceText(address_);
    dialog.setSerialSettings(serial_);
    dialog.setProbeLimits(limits_);  // Identify is bounded as Run would be
    if (dialog.exec() == QDialog::Accepted) {
        address_ = dialog.resourceText();
        serial_ = dialog.serialSettings();
    }
}

void Control::fail(std::string_view where, std::string_view operation, const IoError& error) const {
    const std::string text = std::string(where) + ": " + std::string(operation) + ": " + error.what();
    if (dynamic_cast<const TimeoutError*>(&error) != nullptr) {
        trace_.event(where, "TIMEOUT", text);
        throw TimeoutError(text);
    }
    trace_.event(where, "ERROR", text);
    throw IoError(text);
}

template <typename Call>
void Control::guarded(std::string_view operation, Call&& call) {
    try {
        call();
    } catch (const IoError& error) {
        fail(name_, operation, error);
    }
}

Session& Control::openSession(std::string_view operation) {
    if (!session_) throw IoError(std::string(operation) + ": no I/O connection is open");
    return *session_;
}

void Control::OpenIO(const std::string& resource) {
    CloseIO();
    std::string target = resource;
    try {
        // Read at every open, so that a binding saved in the dialog holds
        // from the next open on. A resource alias wins over a board binding.
        const auto aliases = loadAliases(std::cerr);
        if (const Alias* alias = findAlias(aliases, resource)) target = alias->resource;
        const Resource parsed = parseResource(target);
        name_ = canonicalName(parsed);
        if (target != resource) name_ += " (alias " + resource + ")";
        std::string bound;
        auto session = makeBoundSession(parsed, aliases, limits_, serial_, bound);
        name_ += bound;
        session->open();
        session_ = std::move(session);
    } catch (const IoError& error) {
        const std::string where = name_.empty() ? resource : name_;
        name_.clear();
        fail(where, "OpenIO", error);
    }
    trace_.event(name_, "OPEN", session_->interfaceType());
}

IoObject& Control::IO() {
    openSession("IO");
    return io_;
}

std::string Control::SessionIo::InterfaceType() const {
    return control_.openSession("InterfaceType").interfaceType();
}

void Control::SessionIo::PostResetCall() {
    Session& session = control_.openSession("PostResetCall");
    control_.guarded("PostResetCall", [&] { session.discardInput(); });
    control_.trace_.event(control_.name_, "CLEAR");
}

void Control::Output(const std::string& command) {
    Session& session = openSession("Output");
    outgoing_.assign(command);
    outgoing_ += '\n';
    trace_.bytes(name_, "OUTPUT", outgoing_);
    guarded("Output", [&] { session.write(outgoing_); });
}

void Control::readReply(std::string& reply) {
    Session& session = openSession("Enter");
    guarded("Enter", [&] { session.readReply(reply); });
    trace_.bytes(name_, "ENTER", reply);
}

void Control::Enter(std::string& target) { readReply(target); }

double Control::readNumber(std::string_view what) {
    readReply(scratch_);
    const auto value = parseScpiNumber(scratch_);
    if (!value) fail(name_, "Enter", IoError("reply " + quotedReply(scratch_) + " is not " + std::string(what)));
    return *value;
}

void Control::Enter(std::int32_t& target) {
    const double value = readNumber("a number");
    const auto whole = toInt32(value);
    if (!whole) fail(name_, "Enter", IoError("reply " + quotedReply(scratch_) + " is outside the 32-bit integer range"));
    target = *whole;
}

void Control::Enter(double& target) { target = readNumber("a number"); }

void Control::Enter(PlainNumber& target) { target.value = readNumber("a number"); }

void Control::CloseIO() {
    if (!session_) return;
    session_->close();
    session_.reset();
    trace_.event(name_, "CLOSE");
    name_.clear();
}

void Control::setTimeout(std::chrono::milliseconds timeout) {
    limits_.timeout = timeout;
    if (session_) session_->setTimeout(timeout);
}

}  // namespace CorvalenLib
