// Whether a directory can take new files, checked before the program relies on it (the log
// directory when auto-logging). Any thread.
#pragma once

#include <string>

namespace rw::platform {

enum class DirectoryState { kUsable, kMissing, kNotADirectory, kNotWritable };

struct DirectoryCheck {
  DirectoryState state = DirectoryState::kUsable;
  int errorNumber = 0;  // the failing call's errno, for kNotWritable (and odd kMissing cases)
};

// Follows symbolic links. Writable means new files can be created in it by this process
// (write and search permission, and not on a read-only file system).
DirectoryCheck CheckDirectory(const std::string& path);

}  // namespace rw::platform
