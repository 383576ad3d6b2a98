// The real instrument-I/O control. Placeholder until the I/O sessions land:
// it keeps an address and fails to open any connection with a clear error.
#pragma once

#include "io/corvalen.h"

class QWidget;

namespace CorvalenLib {

class Control final : public Corvalen {
public:
    explicit Control(QWidget* dialogParent = nullptr);

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
    void CloseIO() override {}

private:
    QWidget* dialogParent_;
    std::string address_;
};

}  // namespace CorvalenLib
