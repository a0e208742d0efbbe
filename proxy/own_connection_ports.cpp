#include "proxy/own_connection_ports.h"

#include <arpa/inet.h>

#include <utility>

namespace rw::proxy {

bool IsLoopbackAddress(uint32_t netOrderAddress) {
  return (ntohl(netOrderAddress) >> 24) == 127;
}

OwnConnectionPorts::Mark::Mark(OwnConnectionPorts& ports, uint16_t port)
    : ports(&ports), port(port) {
  ports.Add(port);
}

OwnConnectionPorts::Mark::~Mark() {
  Reset();
}

OwnConnectionPorts::Mark::Mark(Mark&& other) noexcept
    : ports(std::exchange(other.ports, nullptr)), port(other.port) {}

OwnConnectionPorts::Mark& OwnConnectionPorts::Mark::operator=(Mark&& other) noexcept {
  if (this != &other) {
    Reset();
    ports = std::exchange(other.ports, nullptr);
    port = other.port;
  }
  return *this;
}

void OwnConnectionPorts::Mark::Reset() {
  if (ports != nullptr) {
    ports->Remove(port);
    ports = nullptr;
  }
}

bool OwnConnectionPorts::IsOwnConnection(const platform::PeerAddress& peer) const {
  if (!IsLoopbackAddress(peer.netOrderAddress)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(portsLock);
  return counts.contains(peer.port);
}

void OwnConnectionPorts::Add(uint16_t port) {
  std::lock_guard<std::mutex> lock(portsLock);
  ++counts[port];
}

void OwnConnectionPorts::Remove(uint16_t port) {
  std::lock_guard<std::mutex> lock(portsLock);
  auto entry = counts.find(port);
  if (entry != counts.end() && --entry->second == 0) {
    counts.erase(entry);
  }
}

}  // namespace rw::proxy
