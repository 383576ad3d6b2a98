// SPDX-License-Identifier: MIT
// What every fuzz target shares: a check that stops the run with a message
// when an invariant breaks, and a reader that takes typed values off the
// front of the fuzzer's input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Not assert(): it must hold in every build type, and say which invariant broke.
#define TQ_FUZZ_CHECK(condition)                                                          \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__,   \
                         #condition);                                                     \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)

namespace tq::fuzz {

// Takes bytes off the front of the input; past its end every value is 0 and
// every text empty, so a short input still makes a whole script.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    [[nodiscard]] bool empty() const { return rest_.empty(); }
    [[nodiscard]] std::size_t size() const { return rest_.size(); }

    std::uint8_t byte() {
        if (rest_.empty()) return 0;
        const auto value = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return value;
    }

    std::uint16_t word() {
        const auto high = byte();
        return static_cast<std::uint16_t>((high << 8U) | byte());
    }

    // Up to length bytes.
    std::string_view text(std::size_t length) {
        const auto taken = rest_.substr(0, length);
        rest_.remove_prefix(taken.size());
        return taken;
    }

    // Everything up to the next separator byte (which is dropped), or the rest.
    std::string_view textUntil(char separator) {
        const auto end = rest_.find(separator);
        const auto taken = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return taken;
    }

    std::string_view rest() {
        const auto taken = rest_;
        rest_ = {};
        return taken;
    }

private:
    std::string_view rest_;
};

}  // namespace tq::fuzz
