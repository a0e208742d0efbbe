#include "proxy/proxy_listener.h"

#include <chrono>
#include <thread>
#include <utility>

#include "platform/os_sys_calls.h"
#include "platform/threads.h"
#include "proxy/proxy_connection.h"
#include "proxy/socket_error_text.h"

namespace rw::proxy {
namespace {

constexpr auto kPauseAfterFailure = std::chrono::milliseconds(100);

}  // namespace

ProxyListener::ProxyListener(EngineContext& engine, const ProxySettings& proxySettings,
                             ListenerErrorSink& errorSink)
    : context(engine), settings(proxySettings), errors(errorSink) {}

ProxyListener::~ProxyListener() {
  StopListening();
}

bool ProxyListener::StartListening() {
  return Start(false);
}

bool ProxyListener::StartListeningOnEphemeralPortForTest() {
  return Start(true);
}

void ProxyListener::StopListening() {
  context.SetListenerRunning(false);
  StopAccepting();
}

void ProxyListener::StopAccepting() {
  boundPort.store(0);
  context.SetListeningPort(0);
  if (run) {
    run->stop.store(true);
    context.WakeConnectionWaiters();  // an accept thread waiting for room
    {
      std::lock_guard<std::mutex> lock(run->socketLock);
      if (run->socket.Valid()) {
        // Closing alone does not wake accept on Linux; shutting the socket down does.
        // A failure here leaves accept waiting; the socket is closed right after in any case.
        (void)platform::Shutdown(run->socket.Fd());
      }
    }
    acceptThread.Join();
    run.reset();
  }
}

bool ProxyListener::Start(bool ephemeralPort) {
  // A restart replaces the listening socket only: connections already running carry on, whereas
  // a gap in the running flag would end any whose relay loop happened to finish a pass in it.
  // A restart that fails leaves the listener stopped, and those connections end as on a stop.
  StopAccepting();
  UpstreamProxy upstream;
  upstream.use = !settings.proxyAddress.empty();
  upstream.address = settings.proxyAddress;
  upstream.port = settings.proxyPort;
  context.PublishUpstream(std::move(upstream));
  platform::Socket socket = OpenListeningSocket(ephemeralPort);
  if (!socket.Valid()) {
    return false;
  }
  return StartAccepting(std::move(socket));
}

platform::Socket ProxyListener::OpenListeningSocket(bool ephemeralPort) {
  platform::SocketResult created = platform::CreateTcpSocket();
  if (!created.value.Valid()) {
    context.SetListenerRunning(false);
    errors.ShowError("Unable to create listen socket.\n\n" + ErrnoErrorText(created.errorNumber));
    return {};
  }
  platform::Socket& socket = created.value;
  const platform::SysCallResult receiveSize = platform::ReceiveBufferSize(socket);
  const platform::SysCallResult sendSize = platform::SendBufferSize(socket);
  if (receiveSize.Ok() && sendSize.Ok()) {
    context.SetListenerSizes(static_cast<int32_t>(receiveSize.value),
                             static_cast<int32_t>(sendSize.value));
  }
  // Without it a restart could not bind while connections of the last run linger; if it fails,
  // the bind below reports the busy port.
  (void)platform::AllowAddressReuse(socket);

  int32_t port = ephemeralPort ? 0 : settings.listenPort;
  bool portInRange = ephemeralPort || (port >= 1 && port <= 65535);
  // A port out of range or a failed bind would let listen pick a random port unnoticed.
  platform::SysCallResult done = portInRange
                                     ? platform::BindLoopback(socket, static_cast<uint16_t>(port))
                                     : platform::SysCallResult{-1, EINVAL};
  if (done.Ok()) {
    done = platform::Listen(socket);
  }
  if (!done.Ok()) {
    context.SetListenerRunning(false);
    errors.ListenFailed(port, done.errorNumber);
    errors.ShowError("Error creating listen socket.\n\n" + ListenErrorText(port, done.errorNumber));
    return {};
  }
  return std::move(socket);
}

bool ProxyListener::StartAccepting(platform::Socket socket) {
  platform::SysCallResult localPort = platform::LocalPort(socket);
  auto started = std::make_shared<AcceptRun>();
  started->socket = std::move(socket);
  context.SetListenerRunning(true);
  platform::ThreadStartResult accepting =
      platform::StartThread({.kind = platform::ThreadKind::kJoinable},
                            [&context = context, started] { AcceptLoop(context, started); });
  if (!accepting.Ok()) {
    context.SetListenerRunning(false);
    errors.ShowError("Error creating listen socket.\n\n" + ErrnoErrorText(accepting.errorNumber));
    return false;
  }
  acceptThread = std::move(accepting.value);
  run = std::move(started);
  boundPort.store(localPort.Ok() ? static_cast<uint16_t>(localPort.value) : 0);
  context.SetListeningPort(boundPort.load());
  return true;
}

void ProxyListener::AcceptLoop(EngineContext& context, std::shared_ptr<AcceptRun> run) {
  // Only this thread writes run->socket (when it closes it), so reading it here needs no lock.
  while (!run->stop.load()) {
    // At the cap, further connections wait in the listen queue instead of taking threads.
    if (!context.WaitForConnectionRoom(run->stop)) {
      break;
    }
    platform::SocketResult accepted = platform::Accept(run->socket);
    if (run->stop.load()) {
      break;
    }
    if (!accepted.value.Valid()) {
      // Out of descriptors, say: pause instead of spinning, then go on.
      std::this_thread::sleep_for(kPauseAfterFailure);
      continue;
    }
    auto browser = std::make_shared<platform::Socket>(std::move(accepted.value));
    // Counted before it exists, so that a stop waits for it even if it has not yet run.
    context.ConnectionThreadStarting();
    platform::ThreadStartResult started = context.StartThread([&context, browser] {
      platform::TryRaiseThreadPriority();
      platform::BlockSigpipeOnThisThread();
      {
        ProxyConnection connection(context, std::move(*browser));
        connection.Run();
      }
      context.ConnectionThreadEnded();
    });
    if (!started.Ok()) {
      browser->Close();
      context.ConnectionThreadEnded();
      std::this_thread::sleep_for(kPauseAfterFailure);
    }
  }
  std::lock_guard<std::mutex> lock(run->socketLock);
  run->socket.Close();
}

}  // namespace rw::proxy
