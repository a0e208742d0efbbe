#include "platform/ticks.h"

#include <atomic>
#include <ctime>

namespace rw::platform {
namespace {

uint32_t MonotonicTicks() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

// Atomic so that a test swapping the source never races a reader on another thread.
std::atomic<TickSource> gSource{&MonotonicTicks};

}  // namespace

uint32_t NowTicks() {
  return gSource.load(std::memory_order_relaxed)();
}

void SetTickSource(TickSource source) {
  gSource.store(source != nullptr ? source : &MonotonicTicks, std::memory_order_relaxed);
}

}  // namespace rw::platform
