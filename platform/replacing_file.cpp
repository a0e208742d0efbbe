#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace rw::platform {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

std::string TemporaryPattern(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Hidden, so that a directory listing taken mid-write does not offer it as a capture.
  return dir + "." + name + ".XXXXXX";
}

}  // namespace

ReplacingFile::~ReplacingFile() {
  Abandon();
}

bool ReplacingFile::Fail(int errorNumber) {
  if (error == 0) {
    error = errorNumber != 0 ? errorNumber : EIO;
  }
  return false;
}

bool ReplacingFile::Begin(const std::string& path) {
  Abandon();
  error = 0;
  size = 0;
  pending.clear();
  target = path;
  std::string pattern = TemporaryPattern(path);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    return Fail(errno);
  }
  temporary.assign(name.data());
  return true;
}

bool ReplacingFile::WriteAll(const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Fail(errno);
    }
    if (n == 0) {
      return Fail(EIO);
    }
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool ReplacingFile::Flush() {
  if (fd < 0 || error != 0) {
    return Fail(EBADF);
  }
  const bool ok = WriteAll(pending.data(), pending.size());
  pending.clear();
  return ok;
}

bool ReplacingFile::Write(std::string_view bytes) {
  if (fd < 0 || error != 0) {
    return Fail(EBADF);
  }
  size += static_cast<int64_t>(bytes.size());
  if (pending.size() + bytes.size() > kBufferSize && !Flush()) {
    return false;
  }
  if (bytes.size() >= kBufferSize) {
    return WriteAll(bytes.data(), bytes.size());
  }
  pending.append(bytes);
  return true;
}

bool ReplacingFile::CopyFromCurrent(int64_t length) {
  if (fd < 0 || error != 0) {
    return Fail(EBADF);
  }
  const int source = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    return Fail(errno);
  }
  std::vector<char> buffer(kBufferSize);
  int64_t left = length;
  bool ok = true;
  while (ok && left > 0) {
    const size_t want =
        left < static_cast<int64_t>(buffer.size()) ? static_cast<size_t>(left) : buffer.size();
    const ssize_t n = ::read(source, buffer.data(), want);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // Shorter than what was written there: the file was changed behind our back.
      ok = Fail(n < 0 ? errno : EIO);
      break;
    }
    ok = Write(std::string_view(buffer.data(), static_cast<size_t>(n)));
    left -= n;
  }
  ::close(source);
  return ok;
}

bool ReplacingFile::Commit() {
  if (fd < 0) {
    return Fail(EBADF);
  }
  if (!Flush()) {
    Abandon();
    return false;
  }
  if (::fsync(fd) != 0) {
    Fail(errno);
    Abandon();
    return false;
  }
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) {
    Fail(errno);
    Abandon();
    return false;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    Fail(errno);
    Abandon();
    return false;
  }
  temporary.clear();
  return true;
}

void ReplacingFile::Abandon() {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  if (!temporary.empty()) {
    ::unlink(temporary.c_str());
    temporary.clear();
  }
  pending.clear();
}

}  // namespace rw::platform
