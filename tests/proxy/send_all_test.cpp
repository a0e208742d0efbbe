#include "proxy/send_all.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rw::proxy {
namespace {

TEST(SendAll, GoesOutInPortionsOfAtMostTheSendSizeInOrder) {
  struct Row {
    size_t total;
    size_t portion;
    size_t acceptPerCall;  // what one send takes at most (a short send)
  };
  const std::vector<Row> rows = {
      {0, 8, 100}, {5, 8, 100}, {8, 8, 100}, {9, 8, 100}, {100, 8, 100}, {100, 8, 3}, {1, 1, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.total << "/" << row.portion << "/" << row.acceptPerCall);
    std::string bytes;
    for (size_t i = 0; i < row.total; ++i) {
      bytes.push_back(static_cast<char>('a' + i % 26));
    }
    std::string received;
    size_t calls = 0;
    size_t sent = SendAllInPortions(bytes, row.portion, [&](const char* data, size_t count) {
      EXPECT_LE(count, row.portion);
      ++calls;
      size_t take = std::min(count, row.acceptPerCall);
      received.append(data, take);
      return static_cast<ssize_t>(take);
    });
    EXPECT_EQ(sent, row.total);
    EXPECT_EQ(received, bytes);
    EXPECT_GE(calls, (row.total + row.portion - 1) / row.portion);
  }
}

TEST(SendAll, StopsAtAFailedSendAndReportsWhatWentOut) {
  std::string bytes(20, 'x');
  int calls = 0;
  size_t sent = SendAllInPortions(bytes, 8, [&](const char*, size_t count) -> ssize_t {
    return ++calls == 2 ? -1 : static_cast<ssize_t>(count);
  });
  EXPECT_EQ(sent, 8u);
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace rw::proxy
