// Where a request body ends: by its Content-Length or its chunked encoding, whatever the method,
// so that the bytes after it are read as the next request header. Walks the chunked framing
// without decoding it: the body is forwarded unchanged. Owned by one connection thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "proxy/chunked_body_walker.h"
#include "proxy/header_text.h"

namespace rw::proxy {

enum class BodyFraming {
  kNone,      // no body: the next browser bytes begin a request header
  kLength,    // Content-Length bytes follow the header
  kChunked,   // chunks up to the last one and its trailer
  kUnframed,  // neither, or a framing that could not be read: passed through as it comes
};

class RequestBodyFramer {
 public:
  // Reads the framing from a request's header lines (the first is the request line).
  // `mayCarryBody` says whether a request without Content-Length or chunked encoding is taken to
  // have a body all the same (passed through unframed).
  void Start(const LineList& lines, bool mayCarryBody);

  // How many bytes from the front of `bytes` belong to the body. When fewer than all are taken
  // (and the framing is not kUnframed), the body has ended and the rest is the next request.
  size_t Take(std::string_view bytes);

  BodyFraming Framing() const { return framing; }
  // True while body bytes are still expected (always for kUnframed).
  bool InBody() const;
  // True when the header named both a Transfer-Encoding and a Content-Length: the coding decides,
  // and the length must not reach the server, which might read the body by it instead.
  bool LengthOverridden() const { return lengthOverridden; }

 private:
  BodyFraming framing = BodyFraming::kNone;
  uint64_t remaining = 0;  // kLength: bytes left
  ChunkedBodyWalker chunks;
  bool lengthOverridden = false;
};

}  // namespace rw::proxy
