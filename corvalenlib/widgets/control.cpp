// SPDX-License-Identifier: MIT
#include "corvalenlib/widgets/control.h"

#include <iostream>

#include "corvalenlib/core/alias_file.h"
#include "corvalenlib/transports/open.h"
#include "corvalenlib/core/errors.h"
#include "corvalenlib/core/scpi_number.h"
#include "corvalenlib/widgets/select_io_dialog.h"

namespace CorvalenLib {
namespace {

constexpr std::size_t kShownReply = 80;

std::string quotedReply(std::string_view reply) {
    const bool cut = reply.size() > kShownReply;
    return "\"" + escapeBytes(reply.substr(0, kShownReply)) + (cut ? "...\"" : "\"");
}

// "GPIB0::9::INSTR (alias bench) (board GPIB0 bound to ...)", as errors and the trace name it.
std::string nameOf(const std::string& resource, const Route& route) {
    std::string name = route.canonical;
    if (!route.alias.empty()) name += " (alias " + resource + ")";
    return name + route.boardNote();
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
    raiseFailure(trace_, where, operation, error);
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
    // Read at every open, so that a binding saved in the dialog holds from
    // the next open on; its problems show where the operator started us.
    const auto loaded = loadAliases();
    for (const auto& problem : loaded.problems) std::cerr << "corvalen-io: " << problem << '\n';
    Route route;
    try {
        session_ = CorvalenLib::openSession(resource, loaded.aliases, limits_, serial_, route);
    } catch (const IoError& error) {
        fail(route.canonical.empty() ? resource : nameOf(resource, route), "OpenIO", error);
    }
    name_ = nameOf(resource, route);
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
