// Pure text steps shared by the request and response parsers and the settings: trimming,
// case-insensitive comparison and leading decimal numbers. Free functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rw::proxy {

// Blank, tab, line feed, carriage return, vertical tab or form feed.
bool IsSpace(char c);

// The text without leading and trailing white space.
std::string Trim(std::string_view text);

// The leading decimal integer with optional sign after leading white space; 0 when there is
// none. Values beyond 32 bits saturate rather than wrap.
int32_t LeadingInteger(std::string_view text);

}  // namespace rw::proxy
