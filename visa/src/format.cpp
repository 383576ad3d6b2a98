// SPDX-License-Identifier: MIT
#include "format.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

namespace corvalen::visa::format {
namespace {

constexpr int kMaxField = 65535;  // widths and precisions beyond are refused
constexpr std::size_t kMaxNumberText = 512;

enum class Direction { Out, In };

struct Spec {
    std::string flags;  // of output: - + space # 0
    int width = -1;
    bool widthStar = false;
    int precision = -1;
    bool precisionStar = false;
    bool suppress = false;  // of input: *
    bool sized = false;     // of input: #, a size argument beside the buffer
    Length length = Length::Default;
    char conversion = 0;
};

// Numbers in the "C" locale for as long as it lives, on this thread only.
class ClassicLocale {
public:
    ClassicLocale() {
        static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        if (classic != static_cast<locale_t>(nullptr)) previous_ = uselocale(classic);
    }
    ~ClassicLocale() {
        if (previous_ != static_cast<locale_t>(nullptr)) uselocale(previous_);
    }
    ClassicLocale(const ClassicLocale&) = delete;
    ClassicLocale& operator=(const ClassicLocale&) = delete;

private:
    locale_t previous_ = static_cast<locale_t>(nullptr);
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isInteger(char c) { return std::strchr("diuoxX", c) != nullptr; }
bool isReal(char c) { return std::strchr("fFeEgG", c) != nullptr; }

// Reads digits at format[at]; false when the number exceeds kMaxField.
bool readNumber(std::string_view format, std::size_t& at, int& value) {
    value = 0;
    while (at < format.size() && isDigit(format[at])) {
        value = value * 10 + (format[at++] - '0');
        if (value > kMaxField) return false;
    }
    return true;
}

// VISA's own conversions and modifiers this library does not build.
bool notBuilt(char c) { return c != '\0' && std::strchr("bBy[,@!zZ", c) != nullptr; }

ViStatus checkConversion(const Spec& spec, Direction direction) {
    const char c = spec.conversion;
    if (notBuilt(c)) return VI_ERROR_NSUP_FMT;
    if (isInteger(c)) return spec.length == Length::LongDouble ? VI_ERROR_INV_FMT : VI_SUCCESS;
    if (isReal(c)) return spec.length == Length::Short || spec.length == Length::LongLong ? VI_ERROR_INV_FMT : VI_SUCCESS;
    const bool text = c == 'c' || c == 's' || (direction == Direction::In && (c == 't' || c == 'T'));
    if (text) return spec.length == Length::Default ? VI_SUCCESS : VI_ERROR_NSUP_FMT;  // wide characters
    return VI_ERROR_INV_FMT;
}

// Parses the conversion that starts after the '%' at format[at - 1].
ViStatus parseSpec(std::string_view format, std::size_t& at, Direction direction, Spec& spec) {
    spec = Spec{};
    const auto more = [&]() -> ViStatus { return at < format.size(); };
    if (more() && format[at] == '%') {
        spec.conversion = format[at++];
        return VI_SUCCESS;
    }
    if (direction == Direction::Out) {
        while (more() && std::strchr("-+ #0", format[at]) != nullptr) spec.flags += format[at++];
    } else {
        while (more() && (format[at] == '*' || format[at] == '#')) {
            (format[at++] == '*' ? spec.suppress : spec.sized) = true;
        }
    }
    if (direction == Direction::Out && more() && format[at] == '*') {
        spec.widthStar = true;
        ++at;
    } else if (more() && isDigit(format[at])) {
        if (!readNumber(format, at, spec.width)) return VI_ERROR_INV_FMT;
    }
    if (more() && format[at] == '.') {
        if (direction == Direction::In) return VI_ERROR_INV_FMT;
        ++at;
        if (more() && format[at] == '*') {
            spec.precisionStar = true;
            ++at;
        } else if (!readNumber(format, at, spec.precision)) {
            return VI_ERROR_INV_FMT;
        } else if (spec.precision < 0) {
            spec.precision = 0;
        }
    }
    if (more() && notBuilt(format[at])) return VI_ERROR_NSUP_FMT;
    if (more() && format[at] == 'h') {
        spec.length = Length::Short;
        ++at;
    } else if (more() && format[at] == 'l') {
        ++at;
        spec.length = Length::Long;
        if (more() && format[at] == 'l') {
            spec.length = Length::LongLong;
            ++at;
        }
    } else if (more() && format[at] == 'L') {
        spec.length = Length::LongDouble;
        ++at;
    }
    if (!more()) return VI_ERROR_INV_FMT;
    spec.conversion = format[at++];
    return checkConversion(spec, direction);
}

// Every conversion of format, checked before anything is written or read.
ViStatus validate(std::string_view format, Direction direction) {
    for (std::size_t at = 0; at < format.size();) {
        if (format[at++] != '%') continue;
        Spec spec;
        if (ViStatus status = parseSpec(format, at, direction, spec); status != VI_SUCCESS) return status;
    }
    return VI_SUCCESS;
}

template <class T>
void appendPrintf(std::string& out, const std::string& spec, T value) {
    char small[128];
    const int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n <= 0) return;
    const auto size = static_cast<std::size_t>(n);
    if (size < sizeof small) {
        out.append(small, size);
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + size + 1);
    std::snprintf(out.data() + at, size + 1, spec.c_str(), value);
    out.resize(at + size);
}

long long narrowSigned(long long value, Length length) {
    switch (length) {
        case Length::Short: return static_cast<short>(value);
        case Length::Default: return static_cast<int>(value);
        case Length::Long: return static_cast<long>(value);
        default: return value;
    }
}

unsigned long long narrowUnsigned(unsigned long long value, Length length) {
    switch (length) {
        case Length::Short: return static_cast<unsigned short>(value);
        case Length::Default: return static_cast<unsigned int>(value);
        case Length::Long: return static_cast<unsigned long>(value);
        default: return value;
    }
}

ViStatus formatOne(Spec spec, Arguments& arguments, std::string& out) {
    if (spec.conversion == '%') {
        out += '%';
        return VI_SUCCESS;
    }
    if (spec.widthStar) {
        const int width = arguments.number();
        if (width < -kMaxField || width > kMaxField) return VI_ERROR_INV_FMT;
        if (width < 0) spec.flags += '-';
        spec.width = width < 0 ? -width : width;
    }
    if (spec.precisionStar) {
        const int precision = arguments.number();
        if (precision > kMaxField) return VI_ERROR_INV_FMT;
        spec.precision = precision;  // negative: as if not given
    }
    std::string c = "%" + spec.flags;
    if (spec.width >= 0) c += std::to_string(spec.width);
    if (spec.precision >= 0) c += "." + std::to_string(spec.precision);
    const char conversion = spec.conversion;
    if (conversion == 'd' || conversion == 'i') {
        appendPrintf(out, c + "ll" + conversion, narrowSigned(arguments.integer(spec.length), spec.length));
    } else if (isInteger(conversion)) {
        appendPrintf(out, c + "ll" + conversion, narrowUnsigned(arguments.unsignedInteger(spec.length), spec.length));
    } else if (isReal(conversion)) {
        appendPrintf(out, c + conversion, arguments.real(spec.length));
    } else if (conversion == 'c') {
        appendPrintf(out, c + 'c', static_cast<int>(static_cast<unsigned char>(arguments.integer(Length::Default))));
    } else {
        const char* text = arguments.text();
        if (text == nullptr) return VI_ERROR_USER_BUF;
        appendPrintf(out, c + 's', text);
    }
    return VI_SUCCESS;
}

// Input ---------------------------------------------------------------------

class Reader {
public:
    explicit Reader(std::string_view input) : input_(input) {}
    void skipSpace() {
        while (at_ < input_.size() && isSpace(input_[at_])) ++at_;
    }
    [[nodiscard]] std::string_view rest() const { return input_.substr(at_); }
    // The next field: at most width characters (all when width is 0).
    [[nodiscard]] std::string_view field(int width) const {
        return width > 0 ? rest().substr(0, static_cast<std::size_t>(width)) : rest();
    }
    void advance(std::size_t n) { at_ += n; }
    [[nodiscard]] std::size_t position() const { return at_; }
    bool take(char c) {
        if (at_ >= input_.size() || input_[at_] != c) return false;
        ++at_;
        return true;
    }

private:
    std::string_view input_;
    std::size_t at_ = 0;
};

template <class T>
void store(void* target, T value) {
    std::memcpy(target, &value, sizeof value);
}

template <class Wide, class Narrow>
Narrow clamp(Wide value) {
    if (value < static_cast<Wide>(std::numeric_limits<Narrow>::min())) return std::numeric_limits<Narrow>::min();
    if (value > static_cast<Wide>(std::numeric_limits<Narrow>::max())) return std::numeric_limits<Narrow>::max();
    return static_cast<Narrow>(value);
}

enum class Outcome { Stored, NoMatch, Failed };

struct Step {
    Outcome outcome;
    ViStatus status = VI_SUCCESS;
};

int baseOf(char conversion) {
    switch (conversion) {
        case 'i': return 0;
        case 'o': return 8;
        case 'x':
        case 'X': return 16;
        default: return 10;
    }
}

Step scanInteger(const Spec& spec, Reader& reader, Targets& targets) {
    reader.skipSpace();
    const std::string text(reader.field(spec.width).substr(0, kMaxNumberText));
    char* end = nullptr;
    errno = 0;
    const bool isSigned = spec.conversion == 'd' || spec.conversion == 'i';
    const long long asSigned = isSigned ? std::strtoll(text.c_str(), &end, baseOf(spec.conversion)) : 0;
    const unsigned long long asUnsigned = isSigned ? 0 : std::strtoull(text.c_str(), &end, baseOf(spec.conversion));
    if (end == text.c_str()) return {Outcome::NoMatch};
    reader.advance(static_cast<std::size_t>(end - text.c_str()));
    if (spec.suppress) return {Outcome::Stored};
    void* target = targets.pointer();
    if (target == nullptr) return {Outcome::Failed, VI_ERROR_USER_BUF};
    switch (spec.length) {
        case Length::Short:
            isSigned ? store(target, clamp<long long, short>(asSigned))
                     : store(target, clamp<unsigned long long, unsigned short>(asUnsigned));
            break;
        case Length::Long:
            isSigned ? store(target, static_cast<long>(asSigned)) : store(target, static_cast<unsigned long>(asUnsigned));
            break;
        case Length::LongLong: isSigned ? store(target, asSigned) : store(target, asUnsigned); break;
        default:
            isSigned ? store(target, clamp<long long, int>(asSigned))
                     : store(target, clamp<unsigned long long, unsigned int>(asUnsigned));
            break;
    }
    return {Outcome::Stored};
}

Step scanReal(const Spec& spec, Reader& reader, Targets& targets) {
    reader.skipSpace();
    const std::string text(reader.field(spec.width).substr(0, kMaxNumberText));
    char* end = nullptr;
    const long double value = std::strtold(text.c_str(), &end);
    if (end == text.c_str()) return {Outcome::NoMatch};
    reader.advance(static_cast<std::size_t>(end - text.c_str()));
    if (spec.suppress) return {Outcome::Stored};
    void* target = targets.pointer();
    if (target == nullptr) return {Outcome::Failed, VI_ERROR_USER_BUF};
    if (spec.length == Length::Long) store(target, static_cast<double>(value));
    else if (spec.length == Length::LongDouble) store(target, value);
    else store(target, static_cast<float>(value));
    return {Outcome::Stored};
}

// %c, %s, %t and %T: characters into a buffer; all but %c end it with NUL.
Step scanText(const Spec& spec, Reader& reader, Targets& targets) {
    std::string_view text;
    const char c = spec.conversion;
    if (c == 'c') {
        text = reader.rest().substr(0, spec.width > 0 ? static_cast<std::size_t>(spec.width) : 1);
    } else if (c == 's') {
        reader.skipSpace();
        text = reader.field(spec.width);
        std::size_t n = 0;
        while (n < text.size() && !isSpace(text[n])) ++n;
        text = text.substr(0, n);
    } else {
        text = reader.field(spec.width);
    }
    if (text.empty() && c != 't' && c != 'T') return {Outcome::NoMatch};
    reader.advance(text.size());
    if (spec.suppress) return {Outcome::Stored};
    std::size_t capacity = std::numeric_limits<std::size_t>::max();
    ViInt32* size = nullptr;
    if (spec.sized) {
        size = targets.size();
        if (size == nullptr || *size <= 0) return {Outcome::Failed, VI_ERROR_USER_BUF};
        capacity = static_cast<std::size_t>(*size) - (c == 'c' ? 0 : 1);
    }
    auto* target = static_cast<char*>(targets.pointer());
    if (target == nullptr) return {Outcome::Failed, VI_ERROR_USER_BUF};
    const std::size_t n = std::min(text.size(), capacity);
    std::memcpy(target, text.data(), n);
    if (c != 'c') target[n] = '\0';
    if (size != nullptr) *size = static_cast<ViInt32>(n);
    return {Outcome::Stored};
}

Step scanOne(const Spec& spec, Reader& reader, Targets& targets) {
    if (spec.conversion == '%') {
        reader.skipSpace();
        return {reader.take('%') ? Outcome::Stored : Outcome::NoMatch};
    }
    if (isInteger(spec.conversion)) return scanInteger(spec, reader, targets);
    if (isReal(spec.conversion)) return scanReal(spec, reader, targets);
    return scanText(spec, reader, targets);
}

}  // namespace

ViStatus formatOutput(std::string_view format, Arguments& arguments, std::string& out, std::size_t limit) {
    if (ViStatus status = validate(format, Direction::Out); status != VI_SUCCESS) return status;
    ClassicLocale classic;
    for (std::size_t at = 0; at < format.size();) {
        if (out.size() > limit) return VI_ERROR_ALLOC;
        const std::size_t next = format.find('%', at);
        out.append(format.substr(at, next - at));
        if (next == std::string_view::npos) break;
        at = next + 1;
        Spec spec;
        (void)parseSpec(format, at, Direction::Out, spec);
        if (ViStatus status = formatOne(spec, arguments, out); status != VI_SUCCESS) return status;
    }
    return out.size() > limit ? VI_ERROR_ALLOC : VI_SUCCESS;
}

ViStatus scanInput(std::string_view format, std::string_view input, Targets& targets, std::size_t& consumed) {
    consumed = 0;
    if (ViStatus status = validate(format, Direction::In); status != VI_SUCCESS) return status;
    ClassicLocale classic;
    Reader reader(input);
    for (std::size_t at = 0; at < format.size();) {
        const char c = format[at];
        if (isSpace(c)) {
            while (at < format.size() && isSpace(format[at])) ++at;
            reader.skipSpace();
            continue;
        }
        ++at;
        if (c != '%') {
            if (!reader.take(c)) break;
            continue;
        }
        Spec spec;
        (void)parseSpec(format, at, Direction::In, spec);
        const Step step = scanOne(spec, reader, targets);
        if (step.outcome == Outcome::Failed) return step.status;
        if (step.outcome == Outcome::NoMatch) break;
    }
    consumed = reader.position();
    return VI_SUCCESS;
}

}  // namespace corvalen::visa::format
