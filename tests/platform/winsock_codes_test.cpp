#include "platform/winsock_codes.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cerrno>

#include "platform/os_sys_calls.h"

namespace rw::platform {
namespace {

// The failures the listener and the server connection meet, made for real on loopback: each
// must reach the user under its Windows Sockets code, not under 10000 plus the Linux number.
TEST(WinsockCodes, RealSocketFailuresGetTheirWindowsSocketsCodes) {
  SocketResult bound = CreateTcpSocket();
  ASSERT_TRUE(bound.value.Valid());
  ASSERT_TRUE(BindIPv4(bound.value, INADDR_LOOPBACK, 0).Ok());
  const SysCallResult port = LocalPort(bound.value);
  ASSERT_TRUE(port.Ok());

  // Bound but not listening: connecting is refused.
  SocketResult client = CreateTcpSocket();
  const SysCallResult refused =
      ConnectIPv4(client.value, htonl(INADDR_LOOPBACK), static_cast<uint16_t>(port.value));
  ASSERT_FALSE(refused.Ok());
  EXPECT_EQ(WinsockCodeFromErrno(refused.errorNumber), 10061u);

  // The same port again: in use.
  SocketResult second = CreateTcpSocket();
  const SysCallResult inUse =
      BindIPv4(second.value, INADDR_LOOPBACK, static_cast<uint16_t>(port.value));
  ASSERT_FALSE(inUse.Ok());
  EXPECT_EQ(WinsockCodeFromErrno(inUse.errorNumber), 10048u);

  // Receiving on a socket that never connected.
  char byte;
  const SysCallResult notConnected = Recv(second.value, &byte, 1);
  ASSERT_FALSE(notConnected.Ok());
  EXPECT_EQ(WinsockCodeFromErrno(notConnected.errorNumber), 10057u);
}

TEST(WinsockCodes, ErrorsWithoutACodeKeepTheirOwnNumber) {
  EXPECT_EQ(WinsockCodeFromErrno(0), 0u);  // no error
  EXPECT_EQ(WinsockCodeFromErrno(ENOENT), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(WinsockCodeFromErrno(EROFS), static_cast<uint32_t>(EROFS));
}

}  // namespace
}  // namespace rw::platform
