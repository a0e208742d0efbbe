// Local wall-clock date-time at one-second resolution, formatted with strftime patterns.
// Thread-safe (localtime_r): records are stamped on connection threads.
#pragma once

#include <ctime>
#include <string>

namespace rw::platform {

struct LocalDateTime {
  std::time_t seconds = 0;  // seconds since the epoch; rendered in the local time zone
};

LocalDateTime NowLocal();

// strftime of `when` in local time; empty when the pattern yields nothing or fails.
std::string FormatLocal(LocalDateTime when, const char* pattern);

}  // namespace rw::platform
