// SPDX-License-Identifier: MIT
#include "corvalenlib/transports/rpc_stream.h"

#include <algorithm>

#include "corvalenlib/transports/session.h"

namespace CorvalenLib::rpc {
namespace {

constexpr std::uint32_t kLastFragment = 0x80000000U;
constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kRpcVersion = 2;
constexpr std::uint32_t kMaxAuthBytes = 400;
// A record of empty fragments would otherwise cost time without end.
constexpr std::size_t kMaxFragments = 65536;

void putWord(char* at, std::uint32_t word) {
    at[0] = static_cast<char>(word >> 24);
    at[1] = static_cast<char>(word >> 16);
    at[2] = static_cast<char>(word >> 8);
    at[3] = static_cast<char>(word);
}

// Reads the 32-bit words of a reply in order; raises once it runs short.
class WordReader {
public:
    explicit WordReader(std::string_view bytes) : bytes_(bytes) {}

    std::uint32_t next() {
        if (bytes_.size() < 4)
            throw IoError("truncated RPC reply (" + std::to_string(bytes_.size()) + " bytes left)");
        const auto* b = reinterpret_cast<const unsigned char*>(bytes_.data());
        bytes_.remove_prefix(4);
        return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
               static_cast<std::uint32_t>(b[2]) << 8 | b[3];
    }

    void skipOpaque(std::uint32_t length) {
        const std::size_t padded = (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
        if (bytes_.size() < padded) throw IoError("truncated RPC reply (verifier cut short)");
        bytes_.remove_prefix(padded);
    }

    [[nodiscard]] std::string_view rest() const { return bytes_; }

private:
    std::string_view bytes_;
};

[[noreturn]] void failAccepted(std::uint32_t status, WordReader& words) {
    switch (status) {
        case 1:
            throw IoError("the server does not offer the program (PROG_UNAVAIL)");
        case 2: {
            const auto low = words.next();
            const auto high = words.next();
            throw IoError("the server offers only versions " + std::to_string(low) + " to " +
                          std::to_string(high) + " of the program (PROG_MISMATCH)");
        }
        case 3:
            throw IoError("the server does not offer the procedure (PROC_UNAVAIL)");
        case 4:
            throw IoError("the server could not decode the call's arguments (GARBAGE_ARGS)");
        case 5:
            throw IoError("the server failed with a system error (SYSTEM_ERR)");
        default:
            throw IoError("the server answered with unknown accept status " +
                          std::to_string(status));
    }
}

[[noreturn]] void failDenied(std::uint32_t status, WordReader& words) {
    if (status == 0) {
        const auto low = words.next();
        const auto high = words.next();
        throw IoError("the server refused the call: it speaks RPC versions " + std::to_string(low) +
                      " to " + std::to_string(high) + " (RPC_MISMATCH)");
    }
    if (status == 1) {
        throw IoError("the server refused the call's authentication (AUTH_ERROR " +
                      std::to_string(words.next()) + ")");
    }
    throw IoError("the server refused the call with unknown reject status " +
                  std::to_string(status));
}

}  // namespace

namespace detail {

void putHeader(char* at, const CallHeader& header) {
    const std::uint32_t words[10] = {
        header.xid, kCall, kRpcVersion, header.program, header.version, header.procedure, 0, 0,
        0,          0};  // AUTH_NONE credentials and verifier
    for (std::size_t i = 0; i < 10; ++i) putWord(at + 4 * i, words[i]);
}

void putRecordMark(char* at, std::size_t length) {
    putWord(at, kLastFragment | static_cast<std::uint32_t>(length));
}

void failEncoding() {
    throw IoError("cannot encode the RPC call's arguments");
}

void failDecoding(std::string_view what) {
    throw IoError("malformed results in the reply to " + std::string(what));
}

}  // namespace detail

std::size_t RecordAssembler::feed(std::string_view bytes) {
    std::size_t taken = 0;
    while (!complete_ && taken < bytes.size()) {
        if (!inFragment_) {
            // Byte by byte, bounded by the header's size in plain sight:
            // GCC 12 at -O3 cannot tell that headerHave_ stays below 4 and
            // reports a copy_n here as overflowing it.
            while (headerHave_ < sizeof header_ && taken < bytes.size()) {
                header_[headerHave_++] = static_cast<unsigned char>(bytes[taken++]);
            }
            if (headerHave_ == sizeof header_) startFragment();
            continue;
        }
        const std::size_t want = std::min(fragmentLeft_, bytes.size() - taken);
        record_.append(bytes.data() + taken, want);
        fragmentLeft_ -= want;
        taken += want;
        if (fragmentLeft_ == 0) {
            inFragment_ = false;
            complete_ = lastFragment_;
        }
    }
    return taken;
}

void RecordAssembler::startFragment() {
    const std::uint32_t mark = static_cast<std::uint32_t>(header_[0]) << 24 |
                               static_cast<std::uint32_t>(header_[1]) << 16 |
                               static_cast<std::uint32_t>(header_[2]) << 8 | header_[3];
    headerHave_ = 0;
    const std::size_t length = mark & ~kLastFragment;
    if (length > maxRecord_ - record_.size()) {
        throw IoError("RPC record longer than " + describeSize(maxRecord_) + " (a fragment of " +
                      std::to_string(length) + " bytes after " + std::to_string(record_.size()) +
                      ")");
    }
    if (++fragments_ > kMaxFragments) {
        throw IoError("RPC record split into more than " + std::to_string(kMaxFragments) +
                      " fragments");
    }
    lastFragment_ = (mark & kLastFragment) != 0;
    fragmentLeft_ = length;
    inFragment_ = length > 0;
    complete_ = !inFragment_ && lastFragment_;
}

void RecordAssembler::next() {
    record_.clear();
    fragments_ = 0;
    complete_ = false;
    lastFragment_ = false;
}

void RecordAssembler::reset() {
    next();
    headerHave_ = 0;
    fragmentLeft_ = 0;
    inFragment_ = false;
}

std::optional<std::string_view> acceptedResults(std::string_view record, std::uint32_t xid) {
    WordReader words(record);
    if (words.next() != xid) return std::nullopt;
    const auto type = words.next();
    if (type != kReply)
        throw IoError("RPC message of type " + std::to_string(type) + " where a reply belongs");
    const auto replyStatus = words.next();
    if (replyStatus == 1) failDenied(words.next(), words);
    if (replyStatus != 0)
        throw IoError("RPC reply with unknown reply status " + std::to_string(replyStatus));
    (void)words.next();  // the verifier's flavour: we sent none and check none
    const auto verifierLength = words.next();
    if (verifierLength > kMaxAuthBytes)
        throw IoError("RPC reply with a verifier of " + std::to_string(verifierLength) + " bytes");
    words.skipOpaque(verifierLength);
    const auto acceptStatus = words.next();
    if (acceptStatus != 0) failAccepted(acceptStatus, words);
    return words.rest();
}

}  // namespace CorvalenLib::rpc
