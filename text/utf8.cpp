#include "text/utf8.h"

namespace rw::text {
namespace {

// What a lead byte starts: the sequence's length and the range its second byte must fall in,
// which rules out overlong forms (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
struct LeadRule {
  size_t length = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
};

LeadRule RuleForLead(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {2};
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return {3, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
            static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return {4, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
            static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
  }
  return {};
}

}  // namespace

size_t Utf8MultiByteLength(unsigned char lead) {
  return RuleForLead(lead).length;
}

size_t Utf8SequenceLength(const unsigned char* b, size_t available) {
  if (available == 0) {
    return 0;
  }
  if (b[0] < 0x80) {
    return 1;
  }
  const LeadRule rule = RuleForLead(b[0]);
  if (rule.length == 0 || available < rule.length) {
    return 0;
  }
  if (b[1] < rule.secondLow || b[1] > rule.secondHigh) {
    return 0;
  }
  for (size_t i = 2; i < rule.length; ++i) {
    if (b[i] < 0x80 || b[i] > 0xBF) {
      return 0;
    }
  }
  return rule.length;
}

int DecodeUtf8(std::string_view text, char32_t& codePoint) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t length = Utf8SequenceLength(bytes, text.size());
  if (length == 0) {
    return 0;
  }
  // The lead keeps 7, 5, 4 or 3 bits for sequences of 1 to 4 bytes; each continuation adds 6.
  char32_t value = length == 1 ? bytes[0] : bytes[0] & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    value = (value << 6) | (bytes[i] & 0x3F);
  }
  codePoint = value;
  return static_cast<int>(length);
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

}  // namespace rw::text
