#include "proxy/text_steps.h"

#include <algorithm>
#include <limits>

namespace rw::proxy {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) {
    ++begin;
  }
  while (end > begin && IsSpace(text[end - 1])) {
    --end;
  }
  return std::string(text.substr(begin, end - begin));
}

int32_t LeadingInteger(std::string_view text) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    // One past the largest value is the magnitude of the smallest: stop growing there.
    value = std::min(value * 10 + (text[i] - '0'), kMax + 1);
    ++i;
  }
  if (negative) {
    value = -value;
  }
  return static_cast<int32_t>(std::min(value, kMax));
}

}  // namespace rw::proxy
