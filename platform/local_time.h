// Local wall-clock date-time at one-second resolution, formatted with strftime patterns.
// Thread-safe (localtime_r): records are stamped on connection threads.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace rw::platform {

struct LocalDateTime {
  std::time_t seconds = 0;  // seconds since the epoch; rendered in the local time zone
};

LocalDateTime NowLocal();

// strftime of `when` in local time; empty when the pattern yields nothing or fails.
std::string FormatLocal(LocalDateTime when, const char* pattern);

// Wall-clock milliseconds since the epoch, for stamps that need more than one-second resolution.
int64_t NowWallMilliseconds();

// `milliseconds` in local time as ISO 8601 with milliseconds and the zone's offset:
// "2026-12-08T22:35:01.123+01:00". Empty when the time cannot be converted.
std::string FormatIso8601Local(int64_t milliseconds);

// Local time of day with milliseconds, "22:35:01.123".
std::string FormatLocalTimeOfDay(int64_t milliseconds);

}  // namespace rw::platform
