#include "proxy/engine_context.h"

#include <algorithm>

#include "proxy/proxy_connection.h"

namespace rw::proxy {
namespace {

constexpr int32_t kMinBufferSize = 256;
constexpr int32_t kMaxBufferSize = 1024 * 1024;

}  // namespace

EngineContext::EngineContext(capture::ConversationStore& conversations, EngineLimits engineLimits)
    : store(conversations),
      limits(engineLimits),
      heldPages(conversations, engineLimits.minHeldPageBudget),
      upstream(std::make_shared<const UpstreamProxy>()),
      threadStarter([](std::function<void()> body) {
        return platform::StartThread({.kind = platform::ThreadKind::kDetached}, std::move(body));
      }) {}

void EngineContext::SetListenerSizes(int32_t receiveSize, int32_t sendSize) {
  listenerReceiveSize.store(std::clamp(receiveSize, kMinBufferSize, kMaxBufferSize));
  listenerSendSize.store(std::clamp(sendSize, kMinBufferSize, kMaxBufferSize));
}

int32_t EngineContext::ConnectionBufferSize() const {
  return std::max({listenerReceiveSize.load(), listenerSendSize.load(), kMinBufferSize});
}

void EngineContext::PublishUpstream(UpstreamProxy published) {
  auto snapshot = std::make_shared<const UpstreamProxy>(std::move(published));
  std::lock_guard<std::mutex> lock(upstreamLock);
  upstream = std::move(snapshot);
}

std::shared_ptr<const UpstreamProxy> EngineContext::Upstream() const {
  std::lock_guard<std::mutex> lock(upstreamLock);
  return upstream;
}

void EngineContext::PublishInspection(std::shared_ptr<const TlsInspector> inspector) {
  std::lock_guard<std::mutex> lock(upstreamLock);
  inspection = std::move(inspector);
}

std::shared_ptr<const TlsInspector> EngineContext::Inspection() const {
  std::lock_guard<std::mutex> lock(upstreamLock);
  return inspection;
}

void EngineContext::SetThreadStarterForTest(ThreadStarter starter) {
  std::lock_guard<std::mutex> lock(threadStarterLock);
  threadStarter = std::move(starter);
}

platform::ThreadStartResult EngineContext::StartThread(std::function<void()> body) {
  ThreadStarter starter;
  {
    std::lock_guard<std::mutex> lock(threadStarterLock);
    starter = threadStarter;
  }
  return starter(std::move(body));
}

void EngineContext::ConnectionThreadStarting() {
  std::lock_guard<std::mutex> lock(registryLock);
  activeConnections.fetch_add(1);
}

bool EngineContext::WaitForConnectionRoom(const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(registryLock);
  registryChanged.wait(
      lock, [&] { return stop.load() || activeConnections.load() < limits.maxConnectionThreads; });
  return !stop.load();
}

void EngineContext::WakeConnectionWaiters() {
  std::lock_guard<std::mutex> lock(registryLock);
  registryChanged.notify_all();
}

void EngineContext::ConnectionThreadEnded() {
  std::lock_guard<std::mutex> lock(registryLock);
  activeConnections.fetch_sub(1);
  // Notified under the lock: once the waiter sees 0 it may destroy this context, and by then the
  // notifying thread must be done with it.
  registryChanged.notify_all();
}

void EngineContext::AddConnection(ProxyConnection* connection) {
  std::lock_guard<std::mutex> lock(registryLock);
  liveConnections.insert(connection);
}

void EngineContext::RemoveConnection(ProxyConnection* connection) {
  std::lock_guard<std::mutex> lock(registryLock);
  liveConnections.erase(connection);
}

bool EngineContext::StopConnections(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(registryLock);
  stopRequested.store(true);
  for (ProxyConnection* connection : liveConnections) {
    connection->ShutdownSockets();
  }
  return registryChanged.wait_for(lock, wait, [this] { return activeConnections.load() == 0; });
}

}  // namespace rw::proxy
