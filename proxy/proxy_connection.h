// One browser connection: the relay loop between the browser and the server. Its request side
// parses requests and opens or reuses the server connection, its response side hands server bytes
// to the response handler, and both record every byte in the current conversation. Both sockets
// are non-blocking: while one direction cannot send, the other keeps moving. Created, run and
// destroyed by its own connection thread; only ShutdownSockets is called from another thread.
#pragma once

#include <cstdint>

#include "platform/os_sys_calls.h"
#include "platform/socket.h"
#include "proxy/connection_sockets.h"
#include "proxy/engine_context.h"
#include "proxy/exchange_capture.h"
#include "proxy/exchange_state.h"
#include "proxy/request_side.h"
#include "proxy/response_side.h"

namespace rw::proxy {

class ProxyConnection {
 public:
  // Joins the context's live connections and starts the first conversation.
  ProxyConnection(EngineContext& context, platform::Socket browserSocket);
  // Closes the sockets, completes the last conversation, and leaves the live connections.
  ~ProxyConnection();
  ProxyConnection(const ProxyConnection&) = delete;
  ProxyConnection& operator=(const ProxyConnection&) = delete;

  // Relays until either side closes or fails, a request is refused, or the listener stops;
  // returns with both sockets closed.
  void Run();

  // Any thread: wakes the relay loop by shutting both sockets down.
  void ShutdownSockets() { sockets.ShutdownBoth(); }

 private:
  // What one pass of the relay loop waits for, and what it may read without waiting.
  struct Pass {
    bool serverWatched = false;
    bool readBrowser = false;
    bool readServer = false;
    bool browserHeld = false;  // the browser's stream holds bytes already taken from its socket
    bool serverHeld = false;
    uint64_t generation = 0;  // the server socket's, when the pass began
    platform::PollInterest browser;
    platform::PollInterest server;
  };

  void Relay();
  Pass PlanPass();
  // One pass over what the poll found ready; false when the connection ends.
  bool RunPass(const Pass& pass, const platform::PollPairReady& ready);
  // A side whose stream moves on either readiness may let its waiting call go on now.
  bool BrowserMoves(const platform::PollPairReady& ready);
  bool ServerMoves(const Pass& pass, const platform::PollPairReady& ready);
  // After the reads: a request that waited for the response before it may go now.
  bool AfterPass();
  // How long the relay loop waits for the browser before it ends the connection: the header
  // time-out while part of a request header has come, the idle time-out between exchanges, and
  // no limit while an exchange is under way (-1).
  int BrowserWaitLimit() const;
  // Gives the buffers' storage back once an exchange is over, so that an idle connection holds
  // none, and starts the next exchange with small reads.
  void ReleaseIdleBuffers();
  void Close();

  EngineContext& context;
  ConnectionSockets sockets;
  ExchangeCapture capture;
  ExchangeState state;
  ResponseSide response;
  RequestSide request;
};

}  // namespace rw::proxy
