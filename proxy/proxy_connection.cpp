#include "proxy/proxy_connection.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "capture/text_prefix.h"
#include "platform/os_sys_calls.h"
#include "proxy/fixed_replies.h"
#include "proxy/send_all.h"
#include "proxy/server_connector.h"
#include "text/case_blind.h"
#include "text/number_parsers.h"
#include "text/text_steps.h"

namespace rw::proxy {

using text::EqualsIgnoringCase;
namespace {

// Bytes one splice may move: no copy is made, so more per call only saves system calls.
constexpr size_t kSpliceSize = 1024 * 1024;
// The first read of an exchange in each direction; reads that come back full double it, up to
// the connection's buffer size.
constexpr size_t kFirstReadSize = 16 * 1024;
// The bytes of a streamed read looked at for the capture, without taking them from the socket.
constexpr size_t kPeekWindow = 4096;
// The most one read of a held page of known length asks for (and reserves) at once.
constexpr int64_t kLargestHeldRead = 16 * 1024 * 1024;

size_t NextReadSize(size_t current, size_t received, size_t largest) {
  return received == current ? std::min(current * 2, largest) : current;
}

// One read or send on a side: the socket itself, or the TLS session over it.
platform::SysCallResult ReadSide(const platform::Socket& socket, TlsSession* tls, char* data,
                                 size_t capacity) {
  return tls != nullptr ? tls->Read(data, capacity) : platform::Recv(socket, data, capacity);
}

platform::SysCallResult SendSide(const platform::Socket& socket, TlsSession* tls, const char* data,
                                 size_t count) {
  return tls != nullptr ? tls->Write(data, count) : platform::Send(socket, data, count);
}

std::string HtmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string VerificationFailurePage(std::string_view reason) {
  const std::string body =
      "<html><head><title>502 Bad Gateway</title></head><body><h1>Bad Gateway</h1>"
      "<p>The secure connection to the server was not made: " +
      HtmlEscaped(reason) + "</p></body></html>\n";
  return "HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// An upstream proxy setting has no part in an inspected connection: its server was reached
// directly.
const std::shared_ptr<const UpstreamProxy>& NoUpstream() {
  static const auto kNone = std::make_shared<const UpstreamProxy>();
  return kNone;
}

}  // namespace

ProxyConnection::ProxyConnection(EngineContext& context, platform::Socket browserSocket)
    : context(context),
      response(*this),
      heldShare(context.HeldPages()),
      browserSocket(std::move(browserSocket)) {
  context.AddConnection(this);
  StartConversation();
}

ProxyConnection::~ProxyConnection() {
  Close();
  EndConversation();
  context.RemoveConnection(this);
}

void ProxyConnection::StartConversation() {
  conversation = std::make_shared<capture::Conversation>(context.NextConversationId(),
                                                         context.Store(), inspectedOrigin);
  context.Store().AddConversation(conversation);
  context.Store().IncrementConversationCount();
}

void ProxyConnection::EnsureConversation() {
  if (!conversation) {
    StartConversation();
  }
}

bool ProxyConnection::NextRequestWaits() const {
  return awaitingResponse && !tunnel && requestState == RequestState::kHeader;
}

void ProxyConnection::EndConversation() {
  if (conversation) {
    conversation->MarkEnd();
    // Once complete, the user-interface thread may log or free it: not touched again.
    conversation->MarkComplete();
    conversation.reset();
  }
}

void ProxyConnection::ShutdownSockets() {
  std::lock_guard<std::mutex> lock(socketLock);
  // A socket the peer already shut down gives ENOTCONN here; the relay loop wakes either way.
  if (browserSocket.Valid()) {
    (void)platform::Shutdown(browserSocket.Fd());
  }
  if (serverSocket.Valid()) {
    (void)platform::Shutdown(serverSocket.Fd());
  }
}

void ProxyConnection::SetServerSocket(platform::Socket socket) {
  {
    std::lock_guard<std::mutex> lock(socketLock);
    serverSocket = std::move(socket);
    ++serverGeneration;
  }
  // A stop that swept the registry before this socket existed must still reach it.
  if (context.StopRequested()) {
    ShutdownSockets();
  }
}

void ProxyConnection::CloseServerSocket() {
  toServer.Clear();  // never meant for whichever server comes next
  if (serverTls) {
    serverTls->Close();
    serverTls.reset();
  }
  platform::Socket closing;
  {
    std::lock_guard<std::mutex> lock(socketLock);
    closing = std::move(serverSocket);
  }
}

void ProxyConnection::CloseBrowserSocket() {
  if (browserTls) {
    browserTls->Close();
    browserTls.reset();
  }
  platform::Socket closing;
  {
    std::lock_guard<std::mutex> lock(socketLock);
    closing = std::move(browserSocket);
  }
}

void ProxyConnection::Run() {
  bufferSize = static_cast<size_t>(context.ConnectionBufferSize());
  browserReadSize = std::min(kFirstReadSize, bufferSize);
  serverReadSize = browserReadSize;
  Relay();
  Close();
}

void ProxyConnection::Relay() {
  // Without it small replies wait for acknowledgements; relaying works either way.
  (void)platform::SetNoDelay(browserSocket);
  if (!platform::SetNonBlocking(browserSocket).Ok()) {
    return;
  }
  response.Reset();
  if (!context.ListenerRunning() || context.StopRequested()) {
    return;
  }
  for (;;) {
    const bool serverWatched = serverSocket.Valid() && serverSocket.Fd() != browserSocket.Fd();
    // A side is read only while what it sent has gone on: memory stays bounded, and a peer that
    // does not read holds up only the direction it does not read.
    const bool readBrowser = toServer.Empty() && !browserEnded && !NextRequestWaits();
    const bool readServer = serverWatched && (!BrowserOutputPending() || PipeTakesMore());
    platform::PollInterest browser{browserSocket.Fd(), readBrowser, BrowserOutputPending()};
    platform::PollInterest server{serverWatched ? serverSocket.Fd() : -1, readServer,
                                  serverWatched && !toServer.Empty()};
    // A TLS side may wait for the other readiness than its call's, and may hold bytes already
    // read from its socket: those are read now, without waiting for the socket.
    bool browserHeld = false;
    bool serverHeld = false;
    if (browserTls) {
      browserHeld = readBrowser && browserTls->HasPending();
      browser.read = browser.read || browserTls->WantsRead();
      browser.write = browser.write || browserTls->WantsWrite();
    }
    if (serverTls && serverWatched) {
      serverHeld = readServer && serverTls->HasPending();
      server.read = server.read || serverTls->WantsRead();
      server.write = server.write || serverTls->WantsWrite();
    }
    const bool held = browserHeld || serverHeld;
    const uint64_t generation = serverGeneration;
    const platform::PollPairResult ready =
        platform::PollPair(browser, server, held ? 0 : BrowserWaitLimit());
    if (!ready.Ok() || (ready.value.timedOut && !held)) {
      return;
    }
    // For a TLS side any readiness it waited for may let its pending call go on.
    const bool browserMoves =
        browserTls && (ready.value.first.readable || ready.value.first.writable);
    const bool serverMoves =
        serverTls && (ready.value.second.readable || ready.value.second.writable);
    // Sends first: room made now lets this pass's reads go straight out.
    if ((ready.value.first.writable || ready.value.first.failed || browserMoves) &&
        BrowserOutputPending() && !FlushToBrowser()) {
      return;
    }
    if (serverWatched &&
        (ready.value.second.writable || ready.value.second.failed || serverMoves) &&
        !toServer.Empty()) {
      FlushToServer();
    }
    // A hung-up or failed side is read even when it would not be otherwise: the read reports
    // how it ended.
    if ((readBrowser && (ready.value.first.readable || browserHeld || browserMoves)) ||
        ready.value.first.failed) {
      // Read straight into the request buffer's tail: no copy per read.
      char* target = requestBuffer.PrepareAppend(browserReadSize);
      platform::SysCallResult received =
          ReadSide(browserSocket, browserTls.get(), target, browserReadSize);
      const bool nothingYet = received.value < 0 && platform::WouldBlock(received.errorNumber);
      if (!nothingYet) {
        if (received.value > 0) {
          RecordRequestBytesInPlace(static_cast<size_t>(received.value));
          browserReadSize =
              NextReadSize(browserReadSize, static_cast<size_t>(received.value), bufferSize);
        }
        if (!HandleBrowserData()) {
          return;
        }
        if (received.value == 0 && !browserEnded && awaitingResponse && !tunnel &&
            serverSocket.Valid()) {
          // The browser has said all it will; the answer it waits for still goes to it whole.
          browserEnded = true;
        } else if (received.value <= 0) {
          CloseBrowserSocket();
          return;
        }
      }
    }
    // The browser's request may have replaced the server socket; the old one's readiness says
    // nothing about the new one.
    if (serverWatched && generation == serverGeneration && serverSocket.Valid() &&
        ((readServer && (ready.value.second.readable || serverHeld || serverMoves)) ||
         ready.value.second.failed)) {
      if (HandleServerRead() == ServerRead::kEnded) {
        return;
      }
    }
    if (responseJustEnded) {
      responseJustEnded = false;
      // A browser that half-closed has had its answer; a waiting request may go now.
      if (browserEnded || (!requestBuffer.Empty() && !HandleBrowserData())) {
        return;
      }
    }
    if (browserFailed || !context.ListenerRunning()) {
      return;
    }
    ReleaseIdleBuffers();
  }
}

void ProxyConnection::ReleaseIdleBuffers() {
  const bool idle =
      requestBuffer.Empty() && toServer.Empty() && !BrowserOutputPending() &&
      response.Buffer().Empty() &&
      (tunnel || (requestState == RequestState::kHeader &&
                  response.Action() == BodyAction::kAwaitingHeader && !response.HoldsResponse()));
  if (!idle) {
    return;
  }
  requestBuffer.Release();
  toServer.Release();
  toBrowser.Release();
  response.Buffer().Release();
  browserReadSize = std::min(kFirstReadSize, bufferSize);
  serverReadSize = browserReadSize;
}

ServerRead ProxyConnection::HandleServerRead() {
  if (!spliceDisabled && response.StreamsUnchanged() && TrySpliceServerRead()) {
    ServerHasAnswered();
    NoteResponseProgress();
    return ServerRead::kOpen;
  }
  ByteBuffer& buffer = response.Buffer();
  size_t readSize = serverReadSize;
  if (response.Action() == BodyAction::kHoldText) {
    // A held page of known length gets its whole rest reserved at once: growing the buffer
    // step by step would copy the page again at every doubling.
    const int64_t remaining = response.RemainingBodyBytes();
    if (remaining > 0) {
      readSize = std::max(readSize, static_cast<size_t>(std::min(remaining, kLargestHeldRead)));
    }
  }
  char* target = buffer.PrepareAppend(readSize);
  platform::SysCallResult received = ReadSide(serverSocket, serverTls.get(), target, readSize);
  if (received.value < 0 && platform::WouldBlock(received.errorNumber)) {
    return ServerRead::kOpen;
  }
  ServerHasAnswered();
  if (received.value > 0) {
    buffer.CommitAppend(static_cast<size_t>(received.value));
    EnsureConversation();
    conversation->AddResponseData(target, static_cast<int32_t>(received.value));
    serverReadSize = NextReadSize(serverReadSize, static_cast<size_t>(received.value), bufferSize);
  }
  if (!response.Buffer().Empty()) {
    const ServerDataOutcome outcome = response.HandleServerData();
    if (outcome == ServerDataOutcome::kSwitchedToTunnel) {
      // After 101 Switching Protocols both sides speak another protocol: relay it unchanged.
      tunnel = true;
      requestState = RequestState::kPassThrough;
    } else if (outcome == ServerDataOutcome::kInterimForwarded && bodyFramer.InBody()) {
      // The body the interim response asked for may now flow.
      requestState = RequestState::kPassThrough;
    }
  }
  NoteResponseProgress();
  return received.value > 0 ? ServerRead::kOpen : ServerRead::kEnded;
}

bool ProxyConnection::PipeTakesMore() const {
  // A streamed body goes on filling the pipe while the browser drains it, so that the two hops
  // overlap; the pipe's size still bounds what is held.
  return toBrowser.Empty() && pipePending > 0 && pipePending <= kSpliceSize / 2 &&
         !spliceDisabled && response.StreamsUnchanged();
}

bool ProxyConnection::TrySpliceServerRead() {
  // Only into a pipe with nothing queued before it, so that bytes reach the browser in order.
  // Small reads are not worth a pipe, and a read must not run past the body's end.
  if (!toBrowser.Empty() || pipePending >= kSpliceSize) {
    return false;
  }
  size_t limit = kSpliceSize - pipePending;
  int64_t remaining = response.RemainingBodyBytes();
  if (remaining >= 0) {
    limit = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(limit)));
  }
  if (limit < kPeekWindow) {
    return false;
  }
  // What the capture is shown of the read: its first bytes up to a byte that ends the captured
  // text, so the conversation stores exactly what it would have from all of them.
  char view[kPeekWindow];
  size_t seen = 0;
  EnsureConversation();
  if (conversation->ResponseDataSize() < capture::Conversation::kMaxCaptured) {
    // The capture keeps each read's leading text; with a byte in view that ends it under every
    // rule, the bytes up to it are all the capture needs.
    platform::SysCallResult peeked = platform::Peek(serverSocket, view, kPeekWindow);
    if (peeked.value <= 0) {
      return false;
    }
    const size_t peekedCount = static_cast<size_t>(peeked.value);
    seen = capture::TextEndUnderEveryRule(std::string_view(view, peekedCount));
    if (seen == peekedCount) {
      return false;
    }
    ++seen;  // the byte that ends the text
  }
  if (!pipe.Valid()) {
    pipe = platform::Pipe::Create(kSpliceSize);
    if (!pipe.Valid()) {
      spliceDisabled = true;
      return false;
    }
  }
  platform::SysCallResult moved = platform::SpliceToPipe(serverSocket, pipe, limit);
  if (moved.value <= 0) {
    if (moved.value < 0 && moved.errorNumber == EINVAL) {
      spliceDisabled = true;  // this kernel cannot splice these sockets
    }
    return false;  // nothing taken: the ordinary read reports the end or the failure
  }
  const size_t count = static_cast<size_t>(moved.value);
  conversation->AddResponseDataSeen(view, static_cast<int32_t>(std::min(seen, count)),
                                    static_cast<int32_t>(count));
  pipePending += count;
  FlushToBrowser();
  response.AccountStreamedBytes(count);
  return true;
}

void ProxyConnection::ServerHasAnswered() {
  // A body of unknown length ends where the server's answer begins: whatever the browser sends
  // then starts a new request. A framed body goes on to its end.
  if (!tunnel && bodyFramer.Framing() == BodyFraming::kUnframed) {
    requestState = RequestState::kHeader;
  }
}

bool ProxyConnection::HandleBrowserData() {
  if (tunnel) {
    requestState = RequestState::kPassThrough;
    QueueToServer(requestBuffer.View());
    requestBuffer.Clear();
    return true;
  }
  // One read may hold the end of a body and the next request; each is handled in turn.
  for (;;) {
    if (requestState == RequestState::kPassThrough) {
      ForwardBody();
      if (requestState == RequestState::kPassThrough || requestBuffer.Empty()) {
        return true;
      }
    }
    // A pipelined request goes once the response before it has ended: it may be for another
    // server, and the responses must reach the browser in request order.
    if (NextRequestWaits()) {
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

void ProxyConnection::ForwardBody() {
  const size_t body = bodyFramer.Take(requestBuffer.View());
  // Sent or not (a failed send ends the server side), these bytes are done with: framing must
  // never count them twice.
  QueueToServer(requestBuffer.View().substr(0, body));
  requestBuffer.Consume(body);
  if (!bodyFramer.InBody()) {
    requestState = RequestState::kHeader;
  }
}

HeaderOutcome ProxyConnection::HandleRequestHeader() {
  const bool found = requestHeaderEnd.Found(requestBuffer);
  // The same cap whether the header came in one read or many.
  const size_t headerBytes = found ? requestHeaderEnd.Length() : requestBuffer.Size();
  if (headerBytes > kMaxRequestHeaderBytes) {
    QueueToBrowser(kBadRequestReply);
    return HeaderOutcome::kRefused;
  }
  if (!found) {
    return HeaderOutcome::kNeedMore;
  }
  bool parsed = ParseRequest();
  requestHeaderEnd.Reset();
  if (!parsed) {
    return HeaderOutcome::kRefused;
  }
  if (response.HoldsResponse()) {
    // A response still held when the browser moves on is sent rather than dropped.
    response.Finish();
  }
  response.Reset();
  if (!Connect()) {
    return HeaderOutcome::kRefused;
  }
  // Only a CONNECT whose tunnel nothing has gone through yet may be inspected.
  bool mayInspect = false;
  if (tunnel && requestBuffer.Empty()) {
    const std::shared_ptr<const TlsInspector> inspection = context.Inspection();
    mayInspect = inspection && inspection->Inspects(request.host);
  }
  if (mayInspect && upstream->use) {
    const bool stands = OpenUpstreamTunnel();
    requestState = RequestState::kPassThrough;
    awaitingResponse = false;
    if (!stands) {
      return HeaderOutcome::kForwarded;  // a plain tunnel from here, or its end
    }
  }
  if (mayInspect) {
    switch (InterceptTunnel()) {
      case Interception::kTunnel:
        break;
      case Interception::kInspecting:
        return HeaderOutcome::kForwarded;
      case Interception::kFailed:
        return HeaderOutcome::kRefused;
    }
  }
  // The header and the body bytes that came with it go in one send (one segment for a small
  // request); bytes after the body stay for the next request. Tunnelled bytes after a CONNECT
  // all go to the server.
  const size_t body = tunnel ? requestBuffer.Size() : bodyFramer.Take(requestBuffer.View());
  std::string text = JoinLines(requestHeaderLines);
  TerminateHeaderText(text);
  text.append(requestBuffer.Data(), body);
  requestBuffer.Consume(body);
  QueueToServer(text);
  requestState = tunnel || bodyFramer.InBody() ? RequestState::kPassThrough : RequestState::kHeader;
  awaitingResponse = !tunnel;
  return HeaderOutcome::kForwarded;
}

bool ProxyConnection::ParseRequest() {
  // Called once the header's end is in the buffer; a split that finds none leaves no lines and
  // is refused below. A tunnel's bytes are not a header and keep every line.
  const bool split = SplitRequestHeader(
      requestBuffer, tunnel ? GzipOffers::kKeep : GzipOffers::kDrop, requestHeaderLines);
  RequestLine parsed;
  if (split) {
    parsed = ParseRequestLine(requestHeaderLines.front());
    if (Inspecting()) {
      // Inside TLS the server is the CONNECT's, whatever the request line names; a tunnel
      // within it is not taken.
      const std::vector<std::string> tokens = text::Tokenise(requestHeaderLines.front(), " \r\n");
      if (parsed.threeTokens && !parsed.tunnel && parsed.path.empty()) {
        parsed.path = tokens[1];
      }
      if (parsed.threeTokens && !parsed.tunnel && !parsed.path.empty()) {
        parsed.host = inspectedHost;
        parsed.port = inspectedPort;
      } else {
        parsed.host.clear();
      }
    } else if (parsed.threeTokens) {
      tunnel = parsed.tunnel;
    }
  }
  // A request that names no host is refused even on a kept-alive connection, rather than being
  // sent to the previous request's server.
  if (!split || parsed.host.empty()) {
    QueueToBrowser(kBadRequestReply);
    return false;
  }
  request = std::move(parsed);
  upstream = Inspecting() ? NoUpstream() : context.Upstream();
  if (!upstream->use && !tunnel) {
    requestHeaderLines.front() = OriginFormLine(request);
  }
  // Without a length or chunked encoding, only a method outside the bodyless ones is taken to
  // carry a body, passed through until the server answers.
  bodyFramer.Start(requestHeaderLines, !HasBodylessMethodPrefix(requestHeaderLines.front()));
  if (bodyFramer.LengthOverridden()) {
    // Framed by its coding: a length beside it would let the server see another body end.
    RemoveLinesNamed(requestHeaderLines, "content-length");
  }
  response.SetHeadRequest(EqualsIgnoringCase(request.method, "HEAD"));
  return true;
}

bool ProxyConnection::Connect() {
  if (!lastHost.empty() && (lastHost != request.host || lastPort != request.port)) {
    CloseServerSocket();
  }
  lastHost = request.host;
  lastPort = request.port;
  std::string targetName = request.host;
  int32_t targetPort = request.port;
  if (upstream->use) {
    targetName = upstream->address;
    targetPort = upstream->port;
  }
  if (tunnel) {
    response.SetTunnel();
  }
  bool answerTunnel = !upstream->use && tunnel;
  // A request read while the exchange before it was still open starts its own.
  EnsureConversation();
  conversation->MarkConnectStart();
  bool ownListener = false;
  if (!verificationFailure.empty()) {
    AnswerVerificationFailure();
    return false;
  }
  if (!serverSocket.Valid()) {
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
    SetServerSocket(std::move(opened.socket));
    if (serverSocket.Valid() &&
        !FinishServerConnection(serverSocket, context.Limits().connectTimeout)) {
      CloseServerSocket();
    }
  }
  if (Inspecting() && serverSocket.Valid() && !serverTls) {
    // The server closed the connection before: the new one is TLS as well.
    HandshakeWithServer();
    if (!verificationFailure.empty()) {
      conversation->MarkConnected();
      AnswerVerificationFailure();
      return false;
    }
  }
  conversation->MarkConnected();
  if (!serverSocket.Valid()) {
    // A server (or upstream proxy) that is this proxy itself would only send the request back.
    const std::string_view page = ownListener ? kProxyLoopPage : kConnectFailurePage;
    response.Buffer().Clear();
    RecordResponseBytes(page.data(), page.size());
    QueueToBrowser(response.Buffer().View());
    response.Buffer().Clear();
    Close();
    return false;
  }
  if (answerTunnel) {
    // Only now that the server is reachable does the browser hear that the tunnel stands. The
    // reply is captured after the CONNECT header; bytes that followed that header stay in the
    // request buffer for the server.
    conversation->AddRequestData(kTunnelReply.data(), static_cast<int32_t>(kTunnelReply.size()));
    QueueToBrowser(kTunnelReply);
    requestHeaderLines.clear();
  }
  return true;
}

bool ProxyConnection::OpenUpstreamTunnel() {
  std::string text = JoinLines(requestHeaderLines);
  TerminateHeaderText(text);
  requestHeaderLines.clear();
  QueueToServer(text);
  // Its reply header, read here rather than by the relay loop: what follows it decides whether
  // the tunnel is inspected. Bounded in size and time like a handshake.
  const auto deadline = std::chrono::steady_clock::now() + context.Limits().tlsHandshakeTimeout;
  std::string reply;
  size_t headerEnd = std::string::npos;
  while (headerEnd == std::string::npos && reply.size() < kMaxResponseHeaderBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !serverSocket.Valid()) {
      break;
    }
    const platform::PollPairResult ready = platform::PollOne(
        platform::PollInterest{serverSocket.Fd(), toServer.Empty(), !toServer.Empty()},
        static_cast<int>(left.count()));
    if (!ready.Ok() || ready.value.timedOut) {
      break;
    }
    if (!toServer.Empty()) {
      if (!FlushToServer()) {
        break;
      }
      continue;
    }
    char buffer[4096];
    platform::SysCallResult received = platform::Recv(serverSocket, buffer, sizeof buffer);
    if (received.value < 0 && platform::WouldBlock(received.errorNumber)) {
      continue;
    }
    if (received.value <= 0) {
      break;
    }
    const size_t count = static_cast<size_t>(received.value);
    conversation->AddResponseData(buffer, static_cast<int32_t>(count));
    reply.append(buffer, count);
    headerEnd = reply.find("\r\n\r\n");
  }
  QueueToBrowser(reply);
  if (headerEnd == std::string::npos) {
    // No reply in time: the tunnel ends, as the browser was told nothing it could use.
    CloseServerSocket();
    return false;
  }
  const std::string firstLine = reply.substr(0, reply.find("\r\n"));
  return text::StatusCodeOfLine(firstLine) == 200 && reply.size() == headerEnd + 4;
}

Interception ProxyConnection::InterceptTunnel() {
  std::shared_ptr<const TlsInspector> inspection = context.Inspection();
  if (!inspection || !inspection->Inspects(request.host)) {
    return Interception::kTunnel;
  }
  // The browser speaks first only once it has the tunnel reply.
  DrainBrowserOutput();
  if (browserFailed || !browserSocket.Valid()) {
    return Interception::kFailed;
  }
  const platform::PollPairResult ready =
      platform::PollOne(platform::PollInterest{browserSocket.Fd(), true, false},
                        static_cast<int>(context.Limits().firstTunnelByteTimeout.count()));
  if (!ready.Ok() || ready.value.timedOut) {
    return Interception::kTunnel;  // a protocol whose server speaks first stays a plain tunnel
  }
  char first = 0;
  platform::SysCallResult peeked = platform::Peek(browserSocket, &first, 1);
  constexpr char kTlsHandshakeRecord = 0x16;
  if (peeked.value != 1 || first != kTlsHandshakeRecord) {
    return Interception::kTunnel;
  }
  // The CONNECT's conversation ends here; each exchange inside is its own.
  EndConversation();
  inspector = std::move(inspection);
  inspectedHost = request.host;
  inspectedPort = request.port;
  const bool ipv6 = inspectedHost.find(':') != std::string::npos;
  inspectedOrigin = "https://" + (ipv6 ? "[" + inspectedHost + "]" : inspectedHost);
  if (inspectedPort != 443) {
    inspectedOrigin += ":" + std::to_string(inspectedPort);
  }
  tunnel = false;
  response.ClearTunnel();
  requestState = RequestState::kHeader;
  awaitingResponse = false;
  spliceDisabled = true;  // the bytes on the sockets are not the bytes relayed

  browserSide = TlsInspector::BrowserSide{inspectedHost, nullptr, {}};
  SslPtr ssl = inspector->BrowserSession(browserSide);
  if (!ssl) {
    RecordNote("TLS handshake with the browser failed: no TLS session");
    return Interception::kFailed;
  }
  browserTls = std::make_unique<TlsSession>(std::move(ssl), browserSocket.Fd());
  const TlsSession::HandshakeResult accepted =
      browserTls->Handshake(context.Limits().tlsHandshakeTimeout);
  if (!accepted.ok) {
    browserTls.reset();  // nothing more is said to a browser that refused
    const std::string& why = browserSide.leafError.empty() ? accepted.error : browserSide.leafError;
    RecordNote("TLS handshake with the browser failed: " + why);
    return Interception::kFailed;
  }
  HandshakeWithServer();
  return Interception::kInspecting;
}

void ProxyConnection::HandshakeWithServer() {
  SslPtr ssl = inspector->ServerSession(inspectedHost);
  if (!ssl) {
    verificationFailure = "the server's name is not usable for TLS";
    CloseServerSocket();
    return;
  }
  serverTls = std::make_unique<TlsSession>(std::move(ssl), serverSocket.Fd());
  const TlsSession::HandshakeResult connected =
      serverTls->Handshake(context.Limits().tlsHandshakeTimeout);
  if (connected.ok) {
    return;
  }
  const long verified = SSL_get_verify_result(serverTls->Handle());
  verificationFailure = verified != X509_V_OK ? VerificationFailureText(verified)
                                              : "TLS handshake failed: " + connected.error;
  serverTls.reset();  // no alert of ours follows the refusal
  CloseServerSocket();
}

void ProxyConnection::AnswerVerificationFailure() {
  const std::string page = VerificationFailurePage(verificationFailure);
  response.Buffer().Clear();
  RecordResponseBytes(page.data(), page.size());
  QueueToBrowser(response.Buffer().View());
  response.Buffer().Clear();
  Close();
}

void ProxyConnection::RecordNote(std::string_view note) {
  StartConversation();
  conversation->MarkConnectStart();
  conversation->MarkConnected();
  conversation->AddResponseData(note.data(), static_cast<int32_t>(note.size()));
  EndConversation();
}

int ProxyConnection::BrowserWaitLimit() const {
  if (tunnel || awaitingResponse || requestState != RequestState::kHeader || !toServer.Empty() ||
      BrowserOutputPending()) {
    return -1;
  }
  const std::chrono::milliseconds limit =
      requestBuffer.Empty() ? context.Limits().idleTimeout : context.Limits().headerTimeout;
  return static_cast<int>(limit.count());
}

void ProxyConnection::NoteResponseProgress() {
  const bool held =
      response.Action() == BodyAction::kHoldText || response.Action() == BodyAction::kDecodeChunked;
  if (!held && heldShare.Bytes() > 0) {
    heldShare.Release();
    // The page's storage goes with its share: otherwise pages streamed past the budget would
    // keep what they had held until their exchange ends.
    if (response.Buffer().Empty()) {
      response.Buffer().Release();
    }
  }
}

bool ProxyConnection::MayHold(size_t bytes) {
  return bytes <= kMaxHeldResponseBytes && heldShare.TryHold(bytes);
}

void ProxyConnection::Close() {
  if (serverSocket.Valid() && browserSocket.Valid()) {
    response.Finish();
  }
  DrainBrowserOutput();
  CloseServerSocket();
  CloseBrowserSocket();
}

void ProxyConnection::RecordRequestBytesInPlace(size_t count) {
  EnsureConversation();
  if (!tunnel && conversation->ResponseDataSize() > 0) {
    // New request bytes after captured response bytes begin the next exchange; a tunnel is one
    // exchange until it closes.
    EndConversation();
    StartConversation();
  }
  const char* data = requestBuffer.Data() + requestBuffer.Size();
  requestBuffer.CommitAppend(count);
  conversation->AddRequestData(data, static_cast<int32_t>(count));
}

void ProxyConnection::RecordResponseBytes(const char* data, size_t count) {
  response.Buffer().Append(data, count);
  EnsureConversation();
  conversation->AddResponseData(data, static_cast<int32_t>(count));
}

size_t ProxyConnection::SendNow(const platform::Socket& socket, TlsSession* tls,
                                std::string_view bytes, bool* failed) {
  int errorNumber = 0;
  const size_t sent = SendAllInPortions(
      bytes, bufferSize, [&socket, tls, &errorNumber](const char* data, size_t n) {
        platform::SysCallResult result = SendSide(socket, tls, data, n);
        errorNumber = result.errorNumber;
        return result.value;
      });
  *failed = sent < bytes.size() && !platform::WouldBlock(errorNumber);
  return sent;
}

void ProxyConnection::QueueToServer(std::string_view bytes) {
  if (!serverSocket.Valid() || bytes.empty()) {
    return;
  }
  if (!toServer.Empty()) {
    toServer.Append(bytes);
    return;
  }
  bool failed = false;
  const size_t sent = SendNow(serverSocket, serverTls.get(), bytes, &failed);
  if (!failed) {
    toServer.Append(bytes.substr(sent));
  }
}

bool ProxyConnection::FlushToServer() {
  bool failed = false;
  toServer.Consume(SendNow(serverSocket, serverTls.get(), toServer.View(), &failed));
  if (failed) {
    // The server is gone; its read reports the end.
    toServer.Clear();
  }
  return !failed;
}

void ProxyConnection::QueueToBrowser(std::string_view bytes) {
  if (!browserSocket.Valid() || browserFailed || bytes.empty()) {
    return;
  }
  if (BrowserOutputPending()) {
    toBrowser.Append(bytes);
    return;
  }
  bool failed = false;
  const size_t sent = SendNow(browserSocket, browserTls.get(), bytes, &failed);
  if (failed) {
    browserFailed = true;
    return;
  }
  toBrowser.Append(bytes.substr(sent));
}

bool ProxyConnection::FlushToBrowser() {
  if (browserFailed || !browserSocket.Valid()) {
    return false;
  }
  while (pipePending > 0) {
    platform::SysCallResult out = platform::SpliceFromPipe(pipe, browserSocket, pipePending);
    if (out.value > 0) {
      pipePending -= static_cast<size_t>(out.value);
      continue;
    }
    if (out.value < 0 && platform::WouldBlock(out.errorNumber)) {
      return true;
    }
    // The browser is gone; what is left in the pipe is dropped with it.
    pipe.Close();
    pipePending = 0;
    spliceDisabled = true;
    browserFailed = true;
    return false;
  }
  bool failed = false;
  toBrowser.Consume(SendNow(browserSocket, browserTls.get(), toBrowser.View(), &failed));
  if (failed) {
    toBrowser.Clear();
    browserFailed = true;
  }
  return !failed;
}

void ProxyConnection::DrainBrowserOutput() {
  while (BrowserOutputPending() && !browserFailed && browserSocket.Valid()) {
    const platform::PollPairResult ready = platform::PollOne(
        platform::PollInterest{browserSocket.Fd(), browserTls && browserTls->WantsRead(), true},
        -1);
    if (!ready.Ok() || !FlushToBrowser()) {
      return;
    }
  }
}

void ProxyConnection::SendToBrowser(std::string_view bytes) {
  QueueToBrowser(bytes);
}

void ProxyConnection::SendGatheredToBrowser(std::string_view head, std::string_view body) {
  if (!browserSocket.Valid() || browserFailed) {
    return;
  }
  if (browserTls) {
    // Records are made from what is handed over: nothing to gather.
    QueueToBrowser(head);
    QueueToBrowser(body);
    return;
  }
  // Portions of at most the send size, as every send; the first one carries the header. What
  // the browser does not take now waits in the queue.
  while (!BrowserOutputPending() && (!head.empty() || !body.empty())) {
    std::string_view first = head.substr(0, bufferSize);
    std::string_view second = body.substr(0, bufferSize - first.size());
    platform::SysCallResult sent = platform::SendGathered(browserSocket, first, second);
    if (sent.value < 0 && platform::WouldBlock(sent.errorNumber)) {
      break;
    }
    if (sent.value <= 0) {
      browserFailed = true;
      return;
    }
    const auto count = static_cast<size_t>(sent.value);
    const size_t fromHead = std::min(count, head.size());
    head.remove_prefix(fromHead);
    body.remove_prefix(count - fromHead);
  }
  toBrowser.Append(head);
  toBrowser.Append(body);
}

void ProxyConnection::CaptureResponseBytes(std::string_view bytes) {
  EnsureConversation();
  conversation->AddResponseData(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void ProxyConnection::ResponseEnded() {
  // Only the answer to a forwarded request ends an exchange: its end is its last response byte,
  // and whatever comes after begins the next one.
  if (!awaitingResponse || tunnel) {
    return;
  }
  awaitingResponse = false;
  responseJustEnded = true;
  EndConversation();
}

}  // namespace rw::proxy
