// Reading a small file's bytes through a descriptor, with a bound on how many are taken. Any
// thread; the caller owns the descriptor.
#pragma once

#include <cstddef>
#include <string>

namespace rw::platform {

struct BoundedRead {
  std::string data;
  int errorNumber = 0;  // non-zero when a read failed; data is then empty
};

// Reads from `fd` until its end or until `limit` bytes are in; a caller that asks for one byte
// more than it allows tells a file that is too large from one that just fits.
BoundedRead ReadUpTo(int fd, size_t limit);

}  // namespace rw::platform
