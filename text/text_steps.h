// Pure text steps shared by the capture, the engine's request and response parsing and the
// settings: white space, tokens and leading numbers. Free functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rw::text {

// Blank, tab, line feed, carriage return, vertical tab or form feed.
bool IsSpace(char c);

// The text without leading and trailing white space.
std::string Trim(std::string_view text);

// The text without leading and trailing blanks and tabs: the white space HTTP allows around a
// header field's value and between the parts of a field.
std::string_view TrimBlanks(std::string_view text);

// Maximal runs of non-separator characters; the walk stops at the first NUL or line feed.
std::vector<std::string> Tokenise(std::string_view text, std::string_view separators);

// 0 to 15 for a hexadecimal digit of either case, -1 for any other character.
int HexDigitValue(char c);

// The leading decimal number as the C library's atoi reads it (white space, then an optional
// sign, then digits; 0 when there are none), saturating at plus or minus 2^40 instead of
// overflowing: far beyond any port, status code or size these texts give.
int64_t LeadingDecimal(std::string_view text);

// LeadingDecimal limited to 32 bits: values beyond saturate rather than wrap.
int32_t LeadingInteger(std::string_view text);

// Whether `word` reads as a request method: capital letters, "-" and "_", at most 32 of them.
// Bytes a tunnel carries on with after its first exchange are no request.
bool IsMethod(std::string_view word);

}  // namespace rw::text
