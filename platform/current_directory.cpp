#include "platform/current_directory.h"

#include <limits.h>
#include <unistd.h>

namespace rw::platform {

std::string CurrentDirectory() {
  char path[PATH_MAX];
  if (::getcwd(path, sizeof path) == nullptr) {
    return {};
  }
  return std::string(path);
}

}  // namespace rw::platform
