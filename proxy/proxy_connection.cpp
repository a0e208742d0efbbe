#include "proxy/proxy_connection.h"

#include <utility>

namespace rw::proxy {

ProxyConnection::ProxyConnection(EngineContext& engine, platform::Socket browserSocket)
    : context(engine),
      sockets(engine, std::move(browserSocket)),
      capture(engine),
      response(engine, sockets, capture, state),
      request(engine, sockets, capture, state, response) {
  engine.AddConnection(this);
  capture.Start();
}

ProxyConnection::~ProxyConnection() {
  Close();
  capture.End();
  context.RemoveConnection(this);
}

void ProxyConnection::Run() {
  const auto bufferSize = static_cast<size_t>(context.ConnectionBufferSize());
  sockets.ToBrowser().SetPortion(bufferSize);
  sockets.ToServer().SetPortion(bufferSize);
  request.SetLargestRead(bufferSize);
  response.SetLargestRead(bufferSize);
  Relay();
  Close();
}

void ProxyConnection::Relay() {
  // Without it small replies wait for acknowledgements; relaying works either way.
  (void)platform::SetNoDelay(sockets.Browser());
  if (!platform::SetNonBlocking(sockets.Browser()).Ok()) {
    return;
  }
  response.Handler().Reset();
  if (!context.ListenerRunning() || context.StopRequested()) {
    return;
  }
  for (;;) {
    const Pass pass = PlanPass();
    const bool held = pass.browserHeld || pass.serverHeld;
    const platform::PollPairResult ready =
        platform::PollPair(pass.browser, pass.server, held ? 0 : BrowserWaitLimit());
    if (!ready.Ok() || (ready.value.timedOut && !held) || !RunPass(pass, ready.value)) {
      return;
    }
  }
}

ProxyConnection::Pass ProxyConnection::PlanPass() {
  const OutboundQueue& toBrowser = sockets.ToBrowser();
  const OutboundQueue& toServer = sockets.ToServer();
  Pass pass;
  pass.serverWatched = sockets.Server().Valid() && sockets.Server().Fd() != sockets.Browser().Fd();
  // A side is read only while what it sent has gone on: memory stays bounded, and a peer that
  // does not read holds up only the direction it does not read.
  pass.readBrowser = !toServer.Pending() && !state.browserEnded && !state.NextRequestWaits();
  pass.readServer = pass.serverWatched && (!toBrowser.Pending() || response.PipeTakesMore());
  // A stream may wait for the other readiness than its call's, and may hold bytes already read
  // from its socket: those are read now, without waiting for the socket.
  ByteStream& browser = sockets.BrowserStream();
  pass.browserHeld = pass.readBrowser && browser.HasPending();
  pass.browser = {sockets.Browser().Fd(), pass.readBrowser || browser.WantsRead(),
                  toBrowser.Pending() || browser.WantsWrite()};
  if (pass.serverWatched) {
    ByteStream& server = *sockets.ServerStream();
    pass.serverHeld = pass.readServer && server.HasPending();
    pass.server = {sockets.Server().Fd(), pass.readServer || server.WantsRead(),
                   toServer.Pending() || server.WantsWrite()};
  }
  pass.generation = sockets.ServerGeneration();
  return pass;
}

bool ProxyConnection::BrowserMoves(const platform::PollPairReady& ready) {
  return sockets.BrowserStream().MovesOnEitherReadiness() &&
         (ready.first.readable || ready.first.writable);
}

bool ProxyConnection::ServerMoves(const Pass& pass, const platform::PollPairReady& ready) {
  return pass.serverWatched && sockets.ServerStream()->MovesOnEitherReadiness() &&
         (ready.second.readable || ready.second.writable);
}

bool ProxyConnection::RunPass(const Pass& pass, const platform::PollPairReady& ready) {
  const bool browserMoves = BrowserMoves(ready);
  const bool serverMoves = ServerMoves(pass, ready);
  // Sends first: room made now lets this pass's reads go straight out.
  OutboundQueue& toBrowser = sockets.ToBrowser();
  if ((ready.first.writable || ready.first.failed || browserMoves) && toBrowser.Pending() &&
      !toBrowser.Flush()) {
    return false;
  }
  OutboundQueue& toServer = sockets.ToServer();
  if (pass.serverWatched && (ready.second.writable || ready.second.failed || serverMoves) &&
      toServer.Pending()) {
    toServer.Flush();  // a failure is left to the server's read to report
  }
  // A hung-up or failed side is read even when it would not be otherwise: the read reports
  // how it ended.
  if (((pass.readBrowser && (ready.first.readable || pass.browserHeld || browserMoves)) ||
       ready.first.failed) &&
      !request.ReadBrowser()) {
    return false;
  }
  // The browser's request may have replaced the server socket; the old one's readiness says
  // nothing about the new one.
  if (pass.serverWatched && pass.generation == sockets.ServerGeneration() &&
      sockets.Server().Valid() &&
      ((pass.readServer && (ready.second.readable || pass.serverHeld || serverMoves)) ||
       ready.second.failed)) {
    const ResponseSide::ReadResult read = response.ReadServer();
    request.ServerRead(read);
    if (read.ended) {
      return false;
    }
  }
  return AfterPass();
}

bool ProxyConnection::AfterPass() {
  if (state.tunnel && state.browserEnded) {
    sockets.EndServerSendingWhenDrained();
  }
  if (state.responseJustEnded) {
    state.responseJustEnded = false;
    // A browser that half-closed has had its answer; a waiting request may go now.
    if (state.browserEnded || (!request.Empty() && !request.HandleBrowserData())) {
      return false;
    }
  }
  if (sockets.ToBrowser().Failed() || !context.ListenerRunning()) {
    return false;
  }
  ReleaseIdleBuffers();
  return true;
}

void ProxyConnection::ReleaseIdleBuffers() {
  ResponseHandler& handler = response.Handler();
  const bool idle = request.Empty() && !sockets.ToServer().Pending() &&
                    !sockets.ToBrowser().Pending() && handler.Buffer().Empty() &&
                    (state.tunnel ||
                     (state.requestState == RequestState::kHeader &&
                      handler.Action() == BodyAction::kAwaitingHeader && !handler.HoldsResponse()));
  if (!idle) {
    return;
  }
  request.ReleaseIdle();
  sockets.ToServer().Release();
  sockets.ToBrowser().Release();
  response.ReleaseIdle();
}

int ProxyConnection::BrowserWaitLimit() const {
  if (state.tunnel || state.awaitingResponse || state.requestState != RequestState::kHeader ||
      sockets.ToServer().Pending() || sockets.ToBrowser().Pending()) {
    return -1;
  }
  const std::chrono::milliseconds limit =
      request.Empty() ? context.Limits().idleTimeout : context.Limits().headerTimeout;
  return static_cast<int>(limit.count());
}

void ProxyConnection::Close() {
  if (sockets.Server().Valid() && sockets.Browser().Valid()) {
    response.Handler().Finish();
  }
  sockets.DrainBrowser();
  sockets.CloseServer();
  sockets.CloseBrowser();
}

}  // namespace rw::proxy
