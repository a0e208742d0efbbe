// Opens the connection to a web server or upstream proxy, resolving names through the host cache.
// Called on connection threads. The connect is begun and then waited for in two steps, so that the
// caller can make the socket reachable by a stop in between: shutting it down ends the wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "proxy/host_cache.h"

namespace rw::proxy {

struct BegunConnection {
  platform::Socket socket;  // non-blocking; invalid when the connect could not begin
  // The name and port are this proxy's own listener (127.0.0.1 and `listeningPort`): no
  // connection was begun, since a request sent there would only come back.
  bool ownListener = false;
};

// Begins a connect; the socket is invalid when the port is outside 1..65535, the name does not
// resolve (0.0.0.0 counts as not resolving: on Linux it would reach this machine), it names the
// proxy's own listener, or the connect failed at once. `listeningPort` 0: not listening.
BegunConnection BeginServerConnection(HostCache& cache, const std::string& name, int32_t port,
                                      uint16_t listeningPort);
// Waits for a begun connect to finish; true when connected. False when it failed, did not finish
// within `timeout`, or the socket was shut down meanwhile.
bool FinishServerConnection(const platform::Socket& socket, std::chrono::milliseconds timeout);

}  // namespace rw::proxy
