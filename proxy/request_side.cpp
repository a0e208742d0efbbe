#include "proxy/request_side.h"

#include <utility>
#include <vector>

#include "proxy/fixed_replies.h"
#include "proxy/server_connector.h"
#include "text/text_steps.h"

namespace rw::proxy {
namespace {

// An upstream proxy setting has no part in an inspected connection: its server was reached
// directly.
const std::shared_ptr<const UpstreamProxy>& NoUpstream() {
  static const auto kNone = std::make_shared<const UpstreamProxy>();
  return kNone;
}

}  // namespace

RequestSide::RequestSide(EngineContext& engine, ConnectionSockets& connectionSockets,
                         ExchangeCapture& exchangeCapture, ExchangeState& exchangeState,
                         ResponseSide& responseSide)
    : context(engine),
      sockets(connectionSockets),
      capture(exchangeCapture),
      state(exchangeState),
      response(responseSide),
      inspection(engine, connectionSockets, exchangeCapture, exchangeState, responseSide) {}

bool RequestSide::ReadBrowser() {
  // Read straight into the request buffer's tail: no copy per read.
  char* target = requestBuffer.PrepareAppend(readSize.Get());
  platform::SysCallResult received = sockets.BrowserStream().Read(target, readSize.Get());
  if (received.value < 0 && platform::WouldBlock(received.errorNumber)) {
    return true;
  }
  if (received.value > 0) {
    RecordBytesInPlace(static_cast<size_t>(received.value));
    readSize.Took(static_cast<size_t>(received.value));
  }
  if (!HandleBrowserData()) {
    return false;
  }
  // A plain tunnel passes the browser's end on to the server (once the bytes before it have gone),
  // which may still answer.
  const bool plainTunnel = state.tunnel && !sockets.ServerSecured();
  if (received.value == 0 && !state.browserEnded && sockets.Server().Valid() &&
      ((state.awaitingResponse && !state.tunnel) || plainTunnel)) {
    // The browser has said all it will; the answer it waits for still goes to it whole.
    state.browserEnded = true;
  } else if (received.value <= 0) {
    sockets.CloseBrowser();
    return false;
  }
  return true;
}

void RequestSide::RecordBytesInPlace(size_t count) {
  capture.Ensure();
  if (!state.tunnel && capture.Current().ResponseDataSize() > 0) {
    // New request bytes after captured response bytes begin the next exchange; a tunnel is one
    // exchange until it closes.
    capture.End();
    capture.Start();
  }
  const char* data = requestBuffer.Data() + requestBuffer.Size();
  requestBuffer.CommitAppend(count);
  capture.Current().AddRequestData(data, static_cast<int32_t>(count));
}

void RequestSide::ServerRead(const ResponseSide::ReadResult& read) {
  // A body of unknown length ends where the server's answer begins: whatever the browser sends
  // then starts a new request. A framed body goes on to its end.
  if (read.answered && !state.tunnel && bodyFramer.Framing() == BodyFraming::kUnframed) {
    state.requestState = RequestState::kHeader;
  }
  if (read.outcome == ServerDataOutcome::kSwitchedToTunnel) {
    // After 101 Switching Protocols both sides speak another protocol: relay it unchanged.
    state.tunnel = true;
    state.requestState = RequestState::kPassThrough;
  } else if (read.outcome == ServerDataOutcome::kInterimForwarded && bodyFramer.InBody()) {
    // The body the interim response asked for may now flow.
    state.requestState = RequestState::kPassThrough;
  }
}

void RequestSide::ReleaseIdle() {
  requestBuffer.Release();
  readSize.Restart();
}

bool RequestSide::HandleBrowserData() {
  if (state.tunnel) {
    state.requestState = RequestState::kPassThrough;
    sockets.ToServer().Queue(requestBuffer.View());
    requestBuffer.Clear();
    return true;
  }
  // One read may hold the end of a body and the next request; each is handled in turn.
  for (;;) {
    if (state.requestState == RequestState::kPassThrough) {
      ForwardBody();
      if (state.requestState == RequestState::kPassThrough || requestBuffer.Empty()) {
        return true;
      }
    }
    // A pipelined request goes once the response before it has ended: it may be for another
    // server, and the responses must reach the browser in request order.
    if (state.NextRequestWaits()) {
      return true;
    }
    switch (HandleRequestHeader()) {
      case HeaderOutcome::kNeedMore:
        return true;
      case HeaderOutcome::kRefused:
        return false;
      case HeaderOutcome::kForwarded:
        break;
    }
    if (requestBuffer.Empty()) {
      return true;
    }
  }
}

void RequestSide::ForwardBody() {
  const size_t body = bodyFramer.Take(requestBuffer.View());
  // Sent or not (a failed send ends the server side), these bytes are done with: framing must
  // never count them twice.
  sockets.ToServer().Queue(requestBuffer.View().substr(0, body));
  requestBuffer.Consume(body);
  if (!bodyFramer.InBody()) {
    state.requestState = RequestState::kHeader;
  }
}

HeaderOutcome RequestSide::HandleRequestHeader() {
  const bool found = headerEnd.Found(requestBuffer);
  // The same cap whether the header came in one read or many.
  const size_t headerBytes = found ? headerEnd.Length() : requestBuffer.Size();
  if (headerBytes > kMaxRequestHeaderBytes) {
    sockets.ToBrowser().Queue(kBadRequestReply);
    return HeaderOutcome::kRefused;
  }
  if (!found) {
    return HeaderOutcome::kNeedMore;
  }
  const bool parsed = ParseRequest();
  headerEnd.Reset();
  if (!parsed) {
    return HeaderOutcome::kRefused;
  }
  if (response.Handler().HoldsResponse()) {
    // A response still held when the browser moves on is sent rather than dropped.
    response.Handler().Finish();
  }
  response.Handler().Reset();
  // A refusal leaves the browser its page; the connection then closes when the loop ends.
  if (!Connect()) {
    return HeaderOutcome::kRefused;
  }
  if (const std::optional<HeaderOutcome> inspected = InspectTunnel()) {
    return *inspected;
  }
  ForwardHeader();
  return HeaderOutcome::kForwarded;
}

std::optional<HeaderOutcome> RequestSide::InspectTunnel() {
  if (!state.tunnel || !requestBuffer.Empty() || !inspection.Inspects(request.host)) {
    return std::nullopt;
  }
  if (upstream->use) {
    std::string text = JoinLines(headerLines);
    TerminateHeaderText(text);
    headerLines.clear();
    const bool stands = inspection.OpenUpstreamTunnel(text);
    state.requestState = RequestState::kPassThrough;
    state.awaitingResponse = false;
    if (!stands) {
      return HeaderOutcome::kForwarded;  // a plain tunnel from here, or its end
    }
  }
  switch (inspection.Intercept(request)) {
    case Interception::kTunnel:
      return std::nullopt;
    case Interception::kInspecting:
      return HeaderOutcome::kForwarded;
    case Interception::kFailed:
      return HeaderOutcome::kRefused;
  }
  return std::nullopt;
}

void RequestSide::ForwardHeader() {
  // The header and the body bytes that came with it go in one send (one segment for a small
  // request); bytes after the body stay for the next request. Tunnelled bytes after a CONNECT
  // all go to the server.
  const size_t body = state.tunnel ? requestBuffer.Size() : bodyFramer.Take(requestBuffer.View());
  std::string text = JoinLines(headerLines);
  TerminateHeaderText(text);
  text.append(requestBuffer.Data(), body);
  requestBuffer.Consume(body);
  sockets.ToServer().Queue(text);
  state.requestState =
      state.tunnel || bodyFramer.InBody() ? RequestState::kPassThrough : RequestState::kHeader;
  state.awaitingResponse = !state.tunnel;
}

bool RequestSide::ParseRequest() {
  // Called once the header's end is in the buffer; a split that finds none leaves no lines and
  // is refused below. A tunnel's bytes are not a header and keep every line.
  const bool split = SplitRequestHeader(
      requestBuffer, state.tunnel ? GzipOffers::kKeep : GzipOffers::kDrop, headerLines);
  RequestLine parsed;
  if (split) {
    parsed = ParseRequestLine(headerLines.front());
    if (inspection.Inspecting()) {
      AimInsideTls(parsed);
    } else if (parsed.threeTokens) {
      state.tunnel = parsed.tunnel;
    }
  }
  // A request that names no host is refused even on a kept-alive connection, rather than being
  // sent to the previous request's server.
  if (!split || parsed.host.empty()) {
    sockets.ToBrowser().Queue(kBadRequestReply);
    return false;
  }
  request = std::move(parsed);
  upstream = inspection.Inspecting() ? NoUpstream() : context.Upstream();
  if (!upstream->use && !state.tunnel) {
    headerLines.front() = OriginFormLine(request);
  }
  // Without a length or chunked encoding, only a method outside the bodyless ones is taken to
  // carry a body, passed through until the server answers.
  bodyFramer.Start(headerLines, !HasBodylessMethodPrefix(headerLines.front()));
  if (bodyFramer.LengthOverridden()) {
    // Framed by its coding: a length beside it would let the server see another body end.
    RemoveLinesNamed(headerLines, "content-length");
  }
  // Methods are case-sensitive: "head" is some other method, and its answer has a body.
  response.Handler().SetHeadRequest(request.method == "HEAD");
  return true;
}

void RequestSide::AimInsideTls(RequestLine& parsed) const {
  const std::vector<std::string> tokens = text::Tokenise(headerLines.front(), " \r\n");
  if (parsed.threeTokens && !parsed.tunnel && parsed.path.empty()) {
    parsed.path = tokens[1];
  }
  if (parsed.threeTokens && !parsed.tunnel && !parsed.path.empty()) {
    parsed.host = inspection.Host();
    parsed.port = inspection.Port();
  } else {
    parsed.host.clear();
  }
}

bool RequestSide::Connect() {
  if (state.tunnel) {
    response.Handler().SetTunnel();
  }
  // A request read while the exchange before it was still open starts its own.
  capture.Ensure();
  capture.Current().MarkConnectStart();
  if (inspection.ServerRefused()) {
    inspection.AnswerRefusal();
    return false;
  }
  if (!OpenServer()) {
    return false;
  }
  if (!upstream->use && state.tunnel) {
    // Only now that the server is reachable does the browser hear that the tunnel stands. The
    // reply is captured after the CONNECT header; bytes that followed that header stay in the
    // request buffer for the server.
    capture.Current().AddRequestData(kTunnelReply.data(),
                                     static_cast<int32_t>(kTunnelReply.size()));
    sockets.ToBrowser().Queue(kTunnelReply);
    headerLines.clear();
  }
  return true;
}

bool RequestSide::OpenServer() {
  if (!lastHost.empty() && (lastHost != request.host || lastPort != request.port)) {
    sockets.CloseServer();
  }
  lastHost = request.host;
  lastPort = request.port;
  const std::string& targetName = upstream->use ? upstream->address : request.host;
  const int32_t targetPort = upstream->use ? upstream->port : request.port;
  bool ownListener = false;
  if (!sockets.Server().Valid()) {
    BegunConnection opened =
        BeginServerConnection(context.Hosts(), targetName, targetPort, context.ListeningPort());
    ownListener = opened.ownListener;
    // A request body that follows its header in a later read must go out at once: held back
    // for the header's acknowledgement, it would wait out the server's delayed ACK (40 ms).
    if (opened.socket.Valid()) {
      (void)platform::SetNoDelay(opened.socket);
    }
    // The server socket already while it connects, so that a stop shuts it down and ends the
    // wait at once.
    sockets.SetServer(std::move(opened.socket));
    if (sockets.Server().Valid() &&
        !FinishServerConnection(sockets.Server(), context.Limits().connectTimeout)) {
      sockets.CloseServer();
    }
  }
  if (inspection.Inspecting() && sockets.Server().Valid() && !sockets.ServerSecured()) {
    // The server closed the connection before: the new one is TLS as well.
    inspection.HandshakeWithServer();
    if (inspection.ServerRefused()) {
      capture.Current().MarkConnected();
      inspection.AnswerRefusal();
      return false;
    }
  }
  capture.Current().MarkConnected();
  if (!sockets.Server().Valid()) {
    // A server (or upstream proxy) that is this proxy itself would only send the request back.
    response.AnswerWith(ownListener ? kProxyLoopPage : kConnectFailurePage);
    return false;
  }
  return true;
}

}  // namespace rw::proxy
