#include "proxy/request_body_framer.h"

#include <algorithm>
#include <string>

#include "proxy/response_header_info.h"
#include "text/case_blind.h"
#include "text/number_parsers.h"

namespace rw::proxy {

using text::ToLower;
namespace {

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last + 1 - first);
}

// The value of a header line named `name` (lower case, with its colon), or false.
bool HeaderValue(const std::string& lowerLine, std::string_view name, std::string_view* value) {
  if (lowerLine.compare(0, name.size(), name) != 0) {
    return false;
  }
  *value = Trim(std::string_view(lowerLine).substr(name.size()));
  return true;
}

}  // namespace

void RequestBodyFramer::Start(const LineList& lines, bool mayCarryBody) {
  framing = BodyFraming::kNone;
  remaining = 0;
  bool lengthSeen = false;
  bool lengthValid = true;
  uint64_t length = 0;
  bool encodingSeen = false;
  bool chunked = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string lower = ToLower(lines[i]);
    std::string_view value;
    if (HeaderValue(lower, "content-length:", &value)) {
      const int64_t parsed = text::ParseContentLengthValue(value);
      // Repeated lengths must agree, or nobody can tell where the body ends.
      if (parsed < 0 || (lengthSeen && static_cast<uint64_t>(parsed) != length)) {
        lengthValid = false;
      }
      lengthSeen = true;
      length = parsed < 0 ? 0 : static_cast<uint64_t>(parsed);
    } else if (HeaderValue(lower, "transfer-encoding:", &value)) {
      encodingSeen = true;
      const size_t comma = value.rfind(',');
      chunked =
          Trim(comma == std::string_view::npos ? value : value.substr(comma + 1)) == "chunked";
    }
  }
  lengthOverridden = encodingSeen && lengthSeen;
  if (encodingSeen) {
    // The encoding decides over any length; an encoding other than chunked runs to the end.
    if (chunked) {
      framing = BodyFraming::kChunked;
      chunks.Start();
    } else {
      framing = BodyFraming::kUnframed;
    }
  } else if (lengthSeen) {
    if (!lengthValid) {
      framing = BodyFraming::kUnframed;
    } else if (length > 0) {
      framing = BodyFraming::kLength;
      remaining = length;
    }
  } else if (mayCarryBody) {
    framing = BodyFraming::kUnframed;
  }
}

bool RequestBodyFramer::InBody() const {
  switch (framing) {
    case BodyFraming::kNone:
      return false;
    case BodyFraming::kLength:
      return remaining > 0;
    case BodyFraming::kChunked:
      return !chunks.Done();
    case BodyFraming::kUnframed:
      return true;
  }
  return false;
}

size_t RequestBodyFramer::Take(std::string_view bytes) {
  switch (framing) {
    case BodyFraming::kNone:
      return 0;
    case BodyFraming::kLength: {
      const size_t taken = static_cast<size_t>(std::min<uint64_t>(remaining, bytes.size()));
      remaining -= taken;
      return taken;
    }
    case BodyFraming::kChunked: {
      const size_t taken = chunks.Take(bytes);
      if (chunks.Unreadable()) {
        framing = BodyFraming::kUnframed;  // from here nothing is known of the framing
      }
      return taken;
    }
    case BodyFraming::kUnframed:
      return bytes.size();
  }
  return 0;
}

}  // namespace rw::proxy
