// SPDX-License-Identifier: MIT
// Finding VXI-11 instruments on the LAN the way their own tools do: one
// portmapper GETPORT call for the VXI-11 core channel, broadcast over UDP to
// port 111 of every IPv4 interface that can broadcast. Whoever answers with a
// port serves VXI-11.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CorvalenLib {

// An interface that can broadcast, with its own and its broadcast address.
struct BroadcastInterface {
    std::string name;
    std::string address;    // dotted quad
    std::string broadcast;  // dotted quad
};

// Every IPv4 interface that is up and has a broadcast address; loopback and
// point-to-point links have none and are left out.
[[nodiscard]] std::vector<BroadcastInterface> broadcastInterfaces();

// The RPC call PMAPPROC_GETPORT(VXI-11 core, version 1, TCP) with xid.
[[nodiscard]] std::string encodeGetportCall(std::uint32_t xid);

// The port in a reply to that call, or nullopt for anything else: another
// xid, a refusal, a truncated or malformed datagram, port 0 (not served).
[[nodiscard]] std::optional<std::uint16_t> decodeGetportReply(std::string_view datagram, std::uint32_t xid);

struct Responder {
    std::string address;  // dotted quad the reply came from
};

// Broadcasts the call on every interface and reports each responder once, as
// soon as it answers, for window or until cancelled. Returns a note when the
// search could not be made (no socket, no broadcast-capable interface).
std::string broadcastGetport(std::chrono::milliseconds window, const std::atomic<bool>& cancelled,
                             const std::function<void(const Responder&)>& found);

}  // namespace CorvalenLib
