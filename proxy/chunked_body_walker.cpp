#include "proxy/chunked_body_walker.h"

#include <algorithm>
#include <limits>

#include "text/number_parsers.h"

namespace rw::proxy {

using text::HexDigitValue;

void ChunkedBodyWalker::Start() {
  step = Step::kSize;
  remaining = 0;
  sizeDigits = false;
  trailerLineText = false;
}

void ChunkedBodyWalker::StartAfterData() {
  Start();
  step = Step::kDataEnd;
}

void ChunkedBodyWalker::SkipData(uint64_t count) {
  if (step != Step::kData) {
    return;
  }
  remaining -= std::min(count, remaining);
  if (remaining == 0) {
    step = Step::kDataEnd;
  }
}

bool ChunkedBodyWalker::TakeSizeDigit(char c) {
  const int digit = HexDigitValue(c);
  if (digit < 0) {
    // Not a chunk size: from here nothing is known of the framing.
    step = sizeDigits ? Step::kExtension : Step::kUnreadable;  // looked at again there
    return false;
  }
  if (remaining > (std::numeric_limits<uint64_t>::max() >> 4)) {
    step = Step::kUnreadable;  // a size no body could have
    return false;
  }
  remaining = remaining * 16 + static_cast<uint64_t>(digit);
  sizeDigits = true;
  return true;
}

void ChunkedBodyWalker::TakeTrailerByte(char c) {
  if (c == '\n') {
    if (!trailerLineText) {
      step = Step::kDone;
    }
    trailerLineText = false;
  } else if (c != '\r') {
    trailerLineText = true;
  }
}

size_t ChunkedBodyWalker::Take(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && step != Step::kDone) {
    const char c = bytes[i];
    switch (step) {
      case Step::kSize:
        if (TakeSizeDigit(c)) {
          ++i;
        }
        break;
      case Step::kExtension:
        ++i;
        if (c == '\n') {
          sizeDigits = false;
          trailerLineText = false;
          step = remaining == 0 ? Step::kTrailer : Step::kData;
        }
        break;
      case Step::kData: {
        const size_t taken = static_cast<size_t>(std::min<uint64_t>(remaining, bytes.size() - i));
        i += taken;
        SkipData(taken);
        break;
      }
      case Step::kDataEnd:
        if (c == '\n') {
          step = Step::kSize;
        } else if (c != '\r') {
          step = Step::kUnreadable;
          break;
        }
        ++i;
        break;
      case Step::kTrailer:
        ++i;
        TakeTrailerByte(c);
        break;
      case Step::kUnreadable:
        return bytes.size();
      case Step::kDone:
        break;
    }
  }
  return i;
}

}  // namespace rw::proxy
