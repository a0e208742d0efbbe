#include "platform/winsock_codes.h"

#include <cerrno>

namespace rw::platform {
namespace {

struct CodePair {
  int errorNumber;
  uint32_t winsockCode;
};

// Spelled out one by one: Linux errno numbers differ from the BSD ones the Winsock codes were
// derived from, so 10000 + errno would be wrong.
constexpr CodePair kCodes[] = {
    {EINTR, 10004},         {EACCES, 10013},       {EPERM, 10013},        {EFAULT, 10014},
    {EINVAL, 10022},        {EMFILE, 10024},       {ENFILE, 10024},       {EAGAIN, 10035},
    {EINPROGRESS, 10036},   {EALREADY, 10037},     {ENOTSOCK, 10038},     {EBADF, 10038},
    {EMSGSIZE, 10040},      {EOPNOTSUPP, 10045},   {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},  {ECONNRESET, 10054},   {ENOBUFS, 10055},      {ENOMEM, 10055},
    {EISCONN, 10056},       {ENOTCONN, 10057},     {ESHUTDOWN, 10058},    {EPIPE, 10058},
    {ETIMEDOUT, 10060},     {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065},
};

}  // namespace

uint32_t WinsockCodeFromErrno(int errorNumber) {
  for (const CodePair& pair : kCodes) {
    if (pair.errorNumber == errorNumber) {
      return pair.winsockCode;
    }
  }
  return static_cast<uint32_t>(errorNumber);
}

}  // namespace rw::platform
