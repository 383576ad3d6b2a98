#include "corvalenlib/control.h"

namespace CorvalenLib {
namespace {
[[noreturn]] void notOpen(const std::string& what) {
    throw IoError(what + ": no I/O connection is open");
}
}  // namespace

Control::Control(QWidget* dialogParent) : dialogParent_(dialogParent) {}

void Control::SelectIODialog() {}

void Control::OpenIO(const std::string& resource) {
    throw IoError("OpenIO " + resource + ": no I/O session types are built yet");
}

IoObject& Control::IO() { notOpen("IO"); }
void Control::Output(const std::string&) { notOpen("Output"); }
void Control::Enter(std::string&) { notOpen("Enter"); }
void Control::Enter(std::int32_t&) { notOpen("Enter"); }
void Control::Enter(double&) { notOpen("Enter"); }
void Control::Enter(PlainNumber&) { notOpen("Enter"); }

}  // namespace CorvalenLib
