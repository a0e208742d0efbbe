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
  Relay();
  Close();
}

void ProxyConnection::Relay() {
  platform::SetNoDelay(browserSocket_);
  response_.Reset();
  if (!context_.ListenerRunning() || context_.StopRequested()) {
    return;
  }
  for (;;) {
    int serverFd = serverSocket_.Valid() && serverSocket_.Fd() != browserSocket_.Fd()
                       ? serverSocket_.Fd()
                       : -1;
    uint64_t generation = serverGeneration_;
    platform::PollReadResult ready = platform::PollReadable(browserSocket_.Fd(), serverFd);
    if (!ready.ok) {
      return;
    }
    if (ready.firstReady) {
      // Read straight into the request buffer's tail: no copy per read.
      char* target = requestBuffer_.PrepareAppend(bufferSize_);
      platform::SysCallResult received = platform::Recv(browserSocket_, target, bufferSize_);
      if (received.value > 0) {
        RecordRequestBytesInPlace(static_cast<size_t>(received.value));
      }
      if (!HandleBrowserData()) {
        return;
      }
      if (received.value <= 0) {
        CloseBrowserSocket();
        return;
      }
    }
    // The browser's request may have replaced the server socket; the old one's readiness says
    // nothing about the new one, and a blind recv could block.
    if (ready.secondReady && serverSocket_.Valid() && generation == serverGeneration_) {
      bool serverEnded = false;
      HandleServerRead(&serverEnded);
      if (serverEnded) {
        return;
      }
    }
    if (!context_.ListenerRunning()) {
      return;
    }
  }
}

void ProxyConnection::HandleServerRead(bool* serverEnded) {
  if (!spliceDisabled_ && response_.StreamsUnchanged() && TrySpliceServerRead()) {
    ServerHasAnswered();
    *serverEnded = false;
    return;
  }
  ByteBuffer& buffer = response_.Buffer();
  char* target = buffer.PrepareAppend(bufferSize_);
  platform::SysCallResult received = platform::Recv(serverSocket_, target, bufferSize_);
  ServerHasAnswered();
  if (received.value > 0) {
    buffer.CommitAppend(static_cast<size_t>(received.value));
    conversation_->AddResponseData(target, static_cast<int32_t>(received.value));
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
  // Small reads are not worth a pipe, and a read must not run past the body's end.
  constexpr size_t kPeekWindow = 4096;
  size_t limit = kSpliceSize;
  int64_t remaining = response_.RemainingBodyBytes();
  if (remaining >= 0) {
    limit = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(limit)));
  }
  if (limit < kPeekWindow) {
    return false;
  }
  if (captureView_.size() < kSpliceSize) {
    captureView_.assign(kSpliceSize, '\0');
  }
  if (conversation_->ResponseDataSize() < capture::Conversation::kMaxCaptured) {
    // The capture keeps each read's leading text. A byte 0x00-0x08 ends that text under every
    // rule it uses; with one in view, the bytes up to it are all the capture needs.
    platform::SysCallResult peeked =
        platform::Peek(serverSocket_, captureView_.data(), kPeekWindow);
    if (peeked.value <= 0) {
      return false;
    }
    size_t peekedCount = static_cast<size_t>(peeked.value);
    bool textEnds = false;
    for (size_t i = 0; i < peekedCount; ++i) {
      if (static_cast<unsigned char>(captureView_[i]) <= 0x08) {
        textEnds = true;
        break;
      }
    }
    if (!textEnds) {
      return false;
    }
  } else {
    captureView_[0] = '\0';  // nothing more is stored; only the count matters
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
  size_t count = static_cast<size_t>(moved.value);
  conversation_->AddResponseData(captureView_.data(), static_cast<int32_t>(count));
  size_t sent = 0;
  while (sent < count) {
    platform::SysCallResult out = platform::SpliceFromPipe(pipe_, browserSocket_, count - sent);
    if (out.value <= 0) {
      // The browser is gone; what is left in the pipe is dropped with it.
      pipe_.Close();
      spliceDisabled_ = true;
      break;
    }
    sent += static_cast<size_t>(out.value);
  }
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
    SendAllFromBuffer(serverSocket_, requestBuffer_);
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
  SendAll(serverSocket_, requestBuffer_.View().substr(0, body));
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
    SendAll(browserSocket_, kBadRequestReply);
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
  SendAll(serverSocket_, text);
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
    SendAll(browserSocket_, kBadRequestReply);
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
    SetServerSocket(OpenServerConnection(context_.Hosts(), targetName, targetPort));
  }
  conversation_->MarkConnected();
  if (!serverSocket_.Valid()) {
    response_.Buffer().Clear();
    RecordResponseBytes(kConnectFailurePage.data(), kConnectFailurePage.size());
    SendAllFromBuffer(browserSocket_, response_.Buffer());
    Close();
    return false;
  }
  if (answerTunnel) {
    // Only now that the server is reachable does the browser hear that the tunnel stands. The
    // reply is captured after the CONNECT header; bytes that followed that header stay in the
    // request buffer for the server.
    conversation_->AddRequestData(kTunnelReply.data(), static_cast<int32_t>(kTunnelReply.size()));
    SendAll(browserSocket_, kTunnelReply);
    requestHeaderLines_.clear();
  }
  return true;
}

void ProxyConnection::Close() {
  if (serverSocket_.Valid() && browserSocket_.Valid()) {
    response_.Finish();
  }
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

size_t ProxyConnection::SendAll(const platform::Socket& socket, std::string_view bytes) {
  if (!socket.Valid() || bytes.empty()) {
    return 0;
  }
  return SendAllInPortions(bytes, bufferSize_, [&socket](const char* data, size_t count) {
    return platform::Send(socket, data, count).value;
  });
}

void ProxyConnection::SendAllFromBuffer(const platform::Socket& socket, ByteBuffer& buffer) {
  size_t sent = SendAll(socket, buffer.View());
  buffer.Consume(sent);
}

void ProxyConnection::SendToBrowser(std::string_view bytes) {
  SendAll(browserSocket_, bytes);
}

void ProxyConnection::SendGatheredToBrowser(std::string_view head, std::string_view body) {
  if (!browserSocket_.Valid()) {
    return;
  }
  // Portions of at most the send size, as every send; the first one carries the header.
  while (!head.empty() || !body.empty()) {
    std::string_view first = head.substr(0, bufferSize_);
    std::string_view second = body.substr(0, bufferSize_ - first.size());
    platform::SysCallResult sent = platform::SendGathered(browserSocket_, first, second);
    if (sent.value <= 0) {
      return;
    }
    const auto count = static_cast<size_t>(sent.value);
    const size_t fromHead = std::min(count, head.size());
    head.remove_prefix(fromHead);
    body.remove_prefix(count - fromHead);
  }
}

void ProxyConnection::CaptureResponseBytes(std::string_view bytes) {
  conversation_->AddResponseData(bytes.data(), static_cast<int32_t>(bytes.size()));
}

}  // namespace rw::proxy
