// SPDX-License-Identifier: MIT
#include "corvalenlib/discovery/mdns_browse.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <algorithm>
#include <memory>

namespace CorvalenLib {
namespace {

constexpr std::chrono::milliseconds kPollSlice{50};

struct Browse {
    AvahiClient* client = nullptr;
    const std::function<void(const MdnsService&)>* found = nullptr;
};

void resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
              const char* name, const char* type, const char*, const char*, const AvahiAddress* address,
              uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* context) {
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr && address->proto == AVAHI_PROTO_INET) {
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, address);
        (*static_cast<Browse*>(context)->found)(MdnsService{type, name, text, port});
    }
    avahi_service_resolver_free(resolver);
}

void browsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
             const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* context) {
    if (event != AVAHI_BROWSER_NEW) return;
    auto* browse = static_cast<Browse*>(context);
    // The resolver frees itself in its callback; the client frees the ones
    // still pending when the browse ends.
    avahi_service_resolver_new(browse->client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                               static_cast<AvahiLookupFlags>(0), resolved, context);
}

void clientState(AvahiClient*, AvahiClientState, void*) {}

}  // namespace

std::string browseMdns(std::chrono::milliseconds window, const std::atomic<bool>& cancelled,
                       const std::function<void(const MdnsService&)>& found) {
    std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(avahi_simple_poll_new(),
                                                                              avahi_simple_poll_free);
    if (!poll) return "mDNS: out of memory";
    int error = 0;
    Browse browse;
    browse.found = &found;
    std::unique_ptr<AvahiClient, decltype(&avahi_client_free)> client(
        avahi_client_new(avahi_simple_poll_get(poll.get()), static_cast<AvahiClientFlags>(0), clientState, nullptr,
                         &error),
        avahi_client_free);
    if (!client) return std::string("mDNS: not searched, no Avahi daemon (") + avahi_strerror(error) + ")";
    browse.client = client.get();
    for (const char* type : kInstrumentServiceTypes) {
        avahi_service_browser_new(client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type, nullptr,
                                  static_cast<AvahiLookupFlags>(0), browsed, &browse);
    }
    const auto deadline = std::chrono::steady_clock::now() + window;
    while (!cancelled.load()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (avahi_simple_poll_iterate(poll.get(), static_cast<int>(std::min(left, kPollSlice).count())) != 0) break;
    }
    return {};
}

}  // namespace CorvalenLib
