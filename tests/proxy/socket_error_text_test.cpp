#include "proxy/socket_error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace rw::proxy {
namespace {

TEST(SocketErrorText, KnownCodesHaveTheirTextOthersShowTheirNumber) {
  EXPECT_EQ(SocketErrorText(0), "");
  EXPECT_EQ(SocketErrorText(10022), "The socket has not been bound with Bind.");
  EXPECT_EQ(SocketErrorText(10054), "Connection reset");
  EXPECT_EQ(SocketErrorText(10060), "Winsock error = (10060)");
}

TEST(SocketErrorText, LinuxErrorsAreDescribedThroughTheirWindowsSocketsCode) {
  EXPECT_EQ(ErrnoErrorText(ECONNRESET), "Connection reset");
  EXPECT_EQ(ErrnoErrorText(EADDRINUSE), "Winsock error = (10048)");
  EXPECT_EQ(ErrnoErrorText(ENOENT), "Winsock error = (2)");
  EXPECT_EQ(ErrnoErrorText(0), "");
}

}  // namespace
}  // namespace rw::proxy
