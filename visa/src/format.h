// SPDX-License-Identifier: MIT
// The formatted I/O of viPrintf and viScanf, apart from sessions and from
// va_list, so that it can be tested and fuzzed on its own. Conversions:
// %d %i %u %o %x %X %f %F %e %E %g %G %c %s %% with flags, width and
// precision (also as *), the h, l, ll and L modifiers; for reading also
// %t and %T (the rest of the reply), * to skip a field and # for a buffer
// size given beside the buffer. VISA's array, block and 488.2 number
// conversions (%b %B %y %, %z %Z %@ %[ ...) are VI_ERROR_NSUP_FMT; what is
// no conversion at all is VI_ERROR_INV_FMT. Numbers are written and read
// in the "C" locale whatever the program's.
#pragma once

#include <visa.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace corvalen::visa::format {

enum class Length { Default, Short, Long, LongLong, LongDouble };

// The arguments of a printf-style call, in order.
class Arguments {
public:
    virtual ~Arguments() = default;
    virtual long long integer(Length length) = 0;
    virtual unsigned long long unsignedInteger(Length length) = 0;
    virtual double real(Length length) = 0;
    virtual const char* text() = 0;
    virtual int number() = 0;  // a width or precision given as *
};

// The pointers of a scanf-style call, in order.
class Targets {
public:
    virtual ~Targets() = default;
    virtual void* pointer() = 0;
    virtual ViInt32* size() = 0;  // the array size of a # conversion, read and written
};

// Appends what format makes of arguments to out; VI_ERROR_ALLOC when it
// would grow past limit bytes.
ViStatus formatOutput(std::string_view format, Arguments& arguments, std::string& out,
                      std::size_t limit = 16 * 1024 * 1024);

// Reads the conversions of format from input into targets; consumed is
// how much of input was used. A field that does not match ends the reading
// with VI_SUCCESS, leaving the targets after it alone, as C's scanf does.
ViStatus scanInput(std::string_view format, std::string_view input, Targets& targets, std::size_t& consumed);

}  // namespace corvalen::visa::format
