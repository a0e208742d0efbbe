#include "proxy/response_header_info.h"

#include <cstdint>
#include <limits>

#include "text/header_value.h"
#include "text/number_parsers.h"

namespace rw::proxy {
namespace {

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool IsLineSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A transfer coding list ("gzip, chunked") names a coding besides chunked.
bool NamesOtherCoding(std::string_view codings) {
  size_t start = 0;
  while (start <= codings.size()) {
    size_t end = codings.find(',', start);
    if (end == std::string_view::npos) {
      end = codings.size();
    }
    std::string_view coding = codings.substr(start, end - start);
    while (!coding.empty() && IsLineSpace(coding.front())) {
      coding.remove_prefix(1);
    }
    while (!coding.empty() && IsLineSpace(coding.back())) {
      coding.remove_suffix(1);
    }
    if (!coding.empty() && coding != "chunked" && coding != "identity") {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

void ResponseHeaderInfo::ExamineLine(std::string_view lowerLine) {
  if (Contains(lowerLine, "content-type:")) {
    contentClass = kClassOther;
    if (Contains(lowerLine, "text/")) {
      contentClass = kClassText;
      // An event stream never ends by itself: held, it would never reach the browser.
      if (Contains(lowerLine, "x-component") || Contains(lowerLine, "text/event-stream")) {
        contentClass = kClassOther;
      }
    }
    if (Contains(lowerLine, "html")) {
      contentClass = kClassHtml;
    }
    if (Contains(lowerLine, "image")) {
      contentClass = kClassOther;
    }
    if (Contains(lowerLine, "javascript") || Contains(lowerLine, "jscript")) {
      contentClass = kClassScript;
    }
  }
  if (const std::optional<std::string_view> length =
          text::HeaderLineValue(lowerLine, "content-length")) {
    contentLength = text::ParseContentLengthValue(*length);
  }
  if (const std::optional<std::string_view> codings =
          text::HeaderLineValue(lowerLine, "transfer-encoding")) {
    // Chunked anywhere in the list, not only last (text::LastCodingIsChunked): a streamed body's
    // chunks are then followed to find its end, and bytes that are not chunks make the walk give up
    // and read to the close, where a body under another last coding ends anyway. So a server that
    // lists its codings out of order but frames in chunks still has its end found.
    chunked = chunked || Contains(*codings, "chunked");
    otherCodings = otherCodings || NamesOtherCoding(*codings);
  }
}

void ResponseHeaderInfo::CompleteClass() {
  if (contentClass == 0) {
    contentClass = kClassHtml;
  }
  if ((contentClass & (kClassHtml | kClassScript)) != 0) {
    contentClass |= kClassText;
  }
  // Only a body that is just chunked can be de-chunked and sent with a length: under another
  // coding (gzip, chunked) the browser would get coded bytes with nothing saying so.
  if (otherCodings) {
    contentClass = kClassOther;
  }
}

}  // namespace rw::proxy
