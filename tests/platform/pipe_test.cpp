#include "platform/pipe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "platform/os_sys_calls.h"
#include "tests/support/open_descriptors.h"

namespace rw::platform {
namespace {

// A connected pair of loopback TCP sockets.
struct SocketPair {
  Socket client;
  Socket server;
};

SocketPair ConnectedPair() {
  SocketPair pair;
  SocketResult listening = CreateTcpSocket();
  if (!listening.value.Valid() || !BindIPv4(listening.value, INADDR_LOOPBACK, 0).Ok() ||
      !Listen(listening.value, 1).Ok()) {
    return pair;
  }
  const SysCallResult port = LocalPort(listening.value);
  SocketResult client = CreateTcpSocket();
  if (!port.Ok() ||
      !ConnectIPv4(client.value, htonl(INADDR_LOOPBACK), static_cast<uint16_t>(port.value)).Ok()) {
    return pair;
  }
  pair.client = std::move(client.value);
  pair.server = Accept(listening.value).value;
  return pair;
}

TEST(Pipe, MovesSocketBytesThroughWithoutLosingAny) {
  SocketPair from = ConnectedPair();
  SocketPair to = ConnectedPair();
  ASSERT_TRUE(from.server.Valid() && to.server.Valid());
  Pipe pipe = Pipe::Create(256 * 1024);
  ASSERT_TRUE(pipe.Valid());
  EXPECT_NE(::fcntl(pipe.ReadFd(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(::fcntl(pipe.WriteFd(), F_GETFD) & FD_CLOEXEC, 0);

  const std::string text = "HTTP/1.1 200 OK\r\n\r\nbody";
  ASSERT_EQ(Send(from.client, text.data(), text.size()).value, static_cast<ssize_t>(text.size()));
  char peeked[8];
  ASSERT_EQ(Peek(from.server, peeked, sizeof peeked).value, 8);
  EXPECT_EQ(std::string(peeked, 8), "HTTP/1.1");  // left in place for the splice

  size_t moved = 0;
  while (moved < text.size()) {
    const SysCallResult in = SpliceToPipe(from.server, pipe, text.size() - moved);
    ASSERT_GT(in.value, 0);
    const SysCallResult out = SpliceFromPipe(pipe, to.client, static_cast<size_t>(in.value));
    ASSERT_EQ(out.value, in.value);
    moved += static_cast<size_t>(in.value);
  }
  std::string received(text.size(), '\0');
  size_t got = 0;
  while (got < text.size()) {
    const SysCallResult n = Recv(to.server, received.data() + got, text.size() - got);
    ASSERT_GT(n.value, 0);
    got += static_cast<size_t>(n.value);
  }
  EXPECT_EQ(received, text);

  from.client.Close();
  EXPECT_EQ(SpliceToPipe(from.server, pipe, 100).value, 0);  // the peer closed
}

TEST(Pipe, CreateFailureIsReportedAndEveryEndIsClosed) {
  const int before = rw::testing::OpenDescriptorCount();
  {
    Pipe pipe = Pipe::Create(64 * 1024);
    ASSERT_TRUE(pipe.Valid());
    Pipe moved = std::move(pipe);
    EXPECT_FALSE(pipe.Valid());
    EXPECT_TRUE(moved.Valid());
  }
  {
    Pipe closed = Pipe::Create(64 * 1024);
    closed.Close();
    EXPECT_FALSE(closed.Valid());
  }
  EXPECT_EQ(rw::testing::OpenDescriptorCount(), before);

  // No descriptor left to give: the pipe is invalid and says why. Descriptors are numbered from
  // the lowest free one, so a limit of that number leaves none.
  const int lowestFree = ::dup(0);
  ASSERT_GE(lowestFree, 0);
  ::close(lowestFree);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  Pipe refused = Pipe::Create(64 * 1024);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(refused.Valid());
  EXPECT_EQ(refused.CreateError(), EMFILE);
  EXPECT_EQ(rw::testing::OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace rw::platform
