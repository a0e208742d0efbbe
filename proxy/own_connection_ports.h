// The local ports of the engine's own open connections to loopback addresses, so that the
// listener can tell a connection that comes back from this engine (an upstream proxy that is
// this proxy under another name) from a browser's. Shared by every thread through EngineContext.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/os_sys_calls.h"

namespace rw::proxy {

class OwnConnectionPorts {
 public:
  // Keeps one port listed for as long as it lives; moves with the connection it marks.
  class Mark {
   public:
    Mark() = default;
    Mark(OwnConnectionPorts& ports, uint16_t port);
    ~Mark();
    Mark(Mark&& other) noexcept;
    Mark& operator=(Mark&& other) noexcept;
    Mark(const Mark&) = delete;
    Mark& operator=(const Mark&) = delete;

   private:
    void Reset();

    OwnConnectionPorts* ports = nullptr;
    uint16_t port = 0;
  };

  // True when `peer` is a loopback address and one of the listed ports.
  bool IsOwnConnection(const platform::PeerAddress& peer) const;

 private:
  void Add(uint16_t port);
  void Remove(uint16_t port);

  mutable std::mutex portsLock;                  // leaf
  std::unordered_map<uint16_t, int32_t> counts;  // guarded by portsLock; port -> marks
};

// Whether a network-order IPv4 address is in 127.0.0.0/8.
bool IsLoopbackAddress(uint32_t netOrderAddress);

}  // namespace rw::proxy
