#include "platform/write_all.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace rw::platform {
namespace {

// A write step that follows a script: each entry is how many bytes the next call takes, or a
// negative errno to fail with.
struct ScriptedWrites {
  std::vector<int> script;
  size_t next = 0;
  std::string written;

  ssize_t operator()(const char* data, size_t count) {
    const int step = next < script.size() ? script[next++] : static_cast<int>(count);
    if (step < 0) {
      errno = -step;
      return -1;
    }
    const size_t taken = std::min(count, static_cast<size_t>(step));
    written.append(data, taken);
    return static_cast<ssize_t>(taken);
  }
};

TEST(WriteAll, ShortAndInterruptedWritesStillWriteEverythingInOrder) {
  ScriptedWrites step{{3, -EINTR, 1, -EINTR, -EINTR, 100}, 0, ""};
  const SysCallResult result =
      WriteAllWith("abcdefghij", [&step](const char* d, size_t n) { return step(d, n); });
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.value, 10);
  EXPECT_EQ(step.written, "abcdefghij");
}

TEST(WriteAll, FailureStopsWithTheErrorAfterTheBytesBeforeIt) {
  struct Row {
    std::vector<int> script;
    int errorNumber;
    const char* written;
  };
  const Row rows[] = {
      {{4, -ENOSPC}, ENOSPC, "abcd"},
      {{-EPIPE}, EPIPE, ""},
      {{2, 0}, EIO, "ab"},  // a write that takes nothing would loop forever
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.written);
    ScriptedWrites step{row.script, 0, ""};
    const SysCallResult result =
        WriteAllWith("abcdefghij", [&step](const char* d, size_t n) { return step(d, n); });
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.errorNumber, row.errorNumber);
    EXPECT_EQ(step.written, row.written);
  }
}

TEST(WriteAll, FillsAPipeFasterThanItsReaderEmptiesIt) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  FileDescriptor readEnd(fds[0]);
  FileDescriptor writeEnd(fds[1]);
  // Four times the pipe's room: the writes block and come back short while the reader drains.
  std::string bytes(256 * 1024, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 7);
  }
  std::string received;
  std::thread reader([&] {
    char chunk[1000];
    ssize_t n;
    while ((n = ::read(readEnd.Get(), chunk, sizeof chunk)) > 0) {
      received.append(chunk, static_cast<size_t>(n));
    }
  });
  const SysCallResult result = WriteAll(writeEnd, bytes);
  (void)writeEnd.Close();
  reader.join();
  EXPECT_EQ(result.value, static_cast<ssize_t>(bytes.size()));
  EXPECT_TRUE(received == bytes);
}

}  // namespace
}  // namespace rw::platform
