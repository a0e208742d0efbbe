// Writing a whole byte range through calls that may write only part of it or be interrupted.
// Any thread; the loop is a template so tests can drive it with a scripted write step.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string_view>

#include "platform/file_descriptor.h"
#include "platform/sys_call_result.h"

namespace rw::platform {

// Writes all of `bytes` with `step(data, count)`, a write(2)-like call: continues after short
// writes and retries interruptions. value = the whole size on success; on failure -1 with the
// failing call's errno (EIO when a step wrote nothing), the bytes before it having been written.
template <typename Step>
SysCallResult WriteAllWith(std::string_view bytes, Step step) {
  size_t done = 0;
  while (done < bytes.size()) {
    const auto written =
        RetryWhileInterrupted([&] { return step(bytes.data() + done, bytes.size() - done); });
    if (written < 0) {
      return SysCallResult::Failed(errno);
    }
    if (written == 0) {
      return SysCallResult::Failed(EIO);
    }
    done += static_cast<size_t>(written);
  }
  return SysCallResult::Succeeded(static_cast<ssize_t>(bytes.size()));
}

// WriteAllWith over write(2) on `file`.
SysCallResult WriteAll(const FileDescriptor& file, std::string_view bytes);

}  // namespace rw::platform
