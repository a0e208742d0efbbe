// Decoding of a chunked response body held for the browser. Pure; owned by one connection's
// response handling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "proxy/byte_buffer.h"

namespace rw::proxy {

enum class ChunkOutcome {
  kNeedMore,   // the front of the bytes does not yet hold a whole chunk
  kData,       // a chunk of `size` data bytes after `headerLength` bytes
  kLast,       // the zero chunk, its trailers and the blank line: `headerLength` bytes
  kMalformed,  // no hexadecimal size, or one beyond 60 bits
};

struct ChunkStep {
  ChunkOutcome outcome = ChunkOutcome::kNeedMore;
  uint64_t size = 0;
  size_t headerLength = 0;
};

// Reads the chunk at the front of `bytes` without consuming. Bytes 0x01-0x20 before the size (the
// line end after the previous chunk's data) are skipped; an extension after ";" is ignored.
ChunkStep NextChunk(std::string_view bytes);

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
