#include "proxy/host_cache.h"

namespace rw::proxy {

uint32_t HostCache::Lookup(const std::string& name) const {
  std::lock_guard<std::mutex> lock(cacheLock);
  for (const Entry& entry : entries) {
    if (entry.address == 0) {
      break;
    }
    if (entry.name == name) {
      return entry.address;
    }
  }
  return 0;
}

void HostCache::Insert(const std::string& name, uint32_t netOrderAddress) {
  if (name.size() > kMaxNameLength || netOrderAddress == 0) {
    return;
  }
  std::lock_guard<std::mutex> lock(cacheLock);
  for (Entry& entry : entries) {
    if (entry.address == 0) {
      entry.name = name;
      entry.address = netOrderAddress;
      return;
    }
  }
  entries[replacementPosition].name = name;
  entries[replacementPosition].address = netOrderAddress;
  replacementPosition = (replacementPosition + 1) % kEntries;
}

}  // namespace rw::proxy
