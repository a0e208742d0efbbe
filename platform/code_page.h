// The system's 8-bit code page is UTF-8 here. Text stays in std::string; this turns it into what a
// round trip through UTF-16 gives back, so the pages never receive malformed sequences.
#pragma once

#include <string>
#include <string_view>

namespace rw::platform {

// Copies well-formed UTF-8 sequences unchanged and replaces each byte that does not start one
// (a stray continuation byte, an overlong form, a surrogate, a truncated sequence) with "?".
std::string RoundTripCodePage(std::string_view bytes);

// Length of the well-formed UTF-8 sequence starting at bytes[0], or 0 when there is none.
// `available` may be shorter than the sequence; then 0 is returned too.
size_t Utf8SequenceLength(const unsigned char* bytes, size_t available);

}  // namespace rw::platform
