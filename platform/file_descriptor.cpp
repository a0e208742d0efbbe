#include "platform/file_descriptor.h"

#include <unistd.h>

#include <utility>

namespace rw::platform {

FileDescriptor::~FileDescriptor() {
  (void)Close();
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    (void)Close();
    fd = std::exchange(other.fd, -1);
  }
  return *this;
}

SysCallResult FileDescriptor::Close() {
  if (fd < 0) {
    return SysCallResult::Succeeded(0);
  }
  const int closing = std::exchange(fd, -1);
  return SysCallResult::FromReturn(::close(closing));
}

}  // namespace rw::platform
