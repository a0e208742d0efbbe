// A move-only owner of one socket descriptor; closes it when destroyed.
// Owned by exactly one thread at a time (the listener, the accept thread or a connection thread).
#pragma once

#include "platform/file_descriptor.h"

namespace rw::platform {

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : descriptor(fd) {}

  int Fd() const { return descriptor.Get(); }
  bool Valid() const { return descriptor.Valid(); }
  // Closes now; failures are not reported (nothing useful can be done with them).
  void Close() { (void)descriptor.Close(); }

 private:
  FileDescriptor descriptor;
};

}  // namespace rw::platform
