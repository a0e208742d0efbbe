// The two sockets of one browser connection, the byte stream over each (plain, or TLS once
// inspected) and the queue of bytes going out on each. The connection thread owns it; only
// ShutdownBoth is called from another thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/socket.h"
#include "proxy/byte_stream.h"
#include "proxy/engine_context.h"
#include "proxy/outbound_queue.h"

namespace rw::proxy {

class ConnectionSockets {
 public:
  ConnectionSockets(EngineContext& context, platform::Socket browser);
  ConnectionSockets(const ConnectionSockets&) = delete;
  ConnectionSockets& operator=(const ConnectionSockets&) = delete;

  // Any thread: wakes the relay loop by shutting both sockets down.
  void ShutdownBoth();

  // A new server connection (possibly still connecting), spoken plain until secured.
  void SetServer(platform::Socket socket);
  // Bytes waiting for the server are dropped: never meant for whichever server comes next.
  void CloseServer();
  void CloseBrowser();
  // The side's stream becomes TLS over its socket; nothing may be waiting to go out on it.
  void SecureBrowser(std::unique_ptr<ByteStream> stream);
  void SecureServer(std::unique_ptr<ByteStream> stream);
  // The server's stream transforms its bytes.
  bool ServerSecured() const { return serverStream && serverStream->PlainSocket() == nullptr; }

  // Once every byte queued for the server has gone, the server reads an end: nothing more comes
  // from the browser. At most once per server socket.
  void EndServerSendingWhenDrained();
  // Waits until the browser has taken every queued byte, or fails.
  void DrainBrowser();
  // The browser is no longer written to: it failed, or its socket is closed.
  bool BrowserGone() const { return toBrowser.Failed() || !browser.Valid(); }

  const platform::Socket& Browser() const { return browser; }
  const platform::Socket& Server() const { return server; }
  ByteStream& BrowserStream() { return *browserStream; }
  // Null while there is no server socket.
  ByteStream* ServerStream() { return serverStream.get(); }
  OutboundQueue& ToBrowser() { return toBrowser; }
  OutboundQueue& ToServer() { return toServer; }
  const OutboundQueue& ToBrowser() const { return toBrowser; }
  const OutboundQueue& ToServer() const { return toServer; }
  // Changes whenever a server socket is opened: readiness seen before belongs to another one.
  uint64_t ServerGeneration() const { return serverGeneration; }

 private:
  EngineContext& context;
  // Only the owning thread replaces or closes the sockets, always under socketLock, so another
  // thread's ShutdownBoth never touches a descriptor number after it was closed. The owner reads
  // them without the lock.
  std::mutex socketLock;     // taken after the context's registryLock; leaf otherwise
  platform::Socket browser;  // guarded by socketLock (writes)
  platform::Socket server;   // guarded by socketLock (writes)
  // The streams refer to the sockets above.
  std::unique_ptr<ByteStream> browserStream;  // null once the browser socket is closed
  std::unique_ptr<ByteStream> serverStream;   // null while there is no server socket
  OutboundQueue toBrowser;
  OutboundQueue toServer;
  uint64_t serverGeneration = 0;
  bool serverSendingEnded = false;  // for the current server socket
};

}  // namespace rw::proxy
