#include "platform/local_time.h"

namespace rw::platform {

LocalDateTime NowLocal() { return LocalDateTime{std::time(nullptr)}; }

std::string FormatLocal(LocalDateTime when, const char* pattern) {
  std::tm parts{};
  if (localtime_r(&when.seconds, &parts) == nullptr) {
    return {};
  }
  char text[128];
  const size_t n = std::strftime(text, sizeof text, pattern, &parts);
  return std::string(text, n);
}

}  // namespace rw::platform
