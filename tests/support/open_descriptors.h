// How many descriptors the test process has open, to check that every path closes what it
// opened. Only meaningful while no other thread opens or closes descriptors.
#pragma once

#include <filesystem>

namespace rw::testing {

inline int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

}  // namespace rw::testing
