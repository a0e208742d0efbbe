#include "platform/stamped_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_descriptor.h"
#include "platform/write_all.h"

namespace rw::platform {
namespace {

SysCallResult WriteAt(const FileDescriptor& file, int64_t offset, std::string_view bytes) {
  int64_t at = offset;
  return WriteAllWith(bytes, [&](const char* data, size_t count) {
    const ssize_t n = ::pwrite(file.Get(), data, count, static_cast<off_t>(at));
    if (n > 0) {
      at += n;
    }
    return n;
  });
}

// Writes `bytes` at `offset`, cuts the file after them and syncs.
SysCallResult Replace(const FileDescriptor& file, int64_t offset, std::string_view bytes) {
  if (const SysCallResult written = WriteAt(file, offset, bytes); !written.Ok()) {
    return written;
  }
  if (::ftruncate(file.Get(), static_cast<off_t>(offset + static_cast<int64_t>(bytes.size()))) !=
      0) {
    return SysCallResult::Failed(errno);
  }
  if (::fdatasync(file.Get()) != 0) {
    return SysCallResult::Failed(errno);
  }
  return SysCallResult::Succeeded(static_cast<ssize_t>(bytes.size()));
}

}  // namespace

bool StampOf(int fd, FileStamp& stamp) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return false;
  }
  stamp.device = static_cast<uint64_t>(info.st_dev);
  stamp.inode = static_cast<uint64_t>(info.st_ino);
  stamp.size = static_cast<int64_t>(info.st_size);
  stamp.modifiedSeconds = static_cast<int64_t>(info.st_mtim.tv_sec);
  stamp.modifiedNanoseconds = static_cast<int64_t>(info.st_mtim.tv_nsec);
  return true;
}

StampedWriteResult WriteIntoStampedFile(const std::string& path, const FileStamp& expected,
                                        int64_t offset, std::string_view bytes,
                                        std::string_view restore) {
  StampedWriteResult result;
  // Non-blocking, so that a FIFO put at the path cannot hold the open; its stamp differs anyway.
  const FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!file.Valid()) {
    const int error = errno;
    if (error == ENOENT || error == ELOOP || error == ENXIO || error == EISDIR) {
      // Gone, or a link, a FIFO or a directory put in its place.
      result.outcome = StampedWriteOutcome::kChanged;
    } else {
      result.errorNumber = error;
      result.stamp = expected;  // untouched
      result.stamped = true;
    }
    return result;
  }
  FileStamp found;
  if (!StampOf(file.Get(), found)) {
    result.errorNumber = errno;
    result.stamp = expected;  // untouched
    result.stamped = true;
    return result;
  }
  if (!(found == expected) || offset > found.size) {
    result.outcome = StampedWriteOutcome::kChanged;
    return result;
  }
  const SysCallResult replaced = Replace(file, offset, bytes);
  if (!replaced.Ok()) {
    result.errorNumber = replaced.errorNumber;
    result.stamped = Replace(file, offset, restore).Ok() && StampOf(file.Get(), result.stamp);
    return result;
  }
  if (!StampOf(file.Get(), result.stamp)) {
    result.errorNumber = errno;
    return result;
  }
  result.stamped = true;
  result.outcome = StampedWriteOutcome::kWritten;
  return result;
}

}  // namespace rw::platform
