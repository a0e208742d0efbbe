#include "platform/write_all.h"

#include <unistd.h>

namespace rw::platform {

SysCallResult WriteAll(const FileDescriptor& file, std::string_view bytes) {
  return WriteAllWith(
      bytes, [&file](const char* data, size_t count) { return ::write(file.Get(), data, count); });
}

}  // namespace rw::platform
