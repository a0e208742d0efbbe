#include "proxy/in_place_chunk_decoder.h"

#include <cstring>

#include "text/chunk_decoder.h"

namespace rw::proxy {

using text::ChunkOutcome;
using text::ChunkStep;
using text::NextChunk;

DecodeOutcome DecodeChunksInPlace(ByteBuffer& buffer, ChunkedProgress& progress) {
  for (;;) {
    ChunkStep step = NextChunk(buffer.View().substr(progress.rawStart));
    switch (step.outcome) {
      case ChunkOutcome::kNeedMore:
        return DecodeOutcome::kNeedMore;
      case ChunkOutcome::kMalformed:
        return DecodeOutcome::kMalformed;
      case ChunkOutcome::kLast:
        progress.rawStart += step.headerLength;
        buffer.Erase(progress.decodedEnd, progress.rawStart - progress.decodedEnd);
        buffer.Consume(progress.decodedStart);
        progress.decodedEnd -= progress.decodedStart;
        progress.decodedStart = 0;
        progress.rawStart = progress.decodedEnd;
        return DecodeOutcome::kComplete;
      case ChunkOutcome::kData: {
        char* data = buffer.MutableData();
        const auto size = static_cast<size_t>(step.size);
        const size_t chunkStart = progress.rawStart + step.headerLength;
        const size_t decodedSize = progress.decodedEnd - progress.decodedStart;
        if (decodedSize <= size) {
          // The decoded data moves up against this chunk's data.
          std::memmove(data + chunkStart - decodedSize, data + progress.decodedStart, decodedSize);
          progress.decodedStart = chunkStart - decodedSize;
        } else {
          std::memmove(data + progress.decodedEnd, data + chunkStart, size);
        }
        progress.decodedEnd = progress.decodedStart + decodedSize + size;
        progress.rawStart = chunkStart + size;
        break;
      }
    }
  }
}

}  // namespace rw::proxy
