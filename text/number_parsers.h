// Numbers read from header values, status lines, settings and the command line. Free functions;
// any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace rw::text {

// 0 to 15 for a hexadecimal digit of either case, -1 for any other character.
int HexDigitValue(char c);

// The leading decimal number as the C library's atoi reads it (white space, then an optional
// sign, then digits; 0 when there are none), saturating at plus or minus 2^40 instead of
// overflowing: far beyond any port, status code or size these texts give.
int64_t LeadingDecimal(std::string_view text);

// LeadingDecimal limited to 32 bits: values beyond saturate rather than wrap.
int32_t LeadingInteger(std::string_view text);

// Decimal digits and nothing else, at least one, at most 2^63 - 1; nullopt otherwise.
std::optional<int64_t> DecimalDigits(std::string_view text);

// A Content-Length value: DecimalDigits between optional blanks, tabs and line ends; -1 for
// anything else (no digits, a sign, other text, or more than fits in 63 bits).
int64_t ParseContentLengthValue(std::string_view value);

// The status code the engine reads from a response's first line: the number after the first
// space that follows "HTTP/" (any case), read as LeadingDecimal; 0 without either or beyond 32
// bits.
int32_t StatusCodeOfLine(std::string_view firstLine);

// A status code as captured text shows it: exactly three digits; nullopt for anything else (a
// status line cut short).
std::optional<int> ThreeDigitStatus(std::string_view code);

}  // namespace rw::text
