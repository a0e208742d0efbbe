#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/write_all.h"

namespace rw::platform {
namespace {

constexpr size_t kBufferSize = size_t{64} * 1024;

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
  file = FileDescriptor(::mkostemp(name.data(), O_CLOEXEC));
  if (!file.Valid()) {
    return Fail(errno);
  }
  temporary.assign(name.data());
  return true;
}

bool ReplacingFile::WriteNow(std::string_view bytes) {
  const SysCallResult written = WriteAll(file, bytes);
  return written.Ok() || Fail(written.errorNumber);
}

bool ReplacingFile::Flush() {
  if (!file.Valid() || error != 0) {
    return Fail(EBADF);
  }
  const bool ok = WriteNow(pending);
  pending.clear();
  return ok;
}

bool ReplacingFile::Write(std::string_view bytes) {
  if (!file.Valid() || error != 0) {
    return Fail(EBADF);
  }
  size += static_cast<int64_t>(bytes.size());
  if (pending.size() + bytes.size() > kBufferSize && !Flush()) {
    return false;
  }
  if (bytes.size() >= kBufferSize) {
    return WriteNow(bytes);
  }
  pending.append(bytes);
  return true;
}

bool ReplacingFile::Commit() {
  if (!file.Valid()) {
    return Fail(EBADF);
  }
  if (!Flush()) {
    Abandon();
    return false;
  }
  if (::fsync(file.Get()) != 0) {
    Fail(errno);
    Abandon();
    return false;
  }
  if (!StampOf(file.Get(), stamp)) {
    Fail(errno);
    Abandon();
    return false;
  }
  if (const SysCallResult closed = file.Close(); !closed.Ok()) {
    Fail(closed.errorNumber);
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
  (void)file.Close();
  if (!temporary.empty()) {
    ::unlink(temporary.c_str());
    temporary.clear();
  }
  pending.clear();
}

}  // namespace rw::platform
