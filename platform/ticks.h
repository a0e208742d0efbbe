// The millisecond tick counter: 32 bits from a monotonic clock, wrapping every 49.7 days; durations
// are differences of ticks, so they stay right across the wrap.
// Any thread may read it; tests replace the source before starting threads.
#pragma once

#include <cstdint>

namespace rw::platform {

using TickSource = uint32_t (*)();

// Current tick. Durations are 32-bit signed differences, so they survive a wrap.
uint32_t NowTicks();

// Signed difference later - earlier, correct across a wrap of the counter.
inline int32_t TickDifference(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

// Replaces the clock (nullptr restores the monotonic clock). Not for use while other threads read.
void SetTickSource(TickSource source);

}  // namespace rw::platform
