#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/write_all.h"

namespace rw::platform {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

}  // namespace

bool AppendFile::Open(const std::string& path) {
  if (file.Valid()) {
    error = EBUSY;
    return false;
  }
  error = 0;
  pending.clear();
  FileDescriptor opened(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!opened.Valid()) {
    error = errno;
    return false;
  }
  struct stat info {};
  if (::fstat(opened.Get(), &info) != 0) {
    error = errno;
    return false;
  }
  sizeAtOpen = static_cast<int64_t>(info.st_size);
  file = std::move(opened);
  return true;
}

bool AppendFile::WriteNow(std::string_view bytes) {
  const SysCallResult written = WriteAll(file, bytes);
  if (!written.Ok()) {
    error = written.errorNumber;
  }
  return written.Ok();
}

bool AppendFile::Write(std::string_view bytes) {
  if (!file.Valid() || error != 0) {
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
    return WriteNow(bytes);
  }
  pending.append(bytes);
  return true;
}

bool AppendFile::Flush() {
  if (!file.Valid() || error != 0) {
    if (error == 0) {
      error = EBADF;
    }
    return false;
  }
  const bool ok = WriteNow(pending);
  pending.clear();
  return ok;
}

bool AppendFile::Close() {
  if (!file.Valid()) {
    return false;
  }
  const bool flushed = Flush();
  const SysCallResult closed = file.Close();
  if (!closed.Ok() && error == 0) {
    error = closed.errorNumber;
  }
  return flushed && closed.Ok();
}

void AppendFile::Abandon() {
  if (!file.Valid()) {
    return;
  }
  pending.clear();
  if (::ftruncate(file.Get(), static_cast<off_t>(sizeAtOpen)) != 0) {
    // Nothing more to do: the file keeps a partial tail, which the next pass follows.
  }
  (void)file.Close();
}

}  // namespace rw::platform
