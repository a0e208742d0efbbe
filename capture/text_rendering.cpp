#include "capture/text_rendering.h"

#include <cinttypes>
#include <cstdio>

namespace rw::capture {

std::string ConvertArrayToDisplayText(std::string_view bytes, bool repairLineEnds) {
  std::string text;
  if (bytes.empty()) {
    return text;
  }
  if (!repairLineEnds) {
    // The Detail search renders every row this way: one copy, not a byte at a time.
    text.reserve(bytes.size() + 2);
    text.assign(bytes);
    text.append("\r\n");
    return text;
  }
  text.reserve(bytes.size() + bytes.size() / 32 + 2);
  char previous = ' ';
  for (const char b : bytes) {
    if (b == '\n' && previous != '\r') {
      text.push_back('\r');
    }
    text.push_back(b);
    previous = b;
  }
  text.append("\r\n");
  return text;
}

std::string FormatMilliseconds(int32_t milliseconds) {
  if (milliseconds < 0) {
    milliseconds = 0;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%d.%03d", milliseconds / 1000, milliseconds % 1000);
  return text;
}

std::string FirstLineOf(std::string_view bytes) {
  const size_t lf = bytes.find('\n');
  if (lf != std::string_view::npos && lf > 0) {
    bytes = bytes.substr(0, lf);
  }
  const size_t cr = bytes.find('\r');
  if (cr != std::string_view::npos && cr > 0) {
    bytes = bytes.substr(0, cr);
  }
  return std::string(bytes);
}

void AppendOmissionNote(std::string& out, int64_t captured, int64_t total) {
  if (captured >= total) {
    return;
  }
  char note[64];
  const int n =
      std::snprintf(note, sizeof note, "\r\n(%" PRId64 " bytes not shown)\r\n", total - captured);
  out.append(note, static_cast<size_t>(n));
}

}  // namespace rw::capture
