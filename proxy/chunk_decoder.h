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

// Moves every whole chunk from the front of `raw` to the end of `decoded`. On kComplete the last
// chunk and its trailers have left `raw`; what follows them stays.
DecodeOutcome DecodeChunks(ByteBuffer& raw, ByteBuffer& decoded);

}  // namespace rw::proxy
