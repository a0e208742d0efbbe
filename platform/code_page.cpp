#include "platform/code_page.h"

namespace rw::platform {

size_t Utf8SequenceLength(const unsigned char* b, size_t available) {
  if (available == 0) {
    return 0;
  }
  const unsigned char lead = b[0];
  if (lead < 0x80) {
    return 1;
  }
  size_t length = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) {
      lo = 0xA0;  // no overlong forms
    } else if (lead == 0xED) {
      hi = 0x9F;  // no surrogates
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) {
      lo = 0x90;
    } else if (lead == 0xF4) {
      hi = 0x8F;  // nothing above U+10FFFF
    }
  } else {
    return 0;
  }
  if (available < length) {
    return 0;
  }
  if (b[1] < lo || b[1] > hi) {
    return 0;
  }
  for (size_t i = 2; i < length; ++i) {
    if (b[i] < 0x80 || b[i] > 0xBF) {
      return 0;
    }
  }
  return length;
}

std::string RoundTripCodePage(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t n = Utf8SequenceLength(p + i, bytes.size() - i);
    if (n == 0) {
      out.push_back('?');
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace rw::platform
