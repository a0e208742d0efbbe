#include "platform/read_up_to.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/sys_call_result.h"

namespace rw::platform {

namespace {

// The buffer starts small and doubles: limits are generous (a trust store may be megabytes),
// but most files are a few kilobytes and should not cost the limit in memory while read.
constexpr size_t kFirstStep = size_t{64} * 1024;

}  // namespace

BoundedRead ReadUpTo(int fd, size_t limit) {
  BoundedRead result;
  std::string data;
  size_t got = 0;
  while (got < limit) {
    if (got == data.size()) {
      data.resize(std::min(limit, std::max(kFirstStep, 2 * got)));
    }
    const ssize_t n =
        RetryWhileInterrupted([&] { return ::read(fd, data.data() + got, data.size() - got); });
    if (n < 0) {
      result.errorNumber = errno;
      return result;
    }
    if (n == 0) {
      break;
    }
    got += static_cast<size_t>(n);
  }
  data.resize(got);
  result.data = std::move(data);
  return result;
}

}  // namespace rw::platform
