#include "capture_test_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "platform/ticks.h"

namespace rw::capture::testing {
namespace {

std::atomic<uint32_t> gManualTick{0};

uint32_t ManualTick() {
  return gManualTick.load();
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

int FileMode(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return -1;
  }
  return static_cast<int>(info.st_mode & 07777);
}

ManualTicks::ManualTicks() {
  platform::SetTickSource(&ManualTick);
}

ManualTicks::~ManualTicks() {
  platform::SetTickSource(nullptr);
}

void ManualTicks::Set(uint32_t value) {
  gManualTick.store(value);
}

}  // namespace rw::capture::testing

// Replacing the global allocation functions lets one test make a chosen allocation fail. Only
// the thread that armed it is affected, and only once.
namespace {

thread_local size_t tFailAtLeast = 0;
thread_local bool tFired = false;

}  // namespace

void* operator new(size_t size) {
  if (tFailAtLeast != 0 && size >= tFailAtLeast) {
    tFailAtLeast = 0;
    tFired = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  std::free(p);
}

void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

namespace rw::capture::testing {

FailNextAllocation::FailNextAllocation(size_t minimumSize) {
  tFired = false;
  tFailAtLeast = minimumSize == 0 ? 1 : minimumSize;
}

FailNextAllocation::~FailNextAllocation() {
  tFailAtLeast = 0;
}

bool FailNextAllocation::Fired() const {
  return tFired;
}

}  // namespace rw::capture::testing
