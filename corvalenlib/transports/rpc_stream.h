// SPDX-License-Identifier: MIT
// ONC RPC over a byte stream, without the I/O: calls framed as records,
// records reassembled from their fragments, and replies checked against the
// call they answer. Raises IoError for anything a peer may send wrongly; the
// VXI-11 session carries the bytes.
#pragma once

#include <rpc/xdr.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "corvalenlib/core/errors.h"

namespace CorvalenLib::rpc {

struct CallHeader {
    std::uint32_t xid = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
};

// A call on a stream is one record, its length marked in front; a
// datagram carries the bare message.
enum class Framing { Record, Datagram };

// Appends one call (header with no credentials, then the arguments that
// encode writes into an XDR stream) to out, on a stream as a single last
// fragment. bodyLimit bounds the arguments' encoded size.
template <typename Encode>
void appendCall(std::string& out, const CallHeader& header, std::size_t bodyLimit, Encode&& encode,
                Framing framing = Framing::Record);

// The bytes of one record, collected from as many fragments as the peer
// splits it into. Memory stays bounded: a record (and so each fragment) may
// be at most maxRecord bytes.
class RecordAssembler {
public:
    explicit RecordAssembler(std::size_t maxRecord) : maxRecord_(maxRecord) {}

    // Takes bytes of the stream up to the end of the current record and
    // says how many it took; the rest belong to the next record.
    std::size_t feed(std::string_view bytes);
    [[nodiscard]] bool complete() const { return complete_; }
    [[nodiscard]] const std::string& record() const { return record_; }
    // Forgets the complete record and starts on the next one.
    void next();
    // Back to the start of a record, as on a new connection.
    void reset();

private:
    void startFragment();

    std::size_t maxRecord_;
    std::string record_;
    unsigned char header_[4]{};
    std::size_t headerHave_ = 0;
    std::size_t fragmentLeft_ = 0;
    std::size_t fragments_ = 0;
    bool inFragment_ = false;
    bool lastFragment_ = false;
    bool complete_ = false;
};

// The results of the call xid, from one reply record: empty when the record
// answers some other call (a late answer to a call given up on). Raises
// IoError when the record is no reply, or when the server refused the call
// or could not carry it out, naming why.
[[nodiscard]] std::optional<std::string_view> acceptedResults(std::string_view record,
                                                              std::uint32_t xid);

// Decodes results with an rpcgen routine; raises IoError naming what when
// they do not decode or leave bytes over. Only for types that decode without
// allocating (no variable-length fields).
template <typename T>
void decodeResults(std::string_view results, bool_t (*decode)(XDR*, T*), T& value,
                   std::string_view what);

// --- implementation of the templates ---

namespace detail {
constexpr std::size_t kCallHeaderSize = 40;  // xid .. verifier, no credentials
void putHeader(char* at, const CallHeader& header);
void putRecordMark(char* at, std::size_t length);
[[noreturn]] void failEncoding();
[[noreturn]] void failDecoding(std::string_view what);
}  // namespace detail

template <typename Encode>
void appendCall(std::string& out, const CallHeader& header, std::size_t bodyLimit, Encode&& encode,
                Framing framing) {
    const std::size_t start = out.size();
    const std::size_t mark = framing == Framing::Record ? 4 : 0;
    out.resize(start + mark + detail::kCallHeaderSize + bodyLimit);
    detail::putHeader(out.data() + start + mark, header);
    char* const body = out.data() + start + mark + detail::kCallHeaderSize;
    XDR stream;
    xdrmem_create(&stream, body, static_cast<u_int>(bodyLimit), XDR_ENCODE);
    const bool encoded = encode(&stream);
    const std::size_t bodySize = xdr_getpos(&stream);
    xdr_destroy(&stream);
    if (!encoded) {
        out.resize(start);
        detail::failEncoding();
    }
    out.resize(start + mark + detail::kCallHeaderSize + bodySize);
    if (mark != 0) detail::putRecordMark(out.data() + start, detail::kCallHeaderSize + bodySize);
}

template <typename T>
void decodeResults(std::string_view results, bool_t (*decode)(XDR*, T*), T& value,
                   std::string_view what) {
    XDR stream;
    // A decoding stream only reads from its buffer.
    xdrmem_create(&stream, const_cast<char*>(results.data()), static_cast<u_int>(results.size()),
                  XDR_DECODE);
    const bool decoded = decode(&stream, &value) != 0 && xdr_getpos(&stream) == results.size();
    xdr_destroy(&stream);
    if (!decoded) detail::failDecoding(what);
}

}  // namespace CorvalenLib::rpc
