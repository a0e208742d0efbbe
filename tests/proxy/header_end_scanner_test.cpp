#include "proxy/header_end_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/buffer_of.h"

namespace rw::proxy {
namespace {

using testing::BufferOf;

TEST(HeaderEnd, FoundWhereTheLineFeedCounterPassesOne) {
  struct Row {
    std::string bytes;
    size_t length;  // 0 = no end
  };
  const std::vector<Row> rows = {
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", 27},
      {"GET / HTTP/1.1\n\n", 16},
      {"GET / HTTP/1.1\n\r\nbody", 17},
      {"A\n\r\r\r\nB", 6},  // carriage returns never reset the count
      {"A\r\nB\r\n", 0},
      {"A\r\n\r", 0},
      {"A\rB\nC\n", 0},
      {"", 0},
      {"\n\n", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(HeaderEndLength(row.bytes), row.length);
  }
}

TEST(HeaderEndScanner, AgreesWithTheWholeBufferTestWhenBytesArriveOneByOne) {
  const std::string header = "GET http://a/ HTTP/1.1\r\nHost: a\r\n\r\nxyz";
  ByteBuffer buffer;
  HeaderEndScanner scanner;
  for (size_t i = 0; i < header.size(); ++i) {
    buffer.Append(header.data() + i, 1);
    SCOPED_TRACE(i);
    EXPECT_EQ(scanner.Found(buffer), HeaderEndFound(buffer.View()));
  }
}

TEST(HeaderEndScanner, StartsOverWhenTheScannedBytesWereConsumed) {
  ByteBuffer buffer = BufferOf("A\r\n");
  HeaderEndScanner scanner;
  EXPECT_FALSE(scanner.Found(buffer));
  buffer.Consume(3);
  // Longer than what was scanned, with a line feed just past the old position: a scanner that
  // kept its count and position would take it for the second line feed of an end.
  buffer.Append("abc\nZ");
  EXPECT_FALSE(scanner.Found(buffer));
  buffer.Append("\n");
  EXPECT_FALSE(scanner.Found(buffer));
  buffer.Append("\r\n");
  EXPECT_TRUE(scanner.Found(buffer));
}

// Appends and consumes in many patterns: after every step the scanner must agree with a scan of
// the whole buffer, including after a found end was consumed.
TEST(HeaderEndScanner, AgreesWithTheWholeBufferTestAcrossConsumes) {
  const std::string pieces[] = {"GET / HTTP/1.1\r\n", "\r\n", "abc\n", "Z", "\n", "\r", "x\r\n"};
  for (size_t consumeEvery = 1; consumeEvery <= 4; ++consumeEvery) {
    for (size_t take = 1; take <= 5; ++take) {
      SCOPED_TRACE(::testing::Message() << "consume " << take << " every " << consumeEvery);
      ByteBuffer buffer;
      HeaderEndScanner scanner;
      for (size_t step = 0; step < 40; ++step) {
        buffer.Append(pieces[(step * 3 + take) % std::size(pieces)]);
        if (step % consumeEvery == 0) {
          buffer.Consume(take);
        }
        ASSERT_EQ(scanner.Found(buffer), HeaderEndFound(buffer.View())) << "step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace rw::proxy
