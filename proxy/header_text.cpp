#include "proxy/header_text.h"

#include <cstdio>

#include "proxy/header_end_scanner.h"
#include "text/case_blind.h"
#include "text/header_value.h"
#include "text/text_steps.h"

namespace rw::proxy {

using text::ToLower;
namespace {

// Only the Accept-Encoding field itself: a Referer or Cookie whose value happens to mention it
// and gzip is kept.
bool DropsGzip(const std::string& lower) {
  const std::optional<std::string_view> value = text::HeaderLineValue(lower, "accept-encoding");
  return value && value->find("gzip") != std::string_view::npos;
}

bool SplitHeader(ByteBuffer& buffer, bool dropGzipLines, LineList& lines,
                 ResponseHeaderInfo* info) {
  lines.clear();
  if (info != nullptr) {
    info->contentClass = 0;
  }
  size_t end = HeaderEndLength(buffer.View());
  if (end == 0) {
    return false;
  }
  std::string_view header = buffer.View().substr(0, end);
  bool firstLine = true;
  auto emit = [&](std::string_view line) {
    std::string lower = ToLower(line);
    if (info != nullptr) {
      info->ExamineLine(lower);
    }
    // The gzip rule is for header lines: a request line whose query names it is kept.
    if (firstLine || !(dropGzipLines && DropsGzip(lower))) {
      lines.emplace_back(line);
    }
    firstLine = false;
  };
  // A line ends at a line feed, unless only carriage returns and a further line feed follow: then
  // that is the header's end and belongs to the last line.
  size_t lineStart = 0;
  size_t lastLineFeed = std::string_view::npos;
  for (size_t i = 0; i < header.size(); ++i) {
    char c = header[i];
    if (c == '\n') {
      lastLineFeed = i;
    } else if (c != '\r' && lastLineFeed != std::string_view::npos && lastLineFeed >= lineStart) {
      emit(header.substr(lineStart, lastLineFeed + 1 - lineStart));
      lineStart = lastLineFeed + 1;
    }
  }
  emit(header.substr(lineStart));
  buffer.Consume(end);
  if (info != nullptr) {
    info->CompleteClass();
  }
  return true;
}

bool IsLineNamed(const std::string& line, std::string_view lowerName) {
  return text::HeaderLineValue(line, lowerName).has_value();
}

}  // namespace

bool SplitRequestHeader(ByteBuffer& buffer, GzipOffers gzipOffers, LineList& lines) {
  return SplitHeader(buffer, gzipOffers == GzipOffers::kDrop, lines, nullptr);
}

bool SplitResponseHeader(ByteBuffer& buffer, LineList& lines, ResponseHeaderInfo& info) {
  return SplitHeader(buffer, true, lines, &info);
}

void RemoveLinesNamed(LineList& lines, std::string_view lowerName) {
  for (auto line = lines.begin() + (lines.empty() ? 0 : 1); line != lines.end();) {
    if (text::HeaderLineValue(*line, lowerName)) {
      line = lines.erase(line);
    } else {
      ++line;
    }
  }
}

void LengthInsteadOfCoding(LineList& lines, size_t length) {
  bool replaced = false;
  for (auto line = lines.begin(); line != lines.end();) {
    const bool coding = IsLineNamed(*line, "transfer-encoding");
    if (coding && !replaced) {
      char text[48];
      std::snprintf(text, sizeof(text), "Content-Length: %zu\n", length);
      *line = text;
      replaced = true;
      ++line;
    } else if (coding || IsLineNamed(*line, "content-length")) {
      line = lines.erase(line);
    } else {
      ++line;
    }
  }
}

std::string JoinLines(const LineList& lines) {
  size_t total = 0;
  for (const std::string& line : lines) {
    total += line.size();
  }
  std::string text;
  text.reserve(total + 4);
  for (const std::string& line : lines) {
    text += line;
  }
  return text;
}

void TerminateHeaderText(std::string& text) {
  if (text.empty()) {
    return;
  }
  size_t keep = text.size();
  while (keep > 1 && (text[keep - 1] == '\r' || text[keep - 1] == '\n')) {
    --keep;
  }
  text.resize(keep);
  text += "\r\n\r\n";
}

}  // namespace rw::proxy
