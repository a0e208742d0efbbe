// The settings the engine reads. Written on the user-interface thread only; the listener reads
// them there at StartListening, which publishes the upstream proxy for connection threads.
#pragma once

#include <cstdint>
#include <string>

namespace rw::proxy {

struct ProxySettings {
  std::string listenAddress = "127.0.0.1";  // shown and saved only; the listener binds loopback
  int32_t listenPort = 8010;
  std::string proxyAddress;  // empty = connect to servers directly
  int32_t proxyPort = 0;
};

}  // namespace rw::proxy
