#include "proxy/request_body_framer.h"

#include <algorithm>
#include <limits>
#include <string>

#include "proxy/response_header_info.h"

namespace rw::proxy {
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

bool ParseLength(std::string_view text, uint64_t* length) {
  if (text.empty() || text.size() > 18) {
    return false;
  }
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  *length = value;
  return true;
}

int HexValue(char c) {
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

}  // namespace

void RequestBodyFramer::Start(const LineList& lines, bool mayCarryBody) {
  framing_ = BodyFraming::kNone;
  remaining_ = 0;
  step_ = ChunkStep::kDone;
  bool lengthSeen = false;
  bool lengthValid = true;
  uint64_t length = 0;
  bool encodingSeen = false;
  bool chunked = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string lower = ToLower(lines[i]);
    std::string_view value;
    if (HeaderValue(lower, "content-length:", &value)) {
      uint64_t parsed = 0;
      // Repeated lengths must agree, or nobody can tell where the body ends.
      if (!ParseLength(value, &parsed) || (lengthSeen && parsed != length)) {
        lengthValid = false;
      }
      lengthSeen = true;
      length = parsed;
    } else if (HeaderValue(lower, "transfer-encoding:", &value)) {
      encodingSeen = true;
      const size_t comma = value.rfind(',');
      chunked =
          Trim(comma == std::string_view::npos ? value : value.substr(comma + 1)) == "chunked";
    }
  }
  if (encodingSeen) {
    // The encoding decides over any length; an encoding other than chunked runs to the end.
    if (chunked) {
      framing_ = BodyFraming::kChunked;
      step_ = ChunkStep::kSize;
      sizeDigits_ = false;
    } else {
      framing_ = BodyFraming::kUnframed;
    }
  } else if (lengthSeen) {
    if (!lengthValid) {
      framing_ = BodyFraming::kUnframed;
    } else if (length > 0) {
      framing_ = BodyFraming::kLength;
      remaining_ = length;
    }
  } else if (mayCarryBody) {
    framing_ = BodyFraming::kUnframed;
  }
}

bool RequestBodyFramer::InBody() const {
  switch (framing_) {
    case BodyFraming::kNone:
      return false;
    case BodyFraming::kLength:
      return remaining_ > 0;
    case BodyFraming::kChunked:
      return step_ != ChunkStep::kDone;
    case BodyFraming::kUnframed:
      return true;
  }
  return false;
}

size_t RequestBodyFramer::Take(std::string_view bytes) {
  switch (framing_) {
    case BodyFraming::kNone:
      return 0;
    case BodyFraming::kLength: {
      const size_t taken = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size()));
      remaining_ -= taken;
      return taken;
    }
    case BodyFraming::kChunked:
      return TakeChunked(bytes);
    case BodyFraming::kUnframed:
      return bytes.size();
  }
  return 0;
}

size_t RequestBodyFramer::TakeChunked(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && step_ != ChunkStep::kDone) {
    const char c = bytes[i];
    switch (step_) {
      case ChunkStep::kSize: {
        const int digit = HexValue(c);
        if (digit >= 0) {
          if (remaining_ > (std::numeric_limits<uint64_t>::max() >> 4)) {
            framing_ = BodyFraming::kUnframed;  // a size no body could have
            return bytes.size();
          }
          remaining_ = remaining_ * 16 + static_cast<uint64_t>(digit);
          sizeDigits_ = true;
          ++i;
          break;
        }
        if (!sizeDigits_) {
          // Not a chunk size: from here nothing is known of the framing.
          framing_ = BodyFraming::kUnframed;
          return bytes.size();
        }
        step_ = ChunkStep::kExtension;  // the byte is looked at again there
        break;
      }
      case ChunkStep::kExtension:
        ++i;
        if (c == '\n') {
          sizeDigits_ = false;
          trailerLineText_ = false;
          step_ = remaining_ == 0 ? ChunkStep::kTrailer : ChunkStep::kData;
        }
        break;
      case ChunkStep::kData: {
        const size_t taken = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size() - i));
        remaining_ -= taken;
        i += taken;
        if (remaining_ == 0) {
          step_ = ChunkStep::kDataEnd;
        }
        break;
      }
      case ChunkStep::kDataEnd:
        if (c == '\n') {
          step_ = ChunkStep::kSize;
        } else if (c != '\r') {
          framing_ = BodyFraming::kUnframed;
          return bytes.size();
        }
        ++i;
        break;
      case ChunkStep::kTrailer:
        ++i;
        if (c == '\n') {
          if (!trailerLineText_) {
            step_ = ChunkStep::kDone;
          }
          trailerLineText_ = false;
        } else if (c != '\r') {
          trailerLineText_ = true;
        }
        break;
      case ChunkStep::kDone:
        break;
    }
  }
  return i;
}

}  // namespace rw::proxy
