#include "app/own_address_upstream.h"

#include <arpa/inet.h>

#include <cstdint>

#include "platform/os_sys_calls.h"
#include "proxy/proxy_settings.h"

namespace rw::app {

std::string OwnAddressUpstreamProblem(const proxy::ProxySettings& proxy) {
  if (proxy.proxyAddress.empty() || proxy.proxyPort != proxy.listenPort) {
    return {};
  }
  uint32_t address = 0;
  if (!platform::ParseDottedIPv4(proxy.proxyAddress, &address)) {
    address = platform::ResolveIPv4(proxy.proxyAddress).netOrderAddress;
  }
  const uint32_t hostOrder = ntohl(address);
  if (hostOrder != INADDR_LOOPBACK && hostOrder != INADDR_ANY) {
    return {};
  }
  // A name that does not resolve leaves 0.0.0.0 behind: it is not this machine.
  if (hostOrder == INADDR_ANY && !platform::ParseDottedIPv4(proxy.proxyAddress, &address)) {
    return {};
  }
  return "The upstream proxy " + proxy.proxyAddress + ":" + std::to_string(proxy.proxyPort) +
         " is this program's own address: requests sent there would come back to it.";
}

}  // namespace rw::app
