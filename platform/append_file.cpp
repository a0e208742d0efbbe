#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error_text.h"
#include "platform/write_all.h"

namespace rw::platform {
namespace {

constexpr size_t kBufferSize = size_t{64} * 1024;

}  // namespace

bool AppendFile::Open(const std::string& path) {
  return OpenWith(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, false);
}

bool AppendFile::OpenPrivate(const std::string& path, Creation creation) {
  // Non-blocking, so that a FIFO planted at the path cannot hold the open until a reader comes.
  int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  if (creation == Creation::kCreateNew) {
    flags |= O_EXCL;
  }
  if (!OpenWith(path, flags, true)) {
    return false;
  }
  if (creation == Creation::kCreateNew) {
    createdPath = path;
  }
  return true;
}

bool AppendFile::OpenWith(const std::string& path, int flags, bool privateFile) {
  if (file.Valid()) {
    error = EBUSY;
    return false;
  }
  error = 0;
  refusal = Refusal::kNone;
  createdPath.clear();
  pending.clear();
  FileDescriptor opened(::open(path.c_str(), flags, 0600));
  if (!opened.Valid()) {
    error = errno;
    if (error == ELOOP) {
      refusal = Refusal::kSymbolicLink;
    } else if (error == ENXIO) {
      refusal = Refusal::kNotRegular;  // a FIFO without a reader, or a device
    }
    return false;
  }
  struct stat info {};
  if (::fstat(opened.Get(), &info) != 0) {
    error = errno;
    return false;
  }
  if (privateFile) {
    if (!S_ISREG(info.st_mode)) {
      error = EINVAL;
      refusal = Refusal::kNotRegular;
      return false;
    }
    if (info.st_uid != ::geteuid()) {
      error = EPERM;
      refusal = Refusal::kOtherOwner;
      return false;
    }
    if ((info.st_mode & 07777) != 0600 && ::fchmod(opened.Get(), 0600) != 0) {
      error = errno;
      return false;
    }
  }
  sizeAtOpen = static_cast<int64_t>(info.st_size);
  file = std::move(opened);
  return true;
}

std::string AppendFile::Problem() const {
  switch (refusal) {
    case Refusal::kSymbolicLink:
      return "it is a symbolic link, which is not followed";
    case Refusal::kNotRegular:
      return "it is not a regular file";
    case Refusal::kOtherOwner:
      return "it belongs to another user";
    case Refusal::kNone:
      break;
  }
  return ErrorText(error);
}

void AppendFile::RemoveCreated() {
  if (!file.Valid() || createdPath.empty()) {
    return;
  }
  pending.clear();
  (void)file.Close();
  ::unlink(createdPath.c_str());
  createdPath.clear();
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
