#include "proxy/server_connector.h"

#include "platform/os_sys_calls.h"

namespace rw::proxy {

platform::Socket OpenServerConnection(HostCache& cache, const std::string& name, int32_t port) {
  if (port < 1 || port > 65535) {
    return platform::Socket();
  }
  uint32_t address = 0;
  if (!platform::ParseDottedIPv4(name, &address)) {
    address = cache.Lookup(name);
    if (address == 0) {
      address = platform::ResolveIPv4(name).netOrderAddress;
      cache.Insert(name, address);
    }
  }
  if (address == 0) {
    return platform::Socket();
  }
  platform::SocketResult created = platform::CreateTcpSocket();
  if (!created.value.Valid()) {
    return platform::Socket();
  }
  if (!platform::ConnectIPv4(created.value, address, static_cast<uint16_t>(port)).Ok()) {
    return platform::Socket();
  }
  return std::move(created.value);
}

}  // namespace rw::proxy
