#include "platform/pipe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace rw::platform {

Pipe::~Pipe() {
  Close();
}

Pipe::Pipe(Pipe&& other) noexcept
    : readFd_(std::exchange(other.readFd_, -1)), writeFd_(std::exchange(other.writeFd_, -1)) {}

Pipe& Pipe::operator=(Pipe&& other) noexcept {
  if (this != &other) {
    Close();
    readFd_ = std::exchange(other.readFd_, -1);
    writeFd_ = std::exchange(other.writeFd_, -1);
  }
  return *this;
}

Pipe Pipe::Create(size_t capacity, int* errorNumber) {
  Pipe pipe;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *errorNumber = errno;
    return pipe;
  }
  pipe.readFd_ = fds[0];
  pipe.writeFd_ = fds[1];
  // Larger than the default 64 KiB where allowed; a refusal leaves the default.
  ::fcntl(pipe.writeFd_, F_SETPIPE_SZ, static_cast<int>(capacity));
  *errorNumber = 0;
  return pipe;
}

void Pipe::Close() {
  if (readFd_ >= 0) {
    ::close(readFd_);
    readFd_ = -1;
  }
  if (writeFd_ >= 0) {
    ::close(writeFd_);
    writeFd_ = -1;
  }
}

SysCallResult SpliceToPipe(const Socket& from, const Pipe& pipe, size_t count) {
  ssize_t n;
  do {
    n = ::splice(from.Fd(), nullptr, pipe.WriteFd(), nullptr, count, SPLICE_F_MOVE);
  } while (n < 0 && errno == EINTR);
  return SysCallResult::FromReturn(n);
}

SysCallResult SpliceFromPipe(const Pipe& pipe, const Socket& to, size_t count) {
  ssize_t n;
  do {
    n = ::splice(pipe.ReadFd(), nullptr, to.Fd(), nullptr, count, SPLICE_F_MOVE);
  } while (n < 0 && errno == EINTR);
  return SysCallResult::FromReturn(n);
}

SysCallResult Peek(const Socket& socket, char* data, size_t capacity) {
  ssize_t n;
  do {
    n = ::recv(socket.Fd(), data, capacity, MSG_PEEK);
  } while (n < 0 && errno == EINTR);
  return SysCallResult::FromReturn(n);
}

}  // namespace rw::platform
