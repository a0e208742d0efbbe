#include "proxy/request_body_framer.h"

#include <algorithm>
#include <string>

#include "text/header_value.h"
#include "text/number_parsers.h"

namespace rw::proxy {

void RequestBodyFramer::Start(const LineList& lines, bool mayCarryBody) {
  framing = BodyFraming::kNone;
  remaining = 0;
  bool lengthSeen = false;
  bool lengthValid = true;
  uint64_t length = 0;
  bool encodingSeen = false;
  bool chunked = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (const std::optional<std::string_view> value =
            text::HeaderLineValue(line, "content-length")) {
      const int64_t parsed = text::ParseContentLengthValue(*value);
      // Repeated lengths must agree, or nobody can tell where the body ends.
      if (parsed < 0 || (lengthSeen && static_cast<uint64_t>(parsed) != length)) {
        lengthValid = false;
      }
      lengthSeen = true;
      length = parsed < 0 ? 0 : static_cast<uint64_t>(parsed);
    } else if (const std::optional<std::string_view> codings =
                   text::HeaderLineValue(line, "transfer-encoding")) {
      encodingSeen = true;
      chunked = text::LastCodingIsChunked(*codings);
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
