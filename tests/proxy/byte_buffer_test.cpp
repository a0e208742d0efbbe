#include "proxy/byte_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace rw::proxy {
namespace {

TEST(ByteBuffer, ConsumesFromTheFrontAndKeepsOrderAcrossCompaction) {
  ByteBuffer buffer;
  std::string expected;
  for (int round = 0; round < 200; ++round) {
    std::string piece(static_cast<size_t>(round % 37 + 1), static_cast<char>('a' + round % 26));
    buffer.Append(piece);
    expected += piece;
    size_t take = static_cast<size_t>(round % 5) * 3;
    buffer.Consume(take);
    expected.erase(0, std::min(take, expected.size()));
    ASSERT_EQ(std::string(buffer.View()), expected);
  }
  buffer.Consume(buffer.Size() + 10);
  EXPECT_TRUE(buffer.Empty());
}

// Reads from a socket land in prepared room; nothing counts until it is committed, and what was
// consumed before stays counted for the header scanner.
TEST(ByteBuffer, PreparedRoomJoinsTheEndOnlyWhenCommitted) {
  ByteBuffer buffer;
  buffer.Append("head");
  buffer.Consume(2);
  char* room = buffer.PrepareAppend(100 * 1024);
  std::memcpy(room, "tail", 4);
  EXPECT_EQ(buffer.View(), "ad");
  buffer.CommitAppend(4);
  EXPECT_EQ(buffer.View(), "adtail");
  EXPECT_EQ(buffer.ConsumedTotal(), 2u);
  buffer.Clear();
  EXPECT_EQ(buffer.ConsumedTotal(), 8u);
}

}  // namespace
}  // namespace rw::proxy
