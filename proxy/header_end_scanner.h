// Finds the end of an HTTP header in a byte buffer that grows between calls, scanning each byte
// once. Rule: a line feed adds one to a counter, a carriage return leaves it, any other byte
// zeroes it; the header ends at the byte where the counter passes 1. Header split uses the same
// rule, so the two always agree. Owned by one connection thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "proxy/byte_buffer.h"

namespace rw::proxy {

// Length of the header at the front of `bytes` (through its last line feed), or 0 if not ended.
size_t HeaderEndLength(std::string_view bytes);

inline bool HeaderEndFound(std::string_view bytes) {
  return HeaderEndLength(bytes) != 0;
}

class HeaderEndScanner {
 public:
  // True once `buffer` holds a header end. Scans only bytes not seen before, unless bytes were
  // consumed from the front since the last call, in which case it starts over.
  bool Found(const ByteBuffer& buffer);
  // After Found returned true: the header's length from the buffer's front, through its end.
  size_t Length() const { return scanned; }
  void Reset();

 private:
  uint64_t consumedMark = 0;
  size_t scanned = 0;
  int counter = 0;
  bool found = false;
};

}  // namespace rw::proxy
