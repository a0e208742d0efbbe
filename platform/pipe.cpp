#include "platform/pipe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace rw::platform {

Pipe Pipe::Create(size_t capacity) {
  Pipe pipe;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    pipe.createError = errno;
    return pipe;
  }
  pipe.readEnd = FileDescriptor(fds[0]);
  pipe.writeEnd = FileDescriptor(fds[1]);
  // Larger than the default 64 KiB where allowed; a refusal leaves the default.
  ::fcntl(pipe.WriteFd(), F_SETPIPE_SZ, static_cast<int>(capacity));
  return pipe;
}

void Pipe::Close() {
  (void)readEnd.Close();
  (void)writeEnd.Close();
}

SysCallResult SpliceToPipe(const Socket& from, const Pipe& pipe, size_t count) {
  return SysCallResult::FromReturn(RetryWhileInterrupted([&] {
    return ::splice(from.Fd(), nullptr, pipe.WriteFd(), nullptr, count,
                    SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  }));
}

SysCallResult SpliceFromPipe(const Pipe& pipe, const Socket& to, size_t count) {
  return SysCallResult::FromReturn(RetryWhileInterrupted([&] {
    return ::splice(pipe.ReadFd(), nullptr, to.Fd(), nullptr, count,
                    SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  }));
}

}  // namespace rw::platform
