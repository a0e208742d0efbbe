#include "platform/os_sys_calls.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cerrno>

namespace rw::platform {
namespace {

// The resolver's failures are its own kind: they never pass for an errno (whose text would be
// some unrelated socket error).
TEST(OsSysCalls, ResolverFailuresAreReportedAsResolverErrors) {
  const ResolveResult loopback = ResolveIPv4("127.0.0.1");
  EXPECT_TRUE(loopback.Ok());
  EXPECT_EQ(loopback.netOrderAddress, htonl(INADDR_LOOPBACK));

  const ResolveResult empty = ResolveIPv4("");
  EXPECT_FALSE(empty.Ok());
  EXPECT_EQ(empty.netOrderAddress, 0u);
  EXPECT_EQ(empty.error, ResolveError::kNoSuchName);
  EXPECT_EQ(empty.systemError, 0);
}

// Every result has the same shape: a value and the errno of a failure, never a failure without
// one, so Ok() cannot take a failure for success.
TEST(OsSysCalls, FailedCallsCarryTheirErrorNumber) {
  errno = 0;
  const SysCallResult unexplained = SysCallResult::FromReturn(-1);
  EXPECT_FALSE(unexplained.Ok());
  EXPECT_EQ(unexplained.value, -1);
  EXPECT_NE(unexplained.errorNumber, 0);

  SocketResult socket = CreateTcpSocket();
  ASSERT_TRUE(socket.Ok());
  ASSERT_TRUE(socket.value.Valid());
  // Accepting on a socket that does not listen fails, and leaves no socket.
  const SocketResult accepted = Accept(socket.value);
  EXPECT_FALSE(accepted.Ok());
  EXPECT_EQ(accepted.errorNumber, EINVAL);
  EXPECT_FALSE(accepted.value.Valid());
}

}  // namespace
}  // namespace rw::platform
