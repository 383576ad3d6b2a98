// SPDX-License-Identifier: MIT
// --announce: the simulator makes itself known by DNS-SD over mDNS through
// the Avahi daemon, as LAN instruments do: "_vxi-11._tcp" for its portmapper
// and "_scpi-raw._tcp" for its raw TCP port, each under a host name of its
// own that resolves to the address it serves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tq820sim {

struct Announcement {
    std::string type;  // "_vxi-11._tcp", "_scpi-raw._tcp"
    std::string host;  // IPv4 address served
    std::uint16_t port = 0;
};

class Announcer {
public:
    // Publishes from a thread of Avahi's own; without a daemon it says so on
    // standard error and the simulator serves on unannounced.
    explicit Announcer(std::vector<Announcement> services);
    ~Announcer();
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace tq820sim
