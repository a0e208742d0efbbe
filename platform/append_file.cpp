#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace rw::platform {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

}  // namespace

AppendFile::~AppendFile() {
  if (fd >= 0) {
    ::close(fd);
  }
}

bool AppendFile::Open(const std::string& path) {
  if (fd >= 0) {
    error = EBUSY;
    return false;
  }
  error = 0;
  pending.clear();
  fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno;
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = errno;
    ::close(fd);
    fd = -1;
    return false;
  }
  sizeAtOpen = static_cast<int64_t>(info.st_size);
  return true;
}

bool AppendFile::WriteAll(const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      return false;
    }
    if (n == 0) {
      error = EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool AppendFile::Write(std::string_view bytes) {
  if (fd < 0 || error != 0) {
    if (error == 0) {
      error = EBADF;
    }
    return false;
  }
  if (pending.size() + bytes.size() <= kBufferSize) {
    pending.append(bytes);
    return true;
  }
  if (!Flush()) {
    return false;
  }
  if (bytes.size() >= kBufferSize) {
    return WriteAll(bytes.data(), bytes.size());
  }
  pending.append(bytes);
  return true;
}

bool AppendFile::Flush() {
  if (fd < 0 || error != 0) {
    if (error == 0) {
      error = EBADF;
    }
    return false;
  }
  const bool ok = WriteAll(pending.data(), pending.size());
  pending.clear();
  return ok;
}

bool AppendFile::Close() {
  if (fd < 0) {
    return false;
  }
  const bool flushed = Flush();
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0 && error == 0) {
    error = errno;
  }
  return flushed && closed == 0;
}

void AppendFile::Abandon() {
  if (fd < 0) {
    return;
  }
  pending.clear();
  if (::ftruncate(fd, static_cast<off_t>(sizeAtOpen)) != 0) {
    // Nothing more to do: the file keeps a partial tail, which the next pass follows.
  }
  ::close(fd);
  fd = -1;
}

}  // namespace rw::platform
