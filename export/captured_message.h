// Reads an HTTP message back out of its captured bytes: the start line, the header fields and
// where the body begins; and decodes a chunked body. Pure functions for the exports (HAR, exchange
// lines); any thread. They may throw std::bad_alloc.
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

// Decodes a whole chunked body. Returns nothing when `body` is not a complete, well-formed chunked
// encoding (cut short by the capture, or malformed). Trailer fields are dropped.
std::optional<std::string> DecodeChunkedBody(std::string_view body);

}  // namespace rw::capture
