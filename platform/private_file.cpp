#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_descriptor.h"
#include "platform/read_up_to.h"
#include "platform/write_all.h"

namespace rw::platform {

ReadFileResult ReadWholeFile(const std::string& path, size_t maxBytes, LinkRule links) {
  ReadFileResult result;
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | (links == LinkRule::kRefuse ? O_NOFOLLOW : 0);
  // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open; it is refused below.
  const FileDescriptor file(
      RetryWhileInterrupted([&] { return ::open(path.c_str(), flags | O_NONBLOCK); }));
  if (!file.Valid()) {
    result.errorNumber = errno;
    return result;
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    result.errorNumber = errno;
    return result;
  }
  result.facts.regular = S_ISREG(info.st_mode);
  result.facts.permissions = info.st_mode & 07777;
  result.facts.owner = info.st_uid;
  if (!result.facts.regular) {
    result.errorNumber = EINVAL;
    return result;
  }
  BoundedRead read = ReadUpTo(file.Get(), maxBytes + 1);
  if (read.errorNumber != 0) {
    result.errorNumber = read.errorNumber;
    return result;
  }
  if (read.data.size() > maxBytes) {
    result.errorNumber = EFBIG;
    return result;
  }
  result.data = std::move(read.data);
  return result;
}

SysCallResult CreateFileExclusive(const std::string& path, uint32_t permissions,
                                  std::string_view bytes) {
  FileDescriptor file(RetryWhileInterrupted([&] {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(permissions));
  }));
  if (!file.Valid()) {
    return SysCallResult::Failed(errno);
  }
  auto fail = [&](int error) {
    (void)file.Close();
    ::unlink(path.c_str());
    return SysCallResult::Failed(error);
  };
  if (::fchmod(file.Get(), static_cast<mode_t>(permissions)) != 0) {
    return fail(errno);
  }
  if (const SysCallResult written = WriteAll(file, bytes); !written.Ok()) {
    return fail(written.errorNumber);
  }
  if (::fsync(file.Get()) != 0) {
    return fail(errno);
  }
  if (const SysCallResult closed = file.Close(); !closed.Ok()) {
    return fail(closed.errorNumber);
  }
  return SysCallResult::Succeeded(static_cast<ssize_t>(bytes.size()));
}

SysCallResult EnsurePrivateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) {
    return SysCallResult::Succeeded(0);
  }
  if (errno != EEXIST) {
    return SysCallResult::Failed(errno);
  }
  // Opened without following a link, then judged and narrowed through the descriptor, so the
  // directory checked is the one changed.
  const FileDescriptor directory(
      ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.Valid()) {
    return SysCallResult::Failed(errno == ELOOP ? ENOTDIR : errno);
  }
  struct stat info {};
  if (::fstat(directory.Get(), &info) != 0) {
    return SysCallResult::Failed(errno);
  }
  if (info.st_uid != ::geteuid()) {
    return SysCallResult::Failed(EPERM);
  }
  if ((info.st_mode & 07777) != 0700 && ::fchmod(directory.Get(), 0700) != 0) {
    return SysCallResult::Failed(errno);
  }
  return SysCallResult::Succeeded(0);
}

SysCallResult PathExists(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    return SysCallResult::Succeeded(1);
  }
  if (errno == ENOENT) {
    return SysCallResult::Succeeded(0);
  }
  return SysCallResult::Failed(errno);
}

SysCallResult RemoveFile(const std::string& path) {
  return SysCallResult::FromReturn(::unlink(path.c_str()));
}

uid_t CurrentUser() {
  return ::geteuid();
}

}  // namespace rw::platform
