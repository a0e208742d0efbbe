// One browser connection: relays bytes between the browser and the server, parses requests,
// opens and reuses the server connection, hands server bytes to the response handler and records
// every byte in the current conversation. Both sockets are non-blocking: while one direction
// cannot send, the other keeps moving. Created, run and destroyed by its own connection thread;
// only ShutdownSockets is called from another thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "capture/conversation.h"
#include "platform/pipe.h"
#include "platform/socket.h"
#include "proxy/byte_buffer.h"
#include "proxy/engine_context.h"
#include "proxy/header_end_scanner.h"
#include "proxy/header_text.h"
#include "proxy/held_page_share.h"
#include "proxy/request_body_framer.h"
#include "proxy/request_line.h"
#include "proxy/response_handler.h"
#include "proxy/tls_inspector.h"
#include "proxy/tls_session.h"
#include "proxy/upstream_proxy.h"

namespace rw::proxy {

enum class RequestState {
  kHeader,       // the next browser bytes begin a request header
  kPassThrough,  // browser bytes go to the server as they come (a body, or a tunnel)
};

// Whether the server side is still open after handling one server read.
enum class ServerRead { kOpen, kEnded };

// What became of a CONNECT tunnel that may be inspected.
enum class Interception {
  kTunnel,      // the browser did not begin TLS: bytes pass unchanged
  kInspecting,  // TLS on both sides (or a server refused, answered at the first request)
  kFailed,      // the browser's handshake failed; the connection ends
};

enum class HeaderOutcome {
  kNeedMore,   // no complete request header yet
  kForwarded,  // sent to the server with the body bytes that followed it
  kRefused,    // answered by the proxy; the connection ends
};

// A request header that has not ended within this many bytes is refused: it keeps one
// connection's memory bounded.
inline constexpr size_t kMaxRequestHeaderBytes = 64 * 1024;

class ProxyConnection : private ResponseOutput {
 public:
  // Joins the context's live connections and starts the first conversation.
  ProxyConnection(EngineContext& context, platform::Socket browserSocket);
  // Closes the sockets, completes the last conversation, and leaves the live connections.
  ~ProxyConnection() override;
  ProxyConnection(const ProxyConnection&) = delete;
  ProxyConnection& operator=(const ProxyConnection&) = delete;

  // Relays until either side closes or fails, a request is refused, or the listener stops;
  // returns with both sockets closed.
  void Run();

  // Any thread: wakes the relay loop by shutting both sockets down.
  void ShutdownSockets();

 private:
  void Relay();
  bool HandleBrowserData();
  HeaderOutcome HandleRequestHeader();
  // Sends the body bytes at the front of the request buffer; the rest is the next request.
  void ForwardBody();
  void ServerHasAnswered();
  ServerRead HandleServerRead();
  // Moves one read of a streamed body from server to browser through a pipe, without copying it
  // through this process. False when it did not apply; nothing has been read then.
  bool TrySpliceServerRead();
  // Gives back the buffers' storage once an exchange is over, so that an idle connection holds
  // none, and starts the next exchange with small reads.
  void ReleaseIdleBuffers();
  bool ParseRequest();
  bool Connect();
  // After the tunnel reply to a CONNECT: takes TLS from the browser when its first byte begins a
  // handshake and the host is inspected, then opens TLS to the server.
  Interception InterceptTunnel();
  // Through an upstream proxy: sends it the CONNECT and passes its reply on; true when the
  // tunnel stands and nothing has come through it yet, so that it may be inspected.
  bool OpenUpstreamTunnel();
  // TLS to the server over the open server socket; a refusal is kept for the next request.
  void HandshakeWithServer();
  // Answers the request in hand with the server's refusal, captured as its response.
  void AnswerVerificationFailure();
  bool Inspecting() const { return !inspectedOrigin.empty(); }
  // How long the relay loop waits for the browser before it ends the connection: the header
  // time-out while part of a request header has come, the idle time-out between exchanges, and
  // no limit while an exchange is under way (-1).
  int BrowserWaitLimit() const;
  // After each server read: a page no longer held gives its share of the budget back.
  void NoteResponseProgress();
  void Close();

  // The `count` bytes just read into the request buffer's tail.
  void RecordRequestBytesInPlace(size_t count);
  void RecordResponseBytes(const char* data, size_t count);
  void StartConversation();
  // One conversation with only a note from the proxy as its response (nothing was exchanged).
  void RecordNote(std::string_view note);
  // Bytes after an ended exchange begin the next one: its conversation starts with them.
  void EnsureConversation();
  void EndConversation();
  // A request has gone to the server and its response has not ended: the browser's next request
  // is not read yet, as it may be for another server.
  bool NextRequestWaits() const;
  // Sends what the socket takes now and keeps the rest, in order, for when it has room. Bytes for
  // a side that has failed are dropped.
  void QueueToServer(std::string_view bytes);
  void QueueToBrowser(std::string_view bytes);
  // Sends queued bytes; false when the socket failed.
  bool FlushToServer();
  bool FlushToBrowser();
  bool BrowserOutputPending() const { return pipePending > 0 || !toBrowser.Empty(); }
  // Whether the server is read while the pipe still holds bytes for the browser.
  bool PipeTakesMore() const;
  // Waits until the browser has taken every queued byte, or fails (at Close).
  void DrainBrowserOutput();
  // Sends from the front of `bytes` until done or the socket is full; *failed on a real error.
  size_t SendNow(const platform::Socket& socket, TlsSession* tls, std::string_view bytes,
                 bool* failed);
  void SetServerSocket(platform::Socket socket);
  void CloseServerSocket();
  void CloseBrowserSocket();

  // ResponseOutput
  void SendToBrowser(std::string_view bytes) override;
  void SendGatheredToBrowser(std::string_view head, std::string_view body) override;
  void CaptureResponseBytes(std::string_view bytes) override;
  void ResponseEnded() override;
  bool MayHold(size_t bytes) override;

  EngineContext& context;
  std::shared_ptr<capture::Conversation> conversation;

  ByteBuffer requestBuffer;
  HeaderEndScanner requestHeaderEnd;
  LineList requestHeaderLines;
  RequestLine request;
  bool tunnel = false;
  RequestState requestState = RequestState::kHeader;
  RequestBodyFramer bodyFramer;
  bool awaitingResponse = false;   // a forwarded request's response has not ended
  bool responseJustEnded = false;  // since the last pass: a waiting request may go now
  bool browserEnded = false;       // the browser half-closed; the response in flight still goes
  std::shared_ptr<const UpstreamProxy> upstream;
  ResponseHandler response;
  HeldPageShare heldShare;

  std::string lastHost;
  int32_t lastPort = 0;
  size_t bufferSize = 256;  // the most one read takes and one send gives
  // Reads start small and grow while they come back full: an exchange of small pages never holds
  // large buffers.
  size_t browserReadSize = 0;
  size_t serverReadSize = 0;
  ByteBuffer toServer;     // request bytes the server has not yet taken
  ByteBuffer toBrowser;    // response bytes the browser has not yet taken, after the pipe's
  platform::Pipe pipe;     // for streamed bodies; created on first use
  size_t pipePending = 0;  // bytes in the pipe that the browser has not yet taken
  bool spliceDisabled = false;
  bool browserFailed = false;  // a send to the browser failed: the connection ends

  // HTTPS inspection: set once the browser's TLS is taken; the rest of the connection is inside it.
  std::shared_ptr<const TlsInspector> inspector;
  TlsInspector::BrowserSide browserSide;  // the leaf callback's view during the handshake
  std::string inspectedHost;              // from the CONNECT: names every request inside
  int32_t inspectedPort = 0;
  std::string inspectedOrigin;      // "https://host[:port]"; empty while not inspecting
  std::string verificationFailure;  // why the server's TLS was refused; empty when it was not
  std::unique_ptr<TlsSession> browserTls;  // null: the browser side is the plain socket
  std::unique_ptr<TlsSession> serverTls;   // null: the server side is the plain socket

  // Only the owning thread replaces or closes the sockets, always under socketLock, so another
  // thread's ShutdownSockets never touches a descriptor number after it was closed. The owner reads
  // them without the lock.
  std::mutex socketLock;           // taken after the context's registryLock; leaf otherwise
  platform::Socket browserSocket;  // guarded by socketLock (writes)
  platform::Socket serverSocket;   // guarded by socketLock (writes)
  uint64_t serverGeneration = 0;   // changes whenever a server socket is opened
};

}  // namespace rw::proxy
