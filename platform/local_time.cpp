#include "platform/local_time.h"

#include <chrono>
#include <cstdio>

namespace rw::platform {

LocalDateTime NowLocal() {
  return LocalDateTime{std::time(nullptr)};
}

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

namespace rw::platform {
namespace {

// Splits into whole seconds and milliseconds rounded towards the past, so that times before the
// epoch still give a millisecond part from 0 to 999.
bool LocalParts(int64_t milliseconds, std::tm& parts, int& millis) {
  int64_t seconds = milliseconds / 1000;
  int64_t rest = milliseconds % 1000;
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  millis = static_cast<int>(rest);
  const auto when = static_cast<std::time_t>(seconds);
  return localtime_r(&when, &parts) != nullptr;
}

}  // namespace

int64_t NowWallMilliseconds() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::system_clock;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string FormatIso8601Local(int64_t milliseconds) {
  std::tm parts{};
  int millis = 0;
  if (!LocalParts(milliseconds, parts, millis)) {
    return {};
  }
  const long offset = parts.tm_gmtoff;
  const long offsetMinutes = (offset < 0 ? -offset : offset) / 60;
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                              parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                              parts.tm_min, parts.tm_sec, millis, offset < 0 ? '-' : '+',
                              offsetMinutes / 60, offsetMinutes % 60);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

std::string FormatLocalTimeOfDay(int64_t milliseconds) {
  std::tm parts{};
  int millis = 0;
  if (!LocalParts(milliseconds, parts, millis)) {
    return {};
  }
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", parts.tm_hour, parts.tm_min,
                              parts.tm_sec, millis);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

}  // namespace rw::platform
