// Answers a connection that this engine opened to itself (its upstream proxy is itself under
// another name) with the proxy-loop page instead of relaying it, so that one request does not
// open connections until descriptors run out. Runs on the connection thread the listener started.
#pragma once

#include "platform/socket.h"

namespace rw::proxy {

// Sends the page, ends the sending side and reads what the other end sends until it closes or a
// short wait passes; closes the socket.
void AnswerLoopedConnection(platform::Socket socket);

}  // namespace rw::proxy
