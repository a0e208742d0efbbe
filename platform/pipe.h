// A move-only kernel pipe used to move socket bytes without copying them through user space;
// closes both ends when destroyed. Owned by one connection thread.
#pragma once

#include <cstddef>

#include "platform/os_sys_calls.h"

namespace rw::platform {

class Pipe {
 public:
  Pipe() = default;
  ~Pipe();
  Pipe(Pipe&& other) noexcept;
  Pipe& operator=(Pipe&& other) noexcept;
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  // A close-on-exec pipe; invalid (with the error) on failure. Asks for `capacity` bytes of room
  // and keeps what the system grants.
  static Pipe Create(size_t capacity, int* errorNumber);

  bool Valid() const { return readFd_ >= 0; }
  int ReadFd() const { return readFd_; }
  int WriteFd() const { return writeFd_; }
  void Close();

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

// Moves up to `count` bytes from a socket into the pipe without copying; waits for data like
// recv. value 0 = the peer closed.
SysCallResult SpliceToPipe(const Socket& from, const Pipe& pipe, size_t count);
// Moves up to `count` bytes from the pipe to a socket; waits for room like send.
SysCallResult SpliceFromPipe(const Pipe& pipe, const Socket& to, size_t count);
// Copies up to `capacity` bytes from the front of the socket's received data without removing
// them.
SysCallResult Peek(const Socket& socket, char* data, size_t capacity);

}  // namespace rw::platform
