#include "platform/directory_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace rw::platform {

DirectoryCheck CheckDirectory(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    // ENOTDIR: a component of the path is a file, so the directory does not exist either.
    return DirectoryCheck{error == ENOENT || error == ENOTDIR ? DirectoryState::kMissing
                                                              : DirectoryState::kNotWritable,
                          error};
  }
  if (!S_ISDIR(info.st_mode)) {
    return DirectoryCheck{DirectoryState::kNotADirectory, ENOTDIR};
  }
  if (::access(path.c_str(), W_OK | X_OK) != 0) {
    return DirectoryCheck{DirectoryState::kNotWritable, errno};
  }
  return DirectoryCheck{};
}

}  // namespace rw::platform
