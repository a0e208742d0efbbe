#include "capture/captured_message.h"

#include <cstdint>

#include "text/case_blind.h"
#include "text/number_parsers.h"
#include "text/text_steps.h"

namespace rw::capture {
namespace {

using text::EqualsIgnoringCase;
using text::HexDigitValue;
using text::TrimBlanks;

// Next line of `bytes` from `pos`, without its line end; false when no line end follows.
bool NextLine(std::string_view bytes, size_t& pos, std::string_view& line) {
  const size_t lf = bytes.find('\n', pos);
  if (lf == std::string_view::npos) {
    return false;
  }
  size_t end = lf;
  if (end > pos && bytes[end - 1] == '\r') {
    --end;
  }
  line = bytes.substr(pos, end - pos);
  pos = lf + 1;
  return true;
}

}  // namespace

std::optional<std::string> CapturedMessage::Header(std::string_view name) const {
  for (const HeaderField& field : headers) {
    if (EqualsIgnoringCase(field.name, name)) {
      return field.value;
    }
  }
  return std::nullopt;
}

std::vector<std::string> CapturedMessage::Headers(std::string_view name) const {
  std::vector<std::string> values;
  for (const HeaderField& field : headers) {
    if (EqualsIgnoringCase(field.name, name)) {
      values.push_back(field.value);
    }
  }
  return values;
}

CapturedMessage ParseCapturedMessage(std::string_view bytes) {
  CapturedMessage message;
  size_t pos = 0;
  std::string_view line;
  if (!NextLine(bytes, pos, line)) {
    // No line end at all: the start line is all there is.
    message.startLine = std::string(bytes.substr(0, bytes.find('\r')));
    return message;
  }
  message.startLine = std::string(line);
  while (NextLine(bytes, pos, line)) {
    if (line.empty()) {
      message.headerComplete = true;
      message.headerSize = pos;
      message.body = bytes.substr(pos);
      return message;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !message.headers.empty()) {
      // An obsolete folded line continues the previous field's value.
      std::string& value = message.headers.back().value;
      value.push_back(' ');
      value.append(TrimBlanks(line));
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      message.headers.push_back(HeaderField{std::string(TrimBlanks(line)), std::string()});
      continue;
    }
    message.headers.push_back(HeaderField{std::string(TrimBlanks(line.substr(0, colon))),
                                          std::string(TrimBlanks(line.substr(colon + 1)))});
  }
  return message;
}

CapturedMessage ParseFinalResponse(std::string_view bytes) {
  for (;;) {
    CapturedMessage message = ParseCapturedMessage(bytes);
    const StartLineParts parts = SplitStartLine(message.startLine);
    const bool interim = parts.second.size() == 3 && parts.second[0] == '1' &&
                         parts.second != "101" && parts.first.rfind("HTTP/", 0) == 0;
    if (!interim || !message.headerComplete || message.body.empty()) {
      return message;
    }
    bytes = message.body;
  }
}

StartLineParts SplitStartLine(std::string_view line) {
  StartLineParts parts;
  const size_t first = line.find(' ');
  parts.first = std::string(line.substr(0, first));
  if (first == std::string_view::npos) {
    return parts;
  }
  line.remove_prefix(first + 1);
  const size_t second = line.find(' ');
  parts.second = std::string(line.substr(0, second));
  if (second != std::string_view::npos) {
    parts.rest = std::string(line.substr(second + 1));
  }
  return parts;
}

std::optional<std::string> DecodeChunkedBody(std::string_view body) {
  std::string decoded;
  size_t pos = 0;
  std::string_view line;
  for (;;) {
    if (!NextLine(body, pos, line)) {
      return std::nullopt;
    }
    uint64_t size = 0;
    size_t digits = 0;
    for (const char c : line) {
      const int digit = HexDigitValue(c);
      if (digit < 0) {
        break;
      }
      if (size > (UINT64_MAX >> 4)) {
        return std::nullopt;
      }
      size = size * 16 + static_cast<uint64_t>(digit);
      ++digits;
    }
    // After the digits only chunk extensions (";...") or white space may follow.
    const std::string_view after = TrimBlanks(line.substr(digits));
    if (digits == 0 || (!after.empty() && after.front() != ';')) {
      return std::nullopt;
    }
    if (size == 0) {
      // Trailer fields up to the closing blank line.
      while (NextLine(body, pos, line)) {
        if (line.empty()) {
          return decoded;
        }
      }
      return std::nullopt;
    }
    if (size > body.size() - pos) {
      return std::nullopt;
    }
    decoded.append(body.substr(pos, static_cast<size_t>(size)));
    pos += static_cast<size_t>(size);
    if (!NextLine(body, pos, line) || !line.empty()) {
      return std::nullopt;
    }
  }
}

}  // namespace rw::capture
