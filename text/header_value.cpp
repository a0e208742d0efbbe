#include "text/header_value.h"

#include "text/case_blind.h"

namespace rw::text {
namespace {

std::string_view TrimLineSpace(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last + 1 - first);
}

}  // namespace

std::optional<std::string_view> HeaderLineValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':' ||
      !EqualsIgnoringCase(line.substr(0, name.size()), name)) {
    return std::nullopt;
  }
  return TrimLineSpace(line.substr(name.size() + 1));
}

bool LastCodingIsChunked(std::string_view codings) {
  const size_t comma = codings.rfind(',');
  return EqualsIgnoringCase(
      TrimLineSpace(comma == std::string_view::npos ? codings : codings.substr(comma + 1)),
      "chunked");
}

}  // namespace rw::text
