// The values the engine's threads share: conversation ids, the active connection count and the
// registry of live connections, listener buffer sizes, the host cache and the upstream proxy.
// Owned by the application for the life of the engine; must outlive every connection thread,
// which StopConnections makes sure of before the owner lets it go.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "capture/conversation_store.h"
#include "platform/os_sys_calls.h"
#include "platform/threads.h"
#include "proxy/engine_limits.h"
#include "proxy/held_page_budget.h"
#include "proxy/host_cache.h"
#include "proxy/tls_inspector.h"
#include "proxy/upstream_proxy.h"

namespace rw::proxy {

class ProxyConnection;

class EngineContext {
 public:
  using ThreadStarter = std::function<platform::ThreadStartResult(std::function<void()>)>;

  explicit EngineContext(capture::ConversationStore& store, EngineLimits limits = {});
  EngineContext(const EngineContext&) = delete;
  EngineContext& operator=(const EngineContext&) = delete;

  capture::ConversationStore& Store() { return store; }
  HostCache& Hosts() { return hosts; }
  const EngineLimits& Limits() const { return limits; }
  HeldPageBudget& HeldPages() { return heldPages; }

  // The id for a new conversation: 2 for the first.
  int32_t NextConversationId() { return conversationIdCounter.fetch_add(1) + 1; }
  // Connection threads started and not yet ended, whether or not they have begun to run.
  int32_t ActiveConnections() const { return activeConnections.load(); }

  // Shuts down the sockets of every live connection (and of any that starts later), then waits up
  // to `wait` for every started connection thread to end. True when none remain; otherwise the
  // caller must keep the store and this context alive.
  bool StopConnections(std::chrono::milliseconds wait);

  // Listener side (user-interface thread).
  void SetListenerSizes(int32_t receiveSize, int32_t sendSize);
  void PublishUpstream(UpstreamProxy upstream);
  // HTTPS inspection for connections that start from now on; null turns it off.
  void PublishInspection(std::shared_ptr<const TlsInspector> inspector);
  void SetListenerRunning(bool running) { listenerRunning.store(running); }
  // The port the listener takes connections on (127.0.0.1 only); 0 while it does not.
  void SetListeningPort(uint16_t port) { listeningPort.store(port); }
  // Replaces how connection threads are started (tests make it fail).
  void SetThreadStarterForTest(ThreadStarter starter);
  // Starts a detached connection thread running `body`.
  platform::ThreadStartResult StartThread(std::function<void()> body);

  // Connection side (connection threads).
  // The larger of the listener's receive and send sizes, at least 256.
  int32_t ConnectionBufferSize() const;
  std::shared_ptr<const UpstreamProxy> Upstream() const;
  // Null while inspection is off.
  std::shared_ptr<const TlsInspector> Inspection() const;
  // The relay loops' stop signal, read after every pass.
  bool ListenerRunning() const { return listenerRunning.load(); }
  bool StopRequested() const { return stopRequested.load(); }
  uint16_t ListeningPort() const { return listeningPort.load(); }
  // Accept thread: counts a connection thread about to be started, so that a stop cannot report
  // "drained" while the thread has not yet run. Each call is matched by one ConnectionThreadEnded.
  void ConnectionThreadStarting();
  // Accept thread: waits while the connection threads are at their cap. False when `stop` was
  // set (and WakeConnectionWaiters called) instead.
  bool WaitForConnectionRoom(const std::atomic<bool>& stop);
  void WakeConnectionWaiters();
  // The last thing a connection thread does (or the accept thread, when the start failed): after
  // this, nothing of the context may be touched.
  void ConnectionThreadEnded();
  // A running connection joins and leaves the set whose sockets a stop shuts down.
  void AddConnection(ProxyConnection* connection);
  void RemoveConnection(ProxyConnection* connection);

 private:
  capture::ConversationStore& store;
  const EngineLimits limits;
  HostCache hosts;
  HeldPageBudget heldPages;
  // Advanced by every connection thread without a lock: ids need only be unique.
  std::atomic<int32_t> conversationIdCounter{1};
  // Read by connection threads when they size their buffers; written at StartListening.
  std::atomic<int32_t> listenerReceiveSize{8192};
  std::atomic<int32_t> listenerSendSize{8192};
  // Read without a lock by every relay loop after each pass.
  std::atomic<bool> listenerRunning{false};
  // Read without a lock by connections as they start or open a server socket.
  std::atomic<bool> stopRequested{false};
  // Read without a lock by connections as they open a server socket.
  std::atomic<uint16_t> listeningPort{0};

  mutable std::mutex upstreamLock;                 // leaf
  std::shared_ptr<const UpstreamProxy> upstream;   // guarded by upstreamLock
  std::shared_ptr<const TlsInspector> inspection;  // guarded by upstreamLock

  std::mutex threadStarterLock;  // leaf
  ThreadStarter threadStarter;   // guarded by threadStarterLock

  std::mutex registryLock;  // taken before any connection's socketLock
  std::condition_variable registryChanged;
  std::unordered_set<ProxyConnection*> liveConnections;  // guarded by registryLock
  // Started connection threads. Changed under registryLock; atomic so ActiveConnections() can read
  // it without the lock.
  std::atomic<int32_t> activeConnections{0};
};

}  // namespace rw::proxy
