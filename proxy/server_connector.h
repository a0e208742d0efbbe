// Opens the connection to a web server or upstream proxy, resolving names through the host cache.
// Called on connection threads; blocks for as long as the system's connect attempt lasts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "proxy/host_cache.h"

namespace rw::proxy {

// A connected blocking socket, or an invalid one when the port is outside 1..65535, the name does
// not resolve (0.0.0.0 counts as not resolving: on Linux it would reach this machine), or the
// connect fails.
platform::Socket OpenServerConnection(HostCache& cache, const std::string& name, int32_t port);

}  // namespace rw::proxy
