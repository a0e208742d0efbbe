// Process-wide cache of resolved server names: 40 entries filled in order, then replaced round
// robin; entries never expire. Shared by all connection threads; owned by the EngineContext.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace rw::proxy {

class HostCache {
 public:
  static constexpr size_t kEntries = 40;
  static constexpr size_t kMaxNameLength = 255;  // longer names are never cached

  // IPv4 address (network byte order) of `name`, or 0 when it is not cached.
  uint32_t Lookup(const std::string& name) const;
  // Ignores names over kMaxNameLength and the address 0 (which means "absent").
  void Insert(const std::string& name, uint32_t netOrderAddress);

 private:
  struct Entry {
    std::string name;
    uint32_t address = 0;  // 0 marks a free entry; used entries come first
  };

  mutable std::mutex cacheLock;         // leaf
  std::array<Entry, kEntries> entries;  // guarded by cacheLock
  size_t replacementPosition = 0;       // guarded by cacheLock
};

}  // namespace rw::proxy
