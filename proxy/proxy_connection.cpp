#include "proxy/proxy_connection.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/os_sys_calls.h"
#include "proxy/fixed_replies.h"
#include "proxy/send_all.h"
#include "proxy/server_connector.h"

namespace rw::proxy {
namespace {

// Bytes one splice may move: no copy is made, so more per call only saves system calls.
constexpr size_t kSpliceSize = 1024 * 1024;
// The first read of an exchange in each direction; reads that come back full double it, up to
// the connection's buffer size.
constexpr size_t kFirstReadSize = 16 * 1024;
// The bytes of a streamed read looked at for the capture, without taking them from the socket.
constexpr size_t kPeekWindow = 4096;

size_t NextReadSize(size_t current, size_t received, size_t largest) {
  return received == current ? std::min(current * 2, largest) : current;
}

}  // namespace

ProxyConnection::ProxyConnection(EngineContext& context, platform::Socket browserSocket)
    : context_(context), response_(*this), browserSocket_(std::move(browserSocket)) {
  context_.AddConnection(this);
  StartConversation();
}

ProxyConnection::~ProxyConnection() {
  Close();
  EndConversation();
  context_.RemoveConnection(this);
}

void ProxyConnection::StartConversation() {
  conversationId_ = context_.NextConversationId();
  conversation_ = std::make_shared<capture::Conversation>(conversationId_, context_.Store());
  context_.Store().AddConversation(conversation_);
  context_.Store().IncrementConversationCount();
}

void ProxyConnection::EndConversation() {
  if (conversation_) {
    conversation_->MarkEnd();
    // Once complete, the user-interface thread may log or free it: not touched again.
    conversation_->MarkComplete();
    conversation_.reset();
  }
}

void ProxyConnection::ShutdownSockets() {
  std::lock_guard<std::mutex> lock(socketLock);
  if (browserSocket_.Valid()) {
    platform::Shutdown(browserSocket_.Fd());
  }
  if (serverSocket_.Valid()) {
    platform::Shutdown(serverSocket_.Fd());
  }
}

void ProxyConnection::SetServerSocket(platform::Socket socket) {
  {
    std::lock_guard<std::mutex> lock(socketLock);
    serverSocket_ = std::move(socket);
    ++serverGeneration_;
  }
  // A stop that swept the registry before this socket existed must still reach it.
  if (context_.StopRequested()) {
    ShutdownSockets();
  }
}

void ProxyConnection::CloseServerSocket() {
  toServer_.Clear();  // never meant for whichever server comes next
  platform::Socket closing;
  {
    std::lock_guard<std::mutex> lock(socketLock);
    closing = std::move(serverSocket_);
  }
}

void ProxyConnection::CloseBrowserSocket() {
  platform::Socket closing;
  {
    std::lock_guard<std::mutex> lock(socketLock);
    closing = std::move(browserSocket_);
  }
}

void ProxyConnection::Run() {
  bufferSize_ = static_cast<size_t>(context_.ConnectionBufferSize());
  browserReadSize_ = std::min(kFirstReadSize, bufferSize_);
  serverReadSize_ = browserReadSize_;
  Relay();
  Close();
}

void ProxyConnection::Relay() {
  platform::SetNoDelay(browserSocket_);
  if (!platform::SetNonBlocking(browserSocket_).Ok()) {
    return;
  }
  response_.Reset();
  if (!context_.ListenerRunning() || context_.StopRequested()) {
    return;
  }
  for (;;) {
    const bool serverWatched = serverSocket_.Valid() && serverSocket_.Fd() != browserSocket_.Fd();
    // A side is read only while what it sent has gone on: memory stays bounded, and a peer that
    // does not read holds up only the direction it does not read.
    const bool readBrowser = toServer_.Empty();
    const bool readServer = serverWatched && !BrowserOutputPending();
    const platform::PollInterest browser{browserSocket_.Fd(), readBrowser, BrowserOutputPending()};
    const platform::PollInterest server{serverWatched ? serverSocket_.Fd() : -1, readServer,
                                        serverWatched && !toServer_.Empty()};
    const uint64_t generation = serverGeneration_;
    const platform::PollPairResult ready = platform::PollPair(browser, server);
    if (!ready.ok) {
      return;
    }
    // Sends first: room made now lets this pass's reads go straight out.
    if ((ready.first.writable || ready.first.failed) && BrowserOutputPending() &&
        !FlushToBrowser()) {
      return;
    }
    if (serverWatched && (ready.second.writable || ready.second.failed) && !toServer_.Empty()) {
      FlushToServer();
    }
    // A hung-up or failed side is read even when it would not be otherwise: the read reports
    // how it ended.
    if ((readBrowser && ready.first.readable) || ready.first.failed) {
      // Read straight into the request buffer's tail: no copy per read.
      char* target = requestBuffer_.PrepareAppend(browserReadSize_);
      platform::SysCallResult received = platform::Recv(browserSocket_, target, browserReadSize_);
      const bool nothingYet = received.value < 0 && platform::WouldBlock(received.errorNumber);
      if (!nothingYet) {
        if (received.value > 0) {
          RecordRequestBytesInPlace(static_cast<size_t>(received.value));
          browserReadSize_ =
              NextReadSize(browserReadSize_, static_cast<size_t>(received.value), bufferSize_);
        }
        if (!HandleBrowserData()) {
          return;
        }
        if (received.value <= 0) {
          CloseBrowserSocket();
          return;
        }
      }
    }
    // The browser's request may have replaced the server socket; the old one's readiness says
    // nothing about the new one.
    if (serverWatched && generation == serverGeneration_ && serverSocket_.Valid() &&
        ((readServer && ready.second.readable) || ready.second.failed)) {
      bool serverEnded = false;
      HandleServerRead(&serverEnded);
      if (serverEnded) {
        return;
      }
    }
    if (browserFailed_ || !context_.ListenerRunning()) {
      return;
    }
    ReleaseIdleBuffers();
  }
}

void ProxyConnection::ReleaseIdleBuffers() {
  const bool idle = requestBuffer_.Empty() && toServer_.Empty() && !BrowserOutputPending() &&
                    response_.Buffer().Empty() &&
                    (tunnel_ || (requestState_ == RequestState::kHeader &&
                                 response_.Action() == BodyAction::kAwaitingHeader &&
                                 !response_.HoldsResponse()));
  if (!idle) {
    return;
  }
  requestBuffer_.Release();
  toServer_.Release();
  toBrowser_.Release();
  response_.Buffer().Release();
  browserReadSize_ = std::min(kFirstReadSize, bufferSize_);
  serverReadSize_ = browserReadSize_;
}

void ProxyConnection::HandleServerRead(bool* serverEnded) {
  *serverEnded = false;
  if (!spliceDisabled_ && response_.StreamsUnchanged() && TrySpliceServerRead()) {
    ServerHasAnswered();
    return;
  }
  ByteBuffer& buffer = response_.Buffer();
  char* target = buffer.PrepareAppend(serverReadSize_);
  platform::SysCallResult received = platform::Recv(serverSocket_, target, serverReadSize_);
  if (received.value < 0 && platform::WouldBlock(received.errorNumber)) {
    return;
  }
  ServerHasAnswered();
  if (received.value > 0) {
    buffer.CommitAppend(static_cast<size_t>(received.value));
    conversation_->AddResponseData(target, static_cast<int32_t>(received.value));
    serverReadSize_ =
        NextReadSize(serverReadSize_, static_cast<size_t>(received.value), bufferSize_);
  }
  if (!response_.Buffer().Empty()) {
    const ServerDataOutcome outcome = response_.HandleServerData();
    if (outcome == ServerDataOutcome::kSwitchedToTunnel) {
      // After 101 Switching Protocols both sides speak another protocol: relay it unchanged.
      tunnel_ = true;
      requestState_ = RequestState::kPassThrough;
    } else if (outcome == ServerDataOutcome::kInterimForwarded && bodyFramer_.InBody()) {
      // The body the interim response asked for may now flow.
      requestState_ = RequestState::kPassThrough;
    }
  }
  *serverEnded = received.value <= 0;
}

bool ProxyConnection::TrySpliceServerRead() {
  // Only into an empty pipe with nothing queued before it, so that bytes reach the browser in
  // order. Small reads are not worth a pipe, and a read must not run past the body's end.
  if (BrowserOutputPending()) {
    return false;
  }
  size_t limit = kSpliceSize;
  int64_t remaining = response_.RemainingBodyBytes();
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
  if (conversation_->ResponseDataSize() < capture::Conversation::kMaxCaptured) {
    // The capture keeps each read's leading text. A byte 0x00-0x08 ends that text under every
    // rule it uses; with one in view, the bytes up to it are all the capture needs.
    platform::SysCallResult peeked = platform::Peek(serverSocket_, view, kPeekWindow);
    if (peeked.value <= 0) {
      return false;
    }
    const size_t peekedCount = static_cast<size_t>(peeked.value);
    while (seen<peekedCount&& static_cast<unsigned char>(view[seen])> 0x08) {
      ++seen;
    }
    if (seen == peekedCount) {
      return false;
    }
    ++seen;  // the byte that ends the text
  }
  if (!pipe_.Valid()) {
    pipe_ = platform::Pipe::Create(kSpliceSize);
    if (!pipe_.Valid()) {
      spliceDisabled_ = true;
      return false;
    }
  }
  platform::SysCallResult moved = platform::SpliceToPipe(serverSocket_, pipe_, limit);
  if (moved.value <= 0) {
    if (moved.value < 0 && moved.errorNumber == EINVAL) {
      spliceDisabled_ = true;  // this kernel cannot splice these sockets
    }
    return false;  // nothing taken: the ordinary read reports the end or the failure
  }
  const size_t count = static_cast<size_t>(moved.value);
  conversation_->AddResponseDataSeen(view, static_cast<int32_t>(std::min(seen, count)),
                                     static_cast<int32_t>(count));
  pipePending_ = count;
  FlushToBrowser();
  response_.AccountStreamedBytes(count);
  return true;
}

void ProxyConnection::ServerHasAnswered() {
  // A body of unknown length ends where the server's answer begins: whatever the browser sends
  // then starts a new request. A framed body goes on to its end.
  if (!tunnel_ && bodyFramer_.Framing() == BodyFraming::kUnframed) {
    requestState_ = RequestState::kHeader;
  }
}

bool ProxyConnection::HandleBrowserData() {
  if (tunnel_) {
    requestState_ = RequestState::kPassThrough;
    QueueToServer(requestBuffer_.View());
    requestBuffer_.Clear();
    return true;
  }
  // One read may hold the end of a body and the next request; each is handled in turn.
  for (;;) {
    if (requestState_ == RequestState::kPassThrough) {
      ForwardBody();
      if (requestState_ == RequestState::kPassThrough || requestBuffer_.Empty()) {
        return true;
      }
    }
    switch (HandleRequestHeader()) {
      case HeaderOutcome::kNeedMore:
        return true;
      case HeaderOutcome::kRefused:
        return false;
      case HeaderOutcome::kForwarded:
        break;
    }
    if (requestBuffer_.Empty()) {
      return true;
    }
  }
}

void ProxyConnection::ForwardBody() {
  const size_t body = bodyFramer_.Take(requestBuffer_.View());
  // Sent or not (a failed send ends the server side), these bytes are done with: framing must
  // never count them twice.
  QueueToServer(requestBuffer_.View().substr(0, body));
  requestBuffer_.Consume(body);
  if (!bodyFramer_.InBody()) {
    requestState_ = RequestState::kHeader;
  }
}

HeaderOutcome ProxyConnection::HandleRequestHeader() {
  const bool found = requestHeaderEnd_.Found(requestBuffer_);
  // The same cap whether the header came in one read or many.
  const size_t headerBytes = found ? requestHeaderEnd_.Length() : requestBuffer_.Size();
  if (headerBytes > kMaxRequestHeaderBytes) {
    QueueToBrowser(kBadRequestReply);
    return HeaderOutcome::kRefused;
  }
  if (!found) {
    return HeaderOutcome::kNeedMore;
  }
  bool parsed = ParseRequest();
  requestHeaderEnd_.Reset();
  if (!parsed) {
    return HeaderOutcome::kRefused;
  }
  if (response_.HoldsResponse()) {
    // A response still held when the browser moves on is sent rather than dropped.
    response_.Finish();
  }
  response_.Reset();
  if (!Connect()) {
    return HeaderOutcome::kRefused;
  }
  // The header and the body bytes that came with it go in one send (one segment for a small
  // request); bytes after the body stay for the next request. Tunnelled bytes after a CONNECT
  // all go to the server.
  const size_t body = tunnel_ ? requestBuffer_.Size() : bodyFramer_.Take(requestBuffer_.View());
  std::string text = JoinLines(requestHeaderLines_);
  TerminateHeaderText(text);
  text.append(requestBuffer_.Data(), body);
  requestBuffer_.Consume(body);
  QueueToServer(text);
  requestState_ =
      tunnel_ || bodyFramer_.InBody() ? RequestState::kPassThrough : RequestState::kHeader;
  return HeaderOutcome::kForwarded;
}

bool ProxyConnection::ParseRequest() {
  SplitHeader(requestBuffer_, !tunnel_, requestHeaderLines_, nullptr);
  requestLine_.clear();
  RequestLine parsed;
  if (!requestHeaderLines_.empty()) {
    requestLine_ = requestHeaderLines_.front();
    parsed = ParseRequestLine(requestLine_);
    if (parsed.threeTokens) {
      tunnel_ = parsed.tunnel;
    }
  }
  // A request that names no host is refused even on a kept-alive connection, rather than being
  // sent to the previous request's server.
  if (requestLine_.empty() || parsed.host.empty()) {
    QueueToBrowser(kBadRequestReply);
    return false;
  }
  request_ = std::move(parsed);
  upstream_ = context_.Upstream();
  if (!upstream_->use && !tunnel_) {
    requestHeaderLines_.front() = OriginFormLine(request_);
  }
  // Without a length or chunked encoding, only a method outside the bodyless ones is taken to
  // carry a body, passed through until the server answers.
  bodyFramer_.Start(requestHeaderLines_, !HasBodylessMethodPrefix(requestHeaderLines_.front()));
  response_.SetHeadRequest(EqualsIgnoringCase(request_.method, "HEAD"));
  return true;
}

bool ProxyConnection::Connect() {
  if (!lastHost_.empty() && (lastHost_ != request_.host || lastPort_ != request_.port)) {
    CloseServerSocket();
  }
  lastHost_ = request_.host;
  lastPort_ = request_.port;
  std::string targetName = request_.host;
  int32_t targetPort = request_.port;
  if (upstream_->use) {
    targetName = upstream_->address;
    targetPort = upstream_->port;
  }
  if (tunnel_) {
    response_.SetTunnel();
  }
  bool answerTunnel = !upstream_->use && tunnel_;
  conversation_->MarkConnectStart();
  if (!serverSocket_.Valid()) {
    platform::Socket opened = OpenServerConnection(context_.Hosts(), targetName, targetPort);
    if (opened.Valid() && !platform::SetNonBlocking(opened).Ok()) {
      opened.Close();
    }
    SetServerSocket(std::move(opened));
  }
  conversation_->MarkConnected();
  if (!serverSocket_.Valid()) {
    response_.Buffer().Clear();
    RecordResponseBytes(kConnectFailurePage.data(), kConnectFailurePage.size());
    QueueToBrowser(response_.Buffer().View());
    response_.Buffer().Clear();
    Close();
    return false;
  }
  if (answerTunnel) {
    // Only now that the server is reachable does the browser hear that the tunnel stands. The
    // reply is captured after the CONNECT header; bytes that followed that header stay in the
    // request buffer for the server.
    conversation_->AddRequestData(kTunnelReply.data(), static_cast<int32_t>(kTunnelReply.size()));
    QueueToBrowser(kTunnelReply);
    requestHeaderLines_.clear();
  }
  return true;
}

void ProxyConnection::Close() {
  if (serverSocket_.Valid() && browserSocket_.Valid()) {
    response_.Finish();
  }
  DrainBrowserOutput();
  CloseServerSocket();
  CloseBrowserSocket();
}

void ProxyConnection::RecordRequestBytesInPlace(size_t count) {
  if (conversation_->ResponseDataSize() > 0) {
    // New request bytes after captured response bytes begin the next exchange.
    EndConversation();
    StartConversation();
  }
  const char* data = requestBuffer_.Data() + requestBuffer_.Size();
  requestBuffer_.CommitAppend(count);
  conversation_->AddRequestData(data, static_cast<int32_t>(count));
}

void ProxyConnection::RecordResponseBytes(const char* data, size_t count) {
  response_.Buffer().Append(data, count);
  conversation_->AddResponseData(data, static_cast<int32_t>(count));
}

size_t ProxyConnection::SendNow(const platform::Socket& socket, std::string_view bytes,
                                bool* failed) {
  int errorNumber = 0;
  const size_t sent =
      SendAllInPortions(bytes, bufferSize_, [&socket, &errorNumber](const char* data, size_t n) {
        platform::SysCallResult result = platform::Send(socket, data, n);
        errorNumber = result.errorNumber;
        return result.value;
      });
  *failed = sent < bytes.size() && !platform::WouldBlock(errorNumber);
  return sent;
}

void ProxyConnection::QueueToServer(std::string_view bytes) {
  if (!serverSocket_.Valid() || bytes.empty()) {
    return;
  }
  if (!toServer_.Empty()) {
    toServer_.Append(bytes);
    return;
  }
  bool failed = false;
  const size_t sent = SendNow(serverSocket_, bytes, &failed);
  if (!failed) {
    toServer_.Append(bytes.substr(sent));
  }
}

bool ProxyConnection::FlushToServer() {
  bool failed = false;
  toServer_.Consume(SendNow(serverSocket_, toServer_.View(), &failed));
  if (failed) {
    // The server is gone; its read reports the end.
    toServer_.Clear();
  }
  return !failed;
}

void ProxyConnection::QueueToBrowser(std::string_view bytes) {
  if (!browserSocket_.Valid() || browserFailed_ || bytes.empty()) {
    return;
  }
  if (BrowserOutputPending()) {
    toBrowser_.Append(bytes);
    return;
  }
  bool failed = false;
  const size_t sent = SendNow(browserSocket_, bytes, &failed);
  if (failed) {
    browserFailed_ = true;
    return;
  }
  toBrowser_.Append(bytes.substr(sent));
}

bool ProxyConnection::FlushToBrowser() {
  if (browserFailed_ || !browserSocket_.Valid()) {
    return false;
  }
  while (pipePending_ > 0) {
    platform::SysCallResult out = platform::SpliceFromPipe(pipe_, browserSocket_, pipePending_);
    if (out.value > 0) {
      pipePending_ -= static_cast<size_t>(out.value);
      continue;
    }
    if (out.value < 0 && platform::WouldBlock(out.errorNumber)) {
      return true;
    }
    // The browser is gone; what is left in the pipe is dropped with it.
    pipe_.Close();
    pipePending_ = 0;
    spliceDisabled_ = true;
    browserFailed_ = true;
    return false;
  }
  bool failed = false;
  toBrowser_.Consume(SendNow(browserSocket_, toBrowser_.View(), &failed));
  if (failed) {
    toBrowser_.Clear();
    browserFailed_ = true;
  }
  return !failed;
}

void ProxyConnection::DrainBrowserOutput() {
  while (BrowserOutputPending() && !browserFailed_ && browserSocket_.Valid()) {
    const platform::PollPairResult ready =
        platform::PollOne(platform::PollInterest{browserSocket_.Fd(), false, true}, -1);
    if (!ready.ok || !FlushToBrowser()) {
      return;
    }
  }
}

void ProxyConnection::SendToBrowser(std::string_view bytes) {
  QueueToBrowser(bytes);
}

void ProxyConnection::SendGatheredToBrowser(std::string_view head, std::string_view body) {
  if (!browserSocket_.Valid() || browserFailed_) {
    return;
  }
  // Portions of at most the send size, as every send; the first one carries the header. What
  // the browser does not take now waits in the queue.
  while (!BrowserOutputPending() && (!head.empty() || !body.empty())) {
    std::string_view first = head.substr(0, bufferSize_);
    std::string_view second = body.substr(0, bufferSize_ - first.size());
    platform::SysCallResult sent = platform::SendGathered(browserSocket_, first, second);
    if (sent.value < 0 && platform::WouldBlock(sent.errorNumber)) {
      break;
    }
    if (sent.value <= 0) {
      browserFailed_ = true;
      return;
    }
    const auto count = static_cast<size_t>(sent.value);
    const size_t fromHead = std::min(count, head.size());
    head.remove_prefix(fromHead);
    body.remove_prefix(count - fromHead);
  }
  toBrowser_.Append(head);
  toBrowser_.Append(body);
}

void ProxyConnection::CaptureResponseBytes(std::string_view bytes) {
  conversation_->AddResponseData(bytes.data(), static_cast<int32_t>(bytes.size()));
}

}  // namespace rw::proxy
