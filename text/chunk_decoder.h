// Reading of chunked framing: the size line, data and last chunk at the front of some bytes. Pure;
// any thread. The engine decodes held bodies with it, the exports decode captured ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rw::text {

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

}  // namespace rw::text
