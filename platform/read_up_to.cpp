#include "platform/read_up_to.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/sys_call_result.h"

namespace rw::platform {

BoundedRead ReadUpTo(int fd, size_t limit) {
  BoundedRead result;
  std::string data(limit, '\0');
  size_t got = 0;
  while (got < data.size()) {
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
