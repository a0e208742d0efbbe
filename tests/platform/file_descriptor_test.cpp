#include "platform/file_descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace rw::platform {
namespace {

bool IsOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(FileDescriptor, ClosesWhatItOwnsOnceWhereverItEnds) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int readFd = fds[0];
  const int writeFd = fds[1];
  {
    FileDescriptor first(readFd);
    FileDescriptor moved(std::move(first));
    EXPECT_FALSE(first.Valid());
    EXPECT_EQ(moved.Get(), readFd);
    FileDescriptor target(writeFd);
    target = std::move(moved);  // closes the write end it held
    EXPECT_FALSE(IsOpen(writeFd));
    EXPECT_TRUE(IsOpen(readFd));
  }
  EXPECT_FALSE(IsOpen(readFd));
}

TEST(FileDescriptor, CloseReportsFailureAndLeavesNothingOwned) {
  FileDescriptor empty;
  EXPECT_TRUE(empty.Close().Ok());

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  FileDescriptor owner(fds[0]);
  EXPECT_TRUE(owner.Close().Ok());
  EXPECT_FALSE(owner.Valid());

  // A descriptor closed behind the owner's back: the owner reports it, and does not close it
  // again when destroyed (by then the number may belong to something else).
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  FileDescriptor stale(fds[0]);
  ::close(fds[0]);
  const SysCallResult closed = stale.Close();
  EXPECT_FALSE(closed.Ok());
  EXPECT_EQ(closed.errorNumber, EBADF);
  EXPECT_FALSE(stale.Valid());
}

}  // namespace
}  // namespace rw::platform
