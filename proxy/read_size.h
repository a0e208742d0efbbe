// How much one read on a side asks for. Reads start small and grow while they come back full, so
// an exchange of small pages never holds large buffers. Owned by one connection thread.
#pragma once

#include <algorithm>
#include <cstddef>

namespace rw::proxy {

class ReadSize {
 public:
  // The first read of an exchange; reads that come back full double it, up to the largest.
  static constexpr size_t kFirst = size_t{16} * 1024;

  void SetLargest(size_t bytes) {
    largest = bytes;
    Restart();
  }
  size_t Get() const { return current; }
  void Took(size_t received) {
    if (received == current) {
      current = std::min(current * 2, largest);
    }
  }
  // The next exchange starts small again.
  void Restart() { current = std::min(kFirst, largest); }

 private:
  size_t largest = 256;
  size_t current = 256;
};

}  // namespace rw::proxy
