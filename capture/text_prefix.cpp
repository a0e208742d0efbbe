#include "capture/text_prefix.h"

#include <algorithm>
#include <cstring>

#include "text/utf8.h"

namespace rw::capture {
namespace {

// Skips whole 8-byte words of bytes 9-0x7F (text under both rules, and never part of a UTF-8
// sequence); the byte loops then handle the rest. A chunk of page text is mostly such words.
size_t SkipAsciiText(const unsigned char* bytes, size_t from, size_t size) {
  constexpr uint64_t kNines = 0x0909090909090909ULL;
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  while (size - from >= 8) {
    uint64_t word;
    std::memcpy(&word, bytes + from, sizeof word);
    // A byte below 9 borrows into its high bit; a byte from 0x80 has it already.
    if (((word - kNines) | word) & kHighBits) {
      break;
    }
    from += 8;
  }
  return from;
}

bool EndsEveryText(unsigned char b) {
  return b <= 8;
}

bool IsPlainStop(unsigned char b) {
  return EndsEveryText(b) || (b >= 0x81 && b <= 0x9F);
}

// True when bytes[0..size) begin a well-formed sequence that needs more bytes than `size`.
bool IsIncompleteSequence(const unsigned char* bytes, size_t size) {
  const size_t expected = size > 0 ? text::Utf8MultiByteLength(bytes[0]) : 0;
  if (expected == 0 || size >= expected) {
    return false;
  }
  // Pad with the smallest continuation the lead allows; the second byte's range depends on the
  // lead (E0 needs A0-BF, ED and F4 need 80-9F/80-8F), and 0x80 or 0xA0 fits every case.
  for (const unsigned char second :
       {static_cast<unsigned char>(0x80), static_cast<unsigned char>(0xA0)}) {
    std::array<unsigned char, 4> padded{};
    std::fill(padded.begin(), padded.end(), static_cast<unsigned char>(0x80));
    std::copy(bytes, bytes + size, padded.begin());
    if (size == 1) {
      padded[1] = second;
    }
    if (text::Utf8SequenceLength(padded.data(), expected) == expected) {
      return true;
    }
  }
  return false;
}

// Given the last bytes of what was judged text (at most the last 3 matter), the incomplete
// sequence at its end, if any.
Utf8Carry TrailingIncomplete(const unsigned char* tail, size_t size) {
  Utf8Carry carry;
  for (size_t k = 1; k <= std::min<size_t>(3, size); ++k) {
    const unsigned char b = tail[size - k];
    if (b >= 0x80 && b <= 0xBF) {
      continue;
    }
    if (IsIncompleteSequence(tail + size - k, k)) {
      std::copy(tail + size - k, tail + size, carry.bytes.begin());
      carry.size = static_cast<uint8_t>(k);
    }
    break;
  }
  return carry;
}

}  // namespace

size_t TextEndUnderEveryRule(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (EndsEveryText(static_cast<unsigned char>(bytes[i]))) {
      return i;
    }
  }
  return bytes.size();
}

int32_t TextPrefixLength(const char* data, int32_t count) {
  if (count < 1) {
    return 0;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  const auto size = static_cast<size_t>(count);
  for (size_t i = SkipAsciiText(bytes, 0, size); i < size; ++i) {
    if (IsPlainStop(bytes[i])) {
      return static_cast<int32_t>(i);
    }
  }
  return count;
}

int32_t Utf8TextPrefixLength(const char* data, int32_t count, Utf8Carry& carry) {
  if (count < 1) {
    return 0;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  const auto size = static_cast<size_t>(count);
  size_t i = 0;

  if (carry.size > 0) {
    // Join the carried start with this chunk's first bytes (at most 4 bytes in all).
    std::array<unsigned char, 4> joined{};
    const size_t expected = text::Utf8MultiByteLength(carry.bytes[0]);
    const size_t fromChunk = std::min(expected - carry.size, size);
    std::copy(carry.bytes.begin(), carry.bytes.begin() + carry.size, joined.begin());
    std::copy(bytes, bytes + fromChunk, joined.begin() + carry.size);
    const size_t joinedSize = carry.size + fromChunk;
    if (text::Utf8SequenceLength(joined.data(), joinedSize) == expected) {
      i = fromChunk;
    } else if (IsIncompleteSequence(joined.data(), joinedSize)) {
      // Still not complete: this whole (tiny) chunk continues the sequence.
      carry = TrailingIncomplete(joined.data(), joinedSize);
      return count;
    }
  }
  carry = Utf8Carry{};

  i = SkipAsciiText(bytes, i, size);
  while (i < size) {
    const unsigned char b = bytes[i];
    if (b >= 9 && b < 0x80) {
      i = SkipAsciiText(bytes, i + 1, size);
      continue;
    }
    if (IsPlainStop(b)) {
      return static_cast<int32_t>(i);
    }
    if (b >= 0xC2 && b <= 0xDF && i + 1 < size && bytes[i + 1] >= 0x80 && bytes[i + 1] <= 0xBF) {
      i += 2;  // two-byte letters (Latin, Greek, Cyrillic) are the common case
      continue;
    }
    if (b >= 0xC2 && b <= 0xF4) {
      const size_t n = text::Utf8SequenceLength(bytes + i, size - i);
      if (n > 0) {
        i += n;
        continue;
      }
      if (IsIncompleteSequence(bytes + i, size - i)) {
        carry = TrailingIncomplete(bytes + i, size - i);
        return count;
      }
    }
    ++i;
  }
  return count;
}

}  // namespace rw::capture
