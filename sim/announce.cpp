// SPDX-License-Identifier: MIT
#include "announce.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

#include <cstdio>
#include <set>

namespace tq820sim {

struct Announcer::State {
    std::vector<Announcement> services;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
};

namespace {

// "10.231.0.1" -> "tq820-sim-10-231-0-1.local"
std::string hostNameFor(const std::string& address) {
    std::string name = "tq820-sim-" + address + ".local";
    for (char& c : name) {
        if (c == '.' && &c < &name[name.size() - 6]) c = '-';
    }
    return name;
}

bool ownAddress(const std::string& address, AvahiAddress& parsed) {
    in_addr ip{};
    if (inet_pton(AF_INET, address.c_str(), &ip) != 1) return false;
    if (ip.s_addr == htonl(INADDR_ANY) || (ntohl(ip.s_addr) >> 24) == 127) return false;
    parsed.proto = AVAHI_PROTO_INET;
    parsed.data.ipv4.address = ip.s_addr;
    return true;
}

void complain(const char* what, AvahiClient* client) {
    std::fprintf(stderr, "tq820-sim: --announce: %s: %s\n", what, avahi_strerror(avahi_client_errno(client)));
}

// Runs on Avahi's thread once the daemon is ready.
void publish(Announcer::State& state, AvahiClient* client) {
    if (state.group != nullptr) return;
    state.group = avahi_entry_group_new(client, nullptr, nullptr);
    if (state.group == nullptr) return complain("no entry group", client);
    std::set<std::string> named;
    for (const Announcement& service : state.services) {
        AvahiAddress address{};
        const bool own = ownAddress(service.host, address);
        const std::string host = own ? hostNameFor(service.host) : std::string();
        // The address record has no reverse entry: the daemon's own host
        // name keeps the address's PTR record.
        if (own && named.insert(host).second &&
            avahi_entry_group_add_address(state.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AVAHI_PUBLISH_NO_REVERSE,
                                          host.c_str(), &address) < 0) {
            complain("address record", client);
        }
        const std::string name = "TQ820A simulator at " + service.host;
        if (avahi_entry_group_add_service(state.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                          static_cast<AvahiPublishFlags>(0), name.c_str(), service.type.c_str(),
                                          nullptr, own ? host.c_str() : nullptr, service.port, nullptr) < 0) {
            complain(service.type.c_str(), client);
        }
    }
    if (avahi_entry_group_commit(state.group) < 0) complain("commit", client);
}

void clientChanged(AvahiClient* client, AvahiClientState change, void* context) {
    if (change == AVAHI_CLIENT_S_RUNNING) publish(*static_cast<Announcer::State*>(context), client);
}

}  // namespace

Announcer::Announcer(std::vector<Announcement> services) : state_(std::make_unique<State>()) {
    state_->services = std::move(services);
    state_->poll = avahi_threaded_poll_new();
    if (state_->poll == nullptr) return;
    int error = 0;
    // The callback may run before avahi_client_new returns: it takes the
    // client from its argument.
    state_->client = avahi_client_new(avahi_threaded_poll_get(state_->poll), static_cast<AvahiClientFlags>(0),
                                      clientChanged, state_.get(), &error);
    if (state_->client == nullptr) {
        std::fprintf(stderr, "tq820-sim: --announce: no Avahi daemon (%s); not announced\n", avahi_strerror(error));
        return;
    }
    avahi_threaded_poll_start(state_->poll);
}

Announcer::~Announcer() {
    if (state_->poll != nullptr) avahi_threaded_poll_stop(state_->poll);
    if (state_->client != nullptr) avahi_client_free(state_->client);  // frees the group too
    if (state_->poll != nullptr) avahi_threaded_poll_free(state_->poll);
}

}  // namespace tq820sim
