#include "text/number_parsers.h"

#include <algorithm>
#include <limits>

#include "text/case_blind.h"
#include "text/text_steps.h"

namespace rw::text {
namespace {

bool IsLineSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

int64_t LeadingDecimal(std::string_view text) {
  constexpr int64_t kCap = int64_t{1} << 40;
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
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), kCap);
  }
  return negative ? -value : value;
}

int32_t LeadingInteger(std::string_view text) {
  return static_cast<int32_t>(std::clamp<int64_t>(LeadingDecimal(text),
                                                  std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

std::optional<int64_t> DecimalDigits(std::string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    const int digit = c - '0';
    if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) {
      return std::nullopt;
    }
    value = value * 10 + digit;
  }
  return value;
}

int64_t ParseContentLengthValue(std::string_view value) {
  while (!value.empty() && IsLineSpace(value.front())) {
    value.remove_prefix(1);
  }
  while (!value.empty() && IsLineSpace(value.back())) {
    value.remove_suffix(1);
  }
  return DecimalDigits(value).value_or(-1);
}

int32_t StatusCodeOfLine(std::string_view firstLine) {
  const size_t http = FindIgnoringCase(firstLine, "http/");
  if (http == std::string_view::npos) {
    return 0;
  }
  const size_t space = firstLine.find(' ', http);
  if (space == std::string_view::npos) {
    return 0;
  }
  const int64_t code = LeadingDecimal(firstLine.substr(space + 1));
  if (code > std::numeric_limits<int32_t>::max() || code < std::numeric_limits<int32_t>::min()) {
    return 0;
  }
  return static_cast<int32_t>(code);
}

std::optional<int> ThreeDigitStatus(std::string_view code) {
  if (code.size() != 3) {
    return std::nullopt;
  }
  const std::optional<int64_t> value = DecimalDigits(code);
  if (!value) {
    return std::nullopt;
  }
  return static_cast<int>(*value);
}

}  // namespace rw::text
