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

TEST(SocketErrorText, AListenFailureNamesItsOwnCause) {
  const struct {
    int port;
    int errorNumber;
    const char* text;
  } rows[] = {
      {8010, EADDRINUSE, "Address already in use (port 8010)"},
      // The table's text for EACCES speaks of broadcast sends: the system's words fit a bind.
      {80, EACCES, "Permission denied (port 80)"},
      {8010, EINVAL, "Invalid argument (port 8010)"},
      {8010, ENOTSOCK, "The descriptor is not a socket."},
      {0, EINVAL, "No port is set: enter a port from 1 to 65535."},
      {99999, EINVAL, "The port 99999 is not between 1 and 65535."},
      {-5, EINVAL, "The port -5 is not between 1 and 65535."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ListenErrorText(row.port, row.errorNumber), row.text);
  }
}

}  // namespace
}  // namespace rw::proxy
