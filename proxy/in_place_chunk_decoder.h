// In-place decoding of a chunked response body held for the browser, in the connection's own
// buffer. Owned by one connection's response handling.
#pragma once

#include <cstddef>

#include "proxy/byte_buffer.h"

namespace rw::proxy {

enum class DecodeOutcome { kNeedMore, kComplete, kMalformed };

// How far the in-place decoding of a chunked body has come: bytes `decodedStart` to `decodedEnd`
// of the buffer are the decoded data so far, raw chunked bytes begin at `rawStart`, and all other
// bytes before that were framing.
struct ChunkedProgress {
  size_t decodedStart = 0;
  size_t decodedEnd = 0;
  size_t rawStart = 0;
};

// Decodes every whole chunk from `progress.rawStart` on without copying it out of the buffer:
// each chunk's data is joined to the decoded data by moving whichever of the two is smaller. On
// kComplete the framing is gone: the buffer holds the decoded body, then whatever followed the
// last chunk and its trailers.
DecodeOutcome DecodeChunksInPlace(ByteBuffer& buffer, ChunkedProgress& progress);

}  // namespace rw::proxy
