// SPDX-License-Identifier: MIT
// The real instrument-I/O control: GPIB through linux-gpib, serial lines and
// raw TCP sockets, addressed by VISA resource strings.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "corvalenlib/core/errors.h"
#include "corvalenlib/transports/session.h"
#include "corvalenlib/core/trace.h"
#include "io/corvalen.h"

class QWidget;

namespace CorvalenLib {

class Control final : public Corvalen {
public:
    explicit Control(QWidget* dialogParent = nullptr);
    ~Control() override;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    void SelectIODialog() override;
    [[nodiscard]] std::string address() const override { return address_; }
    void setAddress(const std::string& resource) override { address_ = resource; }
    void OpenIO(const std::string& resource) override;
    IoObject& IO() override;
    void Output(const std::string& command) override;
    void Enter(std::string& target) override;
    void Enter(std::int32_t& target) override;
    void Enter(double& target) override;
    void Enter(PlainNumber& target) override;
    void CloseIO() override;

    // Settings beyond the program's interface, as a VISA session has them.
    // Both apply from the next OpenIO; the time-out also to the open session.
    void setTimeout(std::chrono::milliseconds timeout);
    [[nodiscard]] std::chrono::milliseconds timeout() const { return limits_.timeout; }
    void setSerialSettings(const SerialSettings& settings) { serial_ = settings; }
    // The window the selection dialog stands over; it may come into being
    // after the control does.
    void setDialogParent(QWidget* parent) { dialogParent_ = parent; }
    [[nodiscard]] const SerialSettings& serialSettings() const { return serial_; }
    // The canonical name of the open resource; empty when nothing is open.
    [[nodiscard]] const std::string& openResource() const { return name_; }

private:
    class SessionIo final : public IoObject {
    public:
        explicit SessionIo(Control& control) : control_(control) {}
        [[nodiscard]] std::string InterfaceType() const override;
        void PostResetCall() override;

    private:
        Control& control_;
    };

    Session& openSession(std::string_view operation);
    [[noreturn]] void fail(std::string_view where, std::string_view operation, const IoError& error) const;
    template <typename Call>
    void guarded(std::string_view operation, Call&& call);
    void readReply(std::string& reply);
    double readNumber(std::string_view what);

    QWidget* dialogParent_;
    std::string address_;
    SerialSettings serial_;
    IoLimits limits_;
    Trace trace_;
    std::unique_ptr<Session> session_;
    std::string name_;
    SessionIo io_{*this};
    std::string outgoing_;  // kept to reuse its memory from command to command
    std::string scratch_;
};

}  // namespace CorvalenLib
