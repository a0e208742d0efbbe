#include "text/chunk_decoder.h"

#include "text/number_parsers.h"

namespace rw::text {
namespace {

constexpr uint64_t kMaxChunkSize = uint64_t{1} << 60;

}  // namespace

ChunkStep NextChunk(std::string_view bytes) {
  ChunkStep step;
  size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x01 &&
         static_cast<unsigned char>(bytes[i]) <= 0x20) {
    ++i;
  }
  if (i == bytes.size() || bytes[i] == '\0') {
    return step;
  }
  uint64_t size = 0;
  size_t digits = 0;
  for (; i < bytes.size() && HexDigitValue(bytes[i]) >= 0; ++i, ++digits) {
    const auto digit = static_cast<uint64_t>(HexDigitValue(bytes[i]));
    // Checked before multiplying: 2^60 times 16 wraps to 0, and a long size would then read as
    // a small one.
    if (size > (kMaxChunkSize - digit) / 16) {
      step.outcome = ChunkOutcome::kMalformed;
      return step;
    }
    size = size * 16 + digit;
  }
  if (digits == 0) {
    step.outcome = ChunkOutcome::kMalformed;
    return step;
  }
  size_t lineFeed = bytes.find('\n', i);
  if (lineFeed == std::string_view::npos) {
    return step;
  }
  i = lineFeed + 1;
  if (size == 0) {
    // Trailer lines up to the blank line all belong to the last chunk; waiting for that blank
    // line keeps a late CR LF from being taken as the start of the next response.
    for (;;) {
      size_t end = bytes.find('\n', i);
      if (end == std::string_view::npos) {
        return step;
      }
      std::string_view line = bytes.substr(i, end - i);
      i = end + 1;
      if (line.empty() || line == "\r") {
        break;
      }
    }
    step.outcome = ChunkOutcome::kLast;
    step.headerLength = i;
    return step;
  }
  if (bytes.size() - i < size) {
    return step;
  }
  step.outcome = ChunkOutcome::kData;
  step.size = size;
  step.headerLength = i;
  return step;
}

}  // namespace rw::text
