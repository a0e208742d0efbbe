// The listening socket on 127.0.0.1 and its accept thread, which starts one detached connection
// thread per browser connection. Used on the user-interface thread; owned by the application.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/socket.h"
#include "platform/thread_handle.h"
#include "proxy/engine_context.h"
#include "proxy/listener_error_sink.h"
#include "proxy/proxy_settings.h"

namespace rw::proxy {

class ProxyListener {
 public:
  ProxyListener(EngineContext& context, const ProxySettings& settings, ListenerErrorSink& errors);
  ~ProxyListener();
  ProxyListener(const ProxyListener&) = delete;
  ProxyListener& operator=(const ProxyListener&) = delete;

  // (Re)starts listening on settings.listenPort and publishes the upstream proxy from the
  // settings. False after a failure that has been shown through the error sink.
  bool StartListening();
  // Tests only: as StartListening, but on a port the system picks (see BoundPort), since a
  // listen port of 0 is refused.
  bool StartListeningOnEphemeralPortForTest();
  // Stops accepting and waits for the accept thread, which closes the listening socket itself.
  // Connections already accepted end after their next pass; see EngineContext::StopConnections.
  void StopListening();
  // The port being listened on, 0 while stopped.
  uint16_t BoundPort() const { return boundPort.load(); }

 private:
  // Shared between the listener and one accept thread.
  struct AcceptRun {
    std::atomic<bool> stop{false};  // read by the accept thread without a lock on every pass
    std::mutex socketLock;          // leaf
    platform::Socket socket;        // guarded by socketLock; closed by the accept thread
  };

  bool Start(bool ephemeralPort);
  // A bound, listening socket on the settings' port (or one the system picks); an invalid socket
  // once the failure has been reported.
  platform::Socket OpenListeningSocket(bool ephemeralPort);
  // Hands the socket to a new accept thread; false once the failure has been reported.
  bool StartAccepting(platform::Socket socket);
  // Closes the listening socket and joins the accept thread; the running flag is left alone.
  void StopAccepting();
  static void AcceptLoop(EngineContext& context, std::shared_ptr<AcceptRun> run);

  EngineContext& context;
  const ProxySettings& settings;
  ListenerErrorSink& errors;
  std::shared_ptr<AcceptRun> run;
  platform::ThreadHandle acceptThread;
  // Read by tests on other threads.
  std::atomic<uint16_t> boundPort{0};
};

}  // namespace rw::proxy
