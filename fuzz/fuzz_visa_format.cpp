// SPDX-License-Identifier: MIT
// The VISA formatted-I/O engine: a printf format with arguments the fuzzer
// picks (null strings and wild widths among them), and a scanf format over
// input it picks, into buffers as large as that input. Nothing may write
// outside them, grow past its limit or return a status the API does not give.
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "visa/src/format.h"

namespace {

using corvalen::visa::format::Length;

class FuzzArguments final : public corvalen::visa::format::Arguments {
public:
    explicit FuzzArguments(tq::fuzz::InputReader& input) : input_(input) {}
    long long integer(Length) override { return static_cast<long long>(input_.word()) - 32768; }
    unsigned long long unsignedInteger(Length) override { return input_.word() * 65537ULL; }
    double real(Length) override {
        const auto bits = input_.word();
        return bits == 0xFFFF ? 1e308 : (static_cast<double>(bits) - 30000.0) / 7.0;
    }
    const char* text() override { return input_.byte() % 8 == 0 ? nullptr : "text"; }
    int number() override { return static_cast<int>(input_.word()) - 1000; }

private:
    tq::fuzz::InputReader& input_;
};

class FuzzTargets final : public corvalen::visa::format::Targets {
public:
    FuzzTargets(tq::fuzz::InputReader& input, std::size_t capacity)
        : input_(input), storage_(capacity + 64) {}
    void* pointer() override { return input_.byte() % 16 == 0 ? nullptr : storage_.data(); }
    ViInt32* size() override {
        size_ = static_cast<ViInt32>(input_.word() % (storage_.size() + 1));
        return &size_;
    }

private:
    tq::fuzz::InputReader& input_;
    std::vector<long double> storage_;  // aligned for every target type
    ViInt32 size_ = 0;
};

bool isApiStatus(ViStatus status) {
    return status == VI_SUCCESS || status == VI_ERROR_INV_FMT || status == VI_ERROR_NSUP_FMT ||
           status == VI_ERROR_ALLOC || status == VI_ERROR_USER_BUF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tq::fuzz::InputReader input(data, size);
    const std::string writeFormat(input.textUntil('\0'));
    const std::string readFormat(input.textUntil('\0'));
    const std::string text(input.textUntil('\0'));

    constexpr std::size_t kLimit = 64 * 1024;
    FuzzArguments arguments(input);
    std::string out;
    const ViStatus printed = corvalen::visa::format::formatOutput(writeFormat, arguments, out, kLimit);
    TQ_FUZZ_CHECK(isApiStatus(printed));
    // One conversion may pass the limit by at most a field's width and a double's digits.
    TQ_FUZZ_CHECK(out.size() <= kLimit + 2 * 65536 + 400 + writeFormat.size());

    FuzzTargets targets(input, text.size());
    std::size_t consumed = 0;
    const ViStatus scanned = corvalen::visa::format::scanInput(readFormat, text, targets, consumed);
    TQ_FUZZ_CHECK(isApiStatus(scanned) && scanned != VI_ERROR_ALLOC);
    TQ_FUZZ_CHECK(consumed <= text.size());
    return 0;
}
