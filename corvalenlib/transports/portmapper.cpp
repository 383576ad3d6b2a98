// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/portmapper.h"

#include <algorithm>
#include <iterator>

#include "corvalenlib/transports/rpc_stream.h"
#include "vxi11/vxi11.h"

namespace CorvalenLib::portmapper {
namespace {

constexpr u_int kProtocolTcp = 6;

}  // namespace

bool encodeGetportArguments(XDR* stream) {
    u_int words[4] = {DEVICE_CORE, DEVICE_CORE_VERSION, kProtocolTcp, 0};
    return std::all_of(std::begin(words), std::end(words), [&](u_int& word) { return xdr_u_int(stream, &word) != 0; });
}

std::uint32_t decodeGetportResults(std::string_view results) {
    u_int port = 0;
    rpc::decodeResults(results, xdr_u_int, port, "the portmapper's GETPORT");
    return port;
}

}  // namespace CorvalenLib::portmapper
