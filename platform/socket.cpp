#include "platform/socket.h"

#include <unistd.h>

#include <utility>

namespace rw::platform {

Socket::~Socket() {
  Close();
}

Socket::Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void Socket::Close() {
  if (fd_ >= 0) {
    // No retry on EINTR: on Linux the descriptor is released even when close is interrupted.
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace rw::platform
