// A move-only kernel pipe used to move socket bytes without copying them through user space;
// closes both ends when destroyed. Owned by one connection thread.
#pragma once

#include <cstddef>

#include "platform/file_descriptor.h"
#include "platform/os_sys_calls.h"

namespace rw::platform {

class Pipe {
 public:
  Pipe() = default;

  // A close-on-exec pipe asking for `capacity` bytes of room (it keeps what the system grants).
  // On failure the pipe is not Valid() and CreateError() gives the errno.
  static Pipe Create(size_t capacity);

  bool Valid() const { return readEnd.Valid(); }
  int CreateError() const { return createError; }
  int ReadFd() const { return readEnd.Get(); }
  int WriteFd() const { return writeEnd.Get(); }
  void Close();

 private:
  FileDescriptor readEnd;
  FileDescriptor writeEnd;
  int createError = 0;
};

// Moves up to `count` bytes from a socket into the pipe without copying; never waits on the pipe
// (EAGAIN when it is full), and on the socket only if the socket blocks. value 0 = the peer closed.
SysCallResult SpliceToPipe(const Socket& from, const Pipe& pipe, size_t count);
// Moves up to `count` bytes from the pipe to a socket; EAGAIN when the pipe is empty, and when the
// socket is non-blocking and has no room.
SysCallResult SpliceFromPipe(const Pipe& pipe, const Socket& to, size_t count);

}  // namespace rw::platform
