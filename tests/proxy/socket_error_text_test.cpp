#include "proxy/socket_error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/winsock_codes.h"

namespace rw::proxy {
namespace {

TEST(SocketErrorText, TableTextsAndFallback) {
  EXPECT_EQ(SocketErrorText(0), "");
  EXPECT_EQ(SocketErrorText(10022), "The socket has not been bound with Bind.");
  EXPECT_EQ(SocketErrorText(10054), "Connection reset");
  EXPECT_EQ(SocketErrorText(10060), "Winsock error = (10060)");
  // The longest text has 126 characters.
  EXPECT_EQ(SocketErrorText(10040).size(), 126u);
}

TEST(SocketErrorText, LinuxErrnoMapsToWinsockCodesExplicitly) {
  struct Row {
    int errorNumber;
    uint32_t code;
  };
  const std::vector<Row> rows = {
      {EACCES, 10013},       {EPERM, 10013},         {EFAULT, 10014},
      {EINVAL, 10022},       {EAGAIN, 10035},        {EINPROGRESS, 10036},
      {ENOTSOCK, 10038},     {EBADF, 10038},         {EMSGSIZE, 10040},
      {EOPNOTSUPP, 10045},   {ENETDOWN, 10050},      {ENETRESET, 10052},
      {ECONNABORTED, 10053}, {ECONNRESET, 10054},    {ENOBUFS, 10055},
      {ENOMEM, 10055},       {ENOTCONN, 10057},      {ESHUTDOWN, 10058},
      {EPIPE, 10058},        {EINTR, 10004},         {EMFILE, 10024},
      {ENFILE, 10024},       {EALREADY, 10037},      {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049}, {ENETUNREACH, 10051},
      {EISCONN, 10056},      {ETIMEDOUT, 10060},     {ECONNREFUSED, 10061},
      {EHOSTUNREACH, 10065}, {ENOENT, ENOENT},       {0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.errorNumber);
    EXPECT_EQ(platform::WinsockCodeFromErrno(row.errorNumber), row.code);
  }
  EXPECT_EQ(ErrnoErrorText(ECONNRESET), "Connection reset");
  EXPECT_EQ(ErrnoErrorText(EADDRINUSE), "Winsock error = (10048)");
  EXPECT_EQ(ErrnoErrorText(ENOENT), "Winsock error = (2)");
}

}  // namespace
}  // namespace rw::proxy
