#include "text/chunk_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rw::text {
namespace {

TEST(NextChunk, ReadsOneChunkFromTheFront) {
  struct Row {
    std::string bytes;
    ChunkOutcome outcome;
    uint64_t size;
    size_t headerLength;
  };
  const std::vector<Row> rows = {
      {"5\r\nhello\r\n", ChunkOutcome::kData, 5, 3},
      {"\r\n5\r\nhello", ChunkOutcome::kData, 5, 5},  // line end of the previous chunk skipped
      {"A;ext=1\r\n0123456789", ChunkOutcome::kData, 10, 9},
      {"5\r\nhell", ChunkOutcome::kNeedMore, 0, 0},
      {"5", ChunkOutcome::kNeedMore, 0, 0},
      {"\r\n", ChunkOutcome::kNeedMore, 0, 0},
      {"", ChunkOutcome::kNeedMore, 0, 0},
      {std::string("\0"
                   "5\r\n",
                   4),
       ChunkOutcome::kNeedMore, 0, 0},
      {"0\r\n\r\n", ChunkOutcome::kLast, 0, 5},
      {"0\n\nNEXT", ChunkOutcome::kLast, 0, 3},
      {"0\r\nTrailer: x\r\n\r\nNEXT", ChunkOutcome::kLast, 0, 17},
      {"0\r\n", ChunkOutcome::kNeedMore, 0, 0},  // the blank line is still to come
      {"0\r\nTrailer: x\r\n", ChunkOutcome::kNeedMore, 0, 0},
      {"zz\r\n", ChunkOutcome::kMalformed, 0, 0},
      {"fffffffffffffffffff\r\n", ChunkOutcome::kMalformed, 0, 0},
      {"100000000\r\n", ChunkOutcome::kNeedMore, 0, 0},  // 4 GiB, beyond 32 bits, not wrapped
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    ChunkStep step = NextChunk(row.bytes);
    EXPECT_EQ(step.outcome, row.outcome);
    if (row.outcome == ChunkOutcome::kData || row.outcome == ChunkOutcome::kLast) {
      EXPECT_EQ(step.size, row.size);
      EXPECT_EQ(step.headerLength, row.headerLength);
    }
  }
}

TEST(NextChunk, SizePastSixtyBitsIsMalformedNotWrapped) {
  // 2^60 itself is the largest size taken; one more hex digit after it would wrap a 64-bit size
  // to that digit, so the bytes after the size line would be read as a small chunk.
  struct Row {
    std::string bytes;
    ChunkOutcome outcome;
  };
  const std::vector<Row> rows = {
      {"1000000000000000\r\n", ChunkOutcome::kNeedMore},  // 2^60
      {"1000000000000001\r\n", ChunkOutcome::kMalformed},
      {"10000000000000005\r\nhello\r\n", ChunkOutcome::kMalformed},
      {"100000000000000000\r\n\r\n", ChunkOutcome::kMalformed},
      {"000000000000000000000005\r\nhello", ChunkOutcome::kData},  // leading zeros are fine
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(NextChunk(row.bytes).outcome, row.outcome);
  }
}

}  // namespace
}  // namespace rw::text
