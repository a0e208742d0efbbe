#include "proxy/in_place_chunk_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace rw::proxy {
namespace {

TEST(DecodeChunksInPlace, SameResultWhateverTheSplit) {
  const std::string body = "5\r\nhello\r\n3;x=y\r\nabc\r\n10\r\n0123456789abcdef\r\n0\r\n\r\nNEXT";
  for (size_t split = 0; split <= body.size(); ++split) {
    SCOPED_TRACE(split);
    ByteBuffer buffer;
    ChunkedProgress progress;
    buffer.Append(body.substr(0, split));
    DecodeOutcome first = DecodeChunksInPlace(buffer, progress);
    EXPECT_EQ(first, split < body.size() - 4 ? DecodeOutcome::kNeedMore : DecodeOutcome::kComplete);
    buffer.Append(body.substr(split));
    if (first != DecodeOutcome::kComplete) {
      EXPECT_EQ(DecodeChunksInPlace(buffer, progress), DecodeOutcome::kComplete);
    }
    // The framing is gone; what followed the last chunk stays after the body.
    EXPECT_EQ(std::string(buffer.View()), "helloabc0123456789abcdefNEXT");
    EXPECT_EQ(progress.decodedEnd, 24u);
  }
}

TEST(DecodeChunksInPlace, MalformedSizeStopsDecoding) {
  ByteBuffer buffer;
  ChunkedProgress progress;
  buffer.Append("3\r\nabc\r\nxyz\r\n");
  EXPECT_EQ(DecodeChunksInPlace(buffer, progress), DecodeOutcome::kMalformed);
  std::string_view held = buffer.View();
  EXPECT_EQ(held.substr(progress.decodedStart, progress.decodedEnd - progress.decodedStart), "abc");
  EXPECT_EQ(held.substr(progress.rawStart), "\r\nxyz\r\n");
}

}  // namespace
}  // namespace rw::proxy
