// The one UTF-8 decoder: well-formed sequences (no overlong forms, surrogates or code points above
// U+10FFFF), and the round trip that gives text the pages can show. Captured bytes are read as
// UTF-8, the system's 8-bit code page here. Free functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rw::text {

// Length of the multi-byte sequence `lead` starts (2 to 4), or 0 for ASCII and for bytes that
// start none.
size_t Utf8MultiByteLength(unsigned char lead);

// Length of the well-formed UTF-8 sequence starting at bytes[0], or 0 when there is none.
// `available` may be shorter than the sequence; then 0 is returned too.
size_t Utf8SequenceLength(const unsigned char* bytes, size_t available);

// Length of the well-formed sequence at the start of `text` (1 to 4) with its code point in
// `codePoint`, or 0 when the bytes there do not form one.
int DecodeUtf8(std::string_view text, char32_t& codePoint);

// Copies well-formed UTF-8 sequences unchanged and replaces each byte that does not start one
// (a stray continuation byte, an overlong form, a surrogate, a truncated sequence) with "?".
std::string RoundTripCodePage(std::string_view bytes);

}  // namespace rw::text
