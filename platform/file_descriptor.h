// A move-only owner of one open descriptor (socket, pipe end, file or directory) that closes it
// when destroyed, so every path out of a function closes what it opened. Used by one thread at a
// time.
#pragma once

#include "platform/sys_call_result.h"

namespace rw::platform {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  // Takes ownership of `fd`; -1 (or any negative value) owns nothing.
  explicit FileDescriptor(int descriptor) : fd(descriptor < 0 ? -1 : descriptor) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd; }
  bool Valid() const { return fd >= 0; }

  // Closes now, for callers that must know whether the last writes reached the file. Never
  // retried: on Linux the descriptor is released even when close is interrupted. Closing an
  // empty owner succeeds.
  SysCallResult Close();

 private:
  int fd = -1;
};

}  // namespace rw::platform
