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

struct Directive {
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

ViStatus checkConversion(const Directive& directive, Direction direction) {
    const char c = directive.conversion;
    if (notBuilt(c)) return VI_ERROR_NSUP_FMT;
    if (isInteger(c)) return directive.length == Length::LongDouble ? VI_ERROR_INV_FMT : VI_SUCCESS;
    if (isReal(c)) return directive.length == Length::Short || directive.length == Length::LongLong ? VI_ERROR_INV_FMT : VI_SUCCESS;
    const bool text = c == 'c' || c == 's' || (direction == Direction::In && (c == 't' || c == 'T'));
    if (text) return directive.length == Length::Default ? VI_SUCCESS : VI_ERROR_NSUP_FMT;  // wide characters
    return VI_ERROR_INV_FMT;
}

// Parses the conversion that starts after the '%' at format[at - 1].
ViStatus parseSpec(std::string_view format, std::size_t& at, Direction direction, Directive& directive) {
    directive = Directive{};
    const auto more = [&]() -> ViStatus { return at < format.size(); };
    if (more() && format[at] == '%') {
        directive.conversion = format[at++];
        return VI_SUCCESS;
    }
    if (direction == Direction::Out) {
        while (more() && std::strchr("-+ #0", format[at]) != nullptr) directive.flags += format[at++];
    } else {
        while (more() && (format[at] == '*' || format[at] == '#')) {
            (format[at++] == '*' ? directive.suppress : directive.sized) = true;
        }
    }
    if (direction == Direction::Out && more() && format[at] == '*') {
        directive.widthStar = true;
        ++at;
    } else if (more() && isDigit(format[at])) {
        if (!readNumber(format, at, directive.width)) return VI_ERROR_INV_FMT;
    }
    if (more() && format[at] == '.') {
        if (direction == Direction::In) return VI_ERROR_INV_FMT;
        ++at;
        if (more() && format[at] == '*') {
            directive.precisionStar = true;
            ++at;
        } else if (!readNumber(format, at, directive.precision)) {
            return VI_ERROR_INV_FMT;
        } else if (directive.precision < 0) {
            directive.precision = 0;
        }
    }
    if (more() && notBuilt(format[at])) return VI_ERROR_NSUP_FMT;
    if (more() && format[at] == 'h') {
        directive.length = Length::Short;
        ++at;
    } else if (more() && format[at] == 'l') {
        ++at;
        directive.length = Length::Long;
        if (more() && format[at] == 'l') {
            directive.length = Length::LongLong;
            ++at;
        }
    } else if (more() && format[at] == 'L') {
        directive.length = Length::LongDouble;
        ++at;
    }
    if (!more()) return VI_ERROR_INV_FMT;
    directive.conversion = format[at++];
    return checkConversion(directive, direction);
}

// Every conversion of format, checked before anything is written or read.
ViStatus validate(std::string_view format, Direction direction) {
    for (std::size_t at = 0; at < format.size();) {
        if (format[at++] != '%') continue;
        Directive directive;
        if (ViStatus status = parseSpec(format, at, direction, directive); status != VI_SUCCESS) return status;
    }
    return VI_SUCCESS;
}

template <class T>
void appendPrintf(std::string& out, const std::string& directive, T value) {
    char small[128];
    const int n = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (n <= 0) return;
    const auto size = static_cast<std::size_t>(n);
    if (size < sizeof small) {
        out.append(small, size);
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + size + 1);
    std::snprintf(out.data() + at, size + 1, directive.c_str(), value);
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

ViStatus formatOne(Directive directive, Arguments& arguments, std::string& out) {
    if (directive.conversion == '%') {
        out += '%';
        return VI_SUCCESS;
    }
    if (directive.widthStar) {
        const int width = arguments.number();
        if (width < -kMaxField || width > kMaxField) return VI_ERROR_INV_FMT;
        if (width < 0) directive.flags += '-';
        directive.width = width < 0 ? -width : width;
    }
    if (directive.precisionStar) {
        const int precision = arguments.number();
        if (precision > kMaxField) return VI_ERROR_INV_FMT;
        directive.precision = precision;  // negative: as if not given
    }
    std::string c = "%" + directive.flags;
    if (directive.width >= 0) c += std::to_string(directive.width);
    if (directive.precision >= 0) c += "." + std::to_string(directive.precision);
    const char conversion = directive.conversion;
    if (conversion == 'd' || conversion == 'i') {
        appendPrintf(out, c + "ll" + conversion, narrowSigned(arguments.integer(directive.length), directive.length));
    } else if (isInteger(conversion)) {
        appendPrintf(out, c + "ll" + conversion, narrowUnsigned(arguments.unsignedInteger(directive.length), directive.length));
    } else if (isReal(conversion)) {
        appendPrintf(out, c + conversion, arguments.real(directive.length));
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

Step scanInteger(const Directive& directive, Reader& reader, Targets& targets) {
    reader.skipSpace();
    const std::string text(reader.field(directive.width).substr(0, kMaxNumberText));
    char* end = nullptr;
    errno = 0;
    const bool isSigned = directive.conversion == 'd' || directive.conversion == 'i';
    const long long asSigned = isSigned ? std::strtoll(text.c_str(), &end, baseOf(directive.conversion)) : 0;
    const unsigned long long asUnsigned = isSigned ? 0 : std::strtoull(text.c_str(), &end, baseOf(directive.conversion));
    if (end == text.c_str()) return {Outcome::NoMatch};
    reader.advance(static_cast<std::size_t>(end - text.c_str()));
    if (directive.suppress) return {Outcome::Stored};
    void* target = targets.pointer();
    if (target == nullptr) return {Outcome::Failed, VI_ERROR_USER_BUF};
    switch (directive.length) {
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

Step scanReal(const Directive& directive, Reader& reader, Targets& targets) {
    reader.skipSpace();
    const std::string text(reader.field(directive.width).substr(0, kMaxNumberText));
    char* end = nullptr;
    const long double value = std::strtold(text.c_str(), &end);
    if (end == text.c_str()) return {Outcome::NoMatch};
    reader.advance(static_cast<std::size_t>(end - text.c_str()));
    if (directive.suppress) return {Outcome::Stored};
    void* target = targets.pointer();
    if (target == nullptr) return {Outcome::Failed, VI_ERROR_USER_BUF};
    if (directive.length == Length::Long) store(target, static_cast<double>(value));
    else if (directive.length == Length::LongDouble) store(target, value);
    else store(target, static_cast<float>(value));
    return {Outcome::Stored};
}

// %c, %s, %t and %T: characters into a buffer; all but %c end it with NUL.
Step scanText(const Directive& directive, Reader& reader, Targets& targets) {
    std::string_view text;
    const char c = directive.conversion;
    if (c == 'c') {
        text = reader.rest().substr(0, directive.width > 0 ? static_cast<std::size_t>(directive.width) : 1);
    } else if (c == 's') {
        reader.skipSpace();
        text = reader.field(directive.width);
        std::size_t n = 0;
        while (n < text.size() && !isSpace(text[n])) ++n;
        text = text.substr(0, n);
    } else {
        text = reader.field(directive.width);
    }
    if (text.empty() && c != 't' && c != 'T') return {Outcome::NoMatch};
    reader.advance(text.size());
    if (directive.suppress) return {Outcome::Stored};
    std::size_t capacity = std::numeric_limits<std::size_t>::max();
    ViInt32* size = nullptr;
    if (directive.sized) {
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

Step scanOne(const Directive& directive, Reader& reader, Targets& targets) {
    if (directive.conversion == '%') {
        reader.skipSpace();
        return {reader.take('%') ? Outcome::Stored : Outcome::NoMatch};
    }
    if (isInteger(directive.conversion)) return scanInteger(directive, reader, targets);
    if (isReal(directive.conversion)) return scanReal(directive, reader, targets);
    return scanText(directive, reader, targets);
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
        Directive directive;
        (void)parseSpec(format, at, Direction::Out, directive);
        if (ViStatus status = formatOne(directive, arguments, out); status != VI_SUCCESS) return status;
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
        Directive directive;
        (void)parseSpec(format, at, Direction::In, directive);
        const Step step = scanOne(directive, reader, targets);
        if (step.outcome == Outcome::Failed) return step.status;
        if (step.outcome == Outcome::NoMatch) break;
    }
    consumed = reader.position();
    return VI_SUCCESS;
}

}  // namespace corvalen::visa::format
