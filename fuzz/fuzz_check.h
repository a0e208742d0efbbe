// Ends the run when a property the fuzz target checks does not hold, so libFuzzer records the
// input.
#pragma once

#include <cstdlib>

namespace rw::fuzz {

inline void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace rw::fuzz
