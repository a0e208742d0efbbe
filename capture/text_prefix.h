// Which leading bytes of a relayed chunk count as text and are captured. Pure functions, any
// thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rw::capture {

// The start of a UTF-8 sequence cut off by the end of one chunk, kept per direction so that the
// next chunk of that direction can complete it.
struct Utf8Carry {
  std::array<unsigned char, 3> bytes{};
  uint8_t size = 0;
};

// Index of the first byte that ends captured text under every rule here (0x00-0x08), or
// bytes.size(): the text of a read never runs past it, whatever came before.
size_t TextEndUnderEveryRule(std::string_view bytes);

// The plain rule: index of the first byte valued 0-8 or 0x81-0x9F, or `count` when there is none.
int32_t TextPrefixLength(const char* data, int32_t count);

// The rule capture uses: as TextPrefixLength, except that bytes 0x80-0x9F inside a well-formed
// UTF-8 sequence are text, so ordinary UTF-8 pages (’ – € ß, Cyrillic) are not cut at their
// first such character. Never shorter than TextPrefixLength. A sequence cut by the chunk's end
// counts as text and is left in `carry`; a sequence that `carry` holds from the previous chunk is
// completed by the first bytes of this one. `carry` is updated for the next chunk.
int32_t Utf8TextPrefixLength(const char* data, int32_t count, Utf8Carry& carry);

}  // namespace rw::capture
