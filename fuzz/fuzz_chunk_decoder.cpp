// Chunked bodies from servers: NextChunk on the raw bytes and DecodeChunks over split reads.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_check.h"
#include "fuzz/read_splitter.h"
#include "proxy/byte_buffer.h"
#include "proxy/in_place_chunk_decoder.h"
#include "text/chunk_decoder.h"

using namespace rw::proxy;
using namespace rw::text;

namespace {

using rw::fuzz::Check;

// The chunk size as written, or kTooLarge once it passes 60 bits; `digits` says whether any led.
constexpr uint64_t kTooLarge = ~uint64_t{0};

uint64_t WrittenSize(std::string_view bytes, bool* digits) {
  size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x01 &&
         static_cast<unsigned char>(bytes[i]) <= 0x20) {
    ++i;
  }
  uint64_t size = 0;
  *digits = false;
  for (; i < bytes.size() && std::isxdigit(static_cast<unsigned char>(bytes[i])); ++i) {
    *digits = true;
    if (size > (uint64_t{1} << 56)) {
      return kTooLarge;
    }
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(bytes[i])));
    size = size * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    if (size > (uint64_t{1} << 60)) {
      return kTooLarge;
    }
  }
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rw::fuzz::ReadSplitter reads(data, size);
  const std::string_view all = reads.All();

  ChunkStep step = NextChunk(all);
  bool digits = false;
  const uint64_t written = WrittenSize(all, &digits);
  if (step.outcome == ChunkOutcome::kData) {
    Check(digits && written == step.size);
  }
  if (digits && written == kTooLarge) {
    Check(step.outcome == ChunkOutcome::kMalformed);
  }
  if (step.outcome == ChunkOutcome::kData) {
    Check(step.headerLength <= all.size());
    Check(step.size < (uint64_t{1} << 60));
  } else if (step.outcome == ChunkOutcome::kLast) {
    Check(step.headerLength > 0 && step.headerLength <= all.size());
  }

  ByteBuffer buffer;
  ChunkedProgress progress;
  size_t fed = 0;
  DecodeOutcome outcome = DecodeOutcome::kNeedMore;
  while (!reads.Done() && outcome == DecodeOutcome::kNeedMore) {
    bool mark = false;
    std::string_view read = reads.Next(&mark);
    buffer.Append(read);
    fed += read.size();
    const size_t decodedBefore = progress.decodedEnd - progress.decodedStart;
    const size_t rawBefore = buffer.Size() - progress.rawStart;
    outcome = DecodeChunksInPlace(buffer, progress);
    // Decoding only removes framing: it never makes bytes up, and the decoded part never
    // overtakes the raw part it is taken from.
    Check(progress.decodedStart <= progress.decodedEnd);
    Check(progress.decodedEnd <= progress.rawStart && progress.rawStart <= buffer.Size());
    Check(buffer.Size() <= fed);
    Check(progress.decodedEnd - progress.decodedStart - decodedBefore <= rawBefore);
    if (outcome == DecodeOutcome::kComplete) {
      Check(progress.decodedStart == 0 && progress.rawStart == progress.decodedEnd);
    }
  }
  return 0;
}
