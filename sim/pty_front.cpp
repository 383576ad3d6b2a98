// SPDX-License-Identifier: MIT
#include "pty_front.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace tq820sim {

PtyFront::~PtyFront() {
    master_.close();
    closeSlave();
}

// Keeps a slave descriptor open itself, so that the master never reports a
// hang-up while the client closes and reopens the device.
std::string PtyFront::open() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) failWithErrno("posix_openpt");
    if (grantpt(master) != 0 || unlockpt(master) != 0) failWithErrno("grantpt/unlockpt");
    const char* name = ptsname(master);
    if (name == nullptr) failWithErrno("ptsname");
    std::string path = name;
    slave_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) failWithErrno("open " + path);
    termios line{};
    if (tcgetattr(slave_, &line) == 0) {
        cfmakeraw(&line);
        tcsetattr(slave_, TCSANOW, &line);
    }
    setNonBlocking(master);
    master_.open(master, false, path);
    return path;
}

void PtyFront::collect(std::vector<pollfd>& fds) {
    if (master_.isOpen()) fds.push_back(master_.pollRequest());
}

void PtyFront::service(std::span<const pollfd> fds) {
    if (!fds.empty()) master_.service(fds[0].revents);
    if (!master_.isOpen()) closeSlave();
}

void PtyFront::closeSlave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
}

}  // namespace tq820sim
