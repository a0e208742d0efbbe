#include "export/captured_message.h"

#include "text/case_blind.h"
#include "text/chunk_decoder.h"
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
      message.headers.push_back(HeaderField{std::string(TrimBlanks(line)), std::string(), false});
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

bool CapturedMessage::IsChunked() const {
  for (const std::string& value : Headers("Transfer-Encoding")) {
    std::string_view last = value;
    if (const size_t comma = last.rfind(','); comma != std::string_view::npos) {
      last.remove_prefix(comma + 1);
    }
    if (EqualsIgnoringCase(TrimBlanks(last), "chunked")) {
      return true;
    }
  }
  return false;
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
  for (;;) {
    const text::ChunkStep step = text::NextChunk(body);
    switch (step.outcome) {
      case text::ChunkOutcome::kData:
        decoded.append(body.substr(step.headerLength, static_cast<size_t>(step.size)));
        body.remove_prefix(step.headerLength + static_cast<size_t>(step.size));
        break;
      case text::ChunkOutcome::kLast:
        return decoded;
      case text::ChunkOutcome::kNeedMore:
      case text::ChunkOutcome::kMalformed:
        return std::nullopt;
    }
  }
}

std::optional<std::string> RequestUrl(const CapturedMessage& request, const StartLineParts& line,
                                      std::string_view origin) {
  const std::string& target = line.second;
  const bool originForm = !target.empty() && target.front() == '/';
  if (originForm && !origin.empty()) {
    return std::string(origin) + target;  // taken out of TLS: the server is the tunnel's
  }
  if (line.first == "CONNECT") {
    return "https://" + target;
  }
  if (!originForm) {
    return target;
  }
  const std::optional<std::string> host = request.Header("Host");
  if (!host || host->empty()) {
    return std::nullopt;
  }
  return "http://" + *host + target;
}

}  // namespace rw::capture
