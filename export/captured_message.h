// Reads an HTTP message back out of its captured bytes: the start line, the header fields (folded
// lines joined), where the body begins, the body without its chunked framing and the request's
// absolute URL. The one reader for the exports (HAR, Copy as curl); pure, any thread. May throw
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rw::capture {

struct HeaderField {
  std::string name;
  std::string value;  // without the white space around it
  // False for a line without a colon, kept whole as the name with an empty value.
  bool hasColon = true;
};

struct CapturedMessage {
  std::string startLine;
  std::vector<HeaderField> headers;
  // The header block was captured up to its blank line; when false, headers hold what was there
  // and there is no body.
  bool headerComplete = false;
  // Bytes of the start line, the header lines and the blank line.
  size_t headerSize = 0;
  // The captured bytes after the header block.
  std::string_view body;

  // The value of the first field named `name` (case-insensitive), if any.
  std::optional<std::string> Header(std::string_view name) const;
  // Every value of the fields named `name`, in order.
  std::vector<std::string> Headers(std::string_view name) const;
  // The body is framed in chunks: the last transfer coding of a Transfer-Encoding field is
  // chunked (a coding after it would leave the framing to the connection's end).
  bool IsChunked() const;
};

// Parses `bytes` from its start. Lines may end in CR LF or LF alone. The result's body views
// `bytes`, which must outlive it.
CapturedMessage ParseCapturedMessage(std::string_view bytes);

// The final response in captured response bytes: interim 1xx responses (except 101, which ends
// the exchange's HTTP) that precede it are skipped.
CapturedMessage ParseFinalResponse(std::string_view bytes);

struct StartLineParts {
  std::string first;   // method, or HTTP version of a status line
  std::string second;  // target, or status code
  std::string rest;    // HTTP version, or reason phrase (may hold spaces)
};
StartLineParts SplitStartLine(std::string_view line);

// Decodes a whole chunked body with the engine's chunk reader, so an export shows what the browser
// was sent. Returns nothing when `body` is not a complete, well-formed chunked encoding (cut short
// by the capture, or malformed). Trailer fields are dropped.
std::optional<std::string> DecodeChunkedBody(std::string_view body);

// The request's URL, absolute: an origin-form target ("/path") completed from `origin` (an
// exchange taken out of TLS, "https://host[:port]") or else from the Host field, a CONNECT's
// authority as an https URL, any other target as sent. Nothing when an origin-form target has no
// host to complete it.
std::optional<std::string> RequestUrl(const CapturedMessage& request, const StartLineParts& line,
                                      std::string_view origin);

}  // namespace rw::capture
