#include "proxy/connection_sockets.h"

#include <utility>

#include "proxy/socket_stream.h"

namespace rw::proxy {

ConnectionSockets::ConnectionSockets(EngineContext& engine, platform::Socket browserSocket)
    : context(engine), browser(std::move(browserSocket)) {
  browserStream = std::make_unique<SocketStream>(this->browser);
  toBrowser.Attach(browserStream.get());
}

void ConnectionSockets::ShutdownBoth() {
  std::lock_guard<std::mutex> lock(socketLock);
  // A socket the peer already shut down gives ENOTCONN here; the relay loop wakes either way.
  if (browser.Valid()) {
    (void)platform::Shutdown(browser.Fd());
  }
  if (server.Valid()) {
    (void)platform::Shutdown(server.Fd());
  }
}

void ConnectionSockets::SetServer(platform::Socket socket) {
  {
    std::lock_guard<std::mutex> lock(socketLock);
    server = std::move(socket);
    ++serverGeneration;
  }
  serverSendingEnded = false;
  toServer.Detach();
  serverStream.reset();
  if (server.Valid()) {
    serverStream = std::make_unique<SocketStream>(server);
    toServer.Attach(serverStream.get());
  }
  // A stop that swept the registry before this socket existed must still reach it.
  if (context.StopRequested()) {
    ShutdownBoth();
  }
}

void ConnectionSockets::CloseServer() {
  toServer.Detach();
  if (serverStream) {
    serverStream->Close();
    serverStream.reset();
  }
  platform::Socket closing;
  {
    std::lock_guard<std::mutex> lock(socketLock);
    closing = std::move(server);
  }
}

void ConnectionSockets::CloseBrowser() {
  toBrowser.Detach();
  if (browserStream) {
    browserStream->Close();
    browserStream.reset();
  }
  platform::Socket closing;
  {
    std::lock_guard<std::mutex> lock(socketLock);
    closing = std::move(browser);
  }
}

void ConnectionSockets::SecureBrowser(std::unique_ptr<ByteStream> stream) {
  browserStream = std::move(stream);
  toBrowser.Attach(browserStream.get());
}

void ConnectionSockets::SecureServer(std::unique_ptr<ByteStream> stream) {
  serverStream = std::move(stream);
  toServer.Attach(serverStream.get());
}

void ConnectionSockets::EndServerSendingWhenDrained() {
  if (serverSendingEnded || !server.Valid() || toServer.Pending()) {
    return;
  }
  serverSendingEnded = true;
  (void)platform::ShutdownSending(server);
}

void ConnectionSockets::DrainBrowser() {
  while (toBrowser.Pending() && !BrowserGone()) {
    const platform::PollPairResult ready = platform::PollOne(
        platform::PollInterest{browser.Fd(), browserStream->WantsRead(), true}, -1);
    if (!ready.Ok() || !toBrowser.Flush()) {
      return;
    }
  }
}

}  // namespace rw::proxy
