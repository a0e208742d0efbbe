// The settings the engine reads. Written on the user-interface thread only; the listener reads
// them there at StartListening, which publishes the upstream proxy for connection threads. The
// application fills them from its settings (and their defaults) before it starts the listener.
#pragma once

#include <cstdint>
#include <string>

namespace rw::proxy {

struct ProxySettings {
  std::string listenAddress;  // shown and saved only; the listener binds loopback
  int32_t listenPort = 0;
  std::string proxyAddress;  // empty = connect to servers directly
  int32_t proxyPort = 0;
};

}  // namespace rw::proxy
