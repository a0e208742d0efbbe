// The request side of one browser connection: reads the browser, parses each request header,
// chooses and opens (or reuses) the server connection, forwards the header and body framed as
// they came, and answers CONNECT, taking its tunnel apart when it is inspected. Owned and used by
// the connection thread, beside the response side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "proxy/byte_buffer.h"
#include "proxy/connection_sockets.h"
#include "proxy/engine_context.h"
#include "proxy/exchange_capture.h"
#include "proxy/exchange_state.h"
#include "proxy/header_end_scanner.h"
#include "proxy/header_text.h"
#include "proxy/read_size.h"
#include "proxy/request_body_framer.h"
#include "proxy/request_line.h"
#include "proxy/response_side.h"
#include "proxy/tunnel_inspection.h"
#include "proxy/upstream_proxy.h"

namespace rw::proxy {

enum class HeaderOutcome {
  kNeedMore,   // no complete request header yet
  kForwarded,  // sent to the server with the body bytes that followed it
  kRefused,    // answered by the proxy; the connection ends
};

// A request header that has not ended within this many bytes is refused: it keeps one
// connection's memory bounded.
inline constexpr size_t kMaxRequestHeaderBytes = size_t{64} * 1024;

class RequestSide {
 public:
  RequestSide(EngineContext& context, ConnectionSockets& sockets, ExchangeCapture& capture,
              ExchangeState& state, ResponseSide& response);

  // One read of the browser's bytes, which the loop found ready (or failed); false when the
  // connection ends.
  bool ReadBrowser();
  // Handles what the request buffer holds; false when a request was refused.
  bool HandleBrowserData();
  // What a server read means for the request in hand.
  void ServerRead(const ResponseSide::ReadResult& read);
  // Part of a request header has come and waits for the rest.
  bool Empty() const { return requestBuffer.Empty(); }
  // The most one read takes.
  void SetLargestRead(size_t bytes) { readSize.SetLargest(bytes); }
  // The exchange is over: the buffer's storage goes back and reads start small again.
  void ReleaseIdle();

 private:
  // The `count` bytes just read into the request buffer's tail.
  void RecordBytesInPlace(size_t count);
  HeaderOutcome HandleRequestHeader();
  // Sends the body bytes at the front of the request buffer; the rest is the next request.
  void ForwardBody();
  // The header, with the body bytes that came with it; bytes after the body stay.
  void ForwardHeader();
  // Only a CONNECT whose tunnel nothing has gone through yet may be inspected; no outcome when
  // the request goes on as it would uninspected.
  std::optional<HeaderOutcome> InspectTunnel();
  bool ParseRequest();
  // Inside inspected TLS the server is the CONNECT's, whatever the request line names; a tunnel
  // within it is not taken.
  void AimInsideTls(RequestLine& parsed) const;
  bool Connect();
  // Opens the server connection unless the one open is for the same host and port; false when
  // it failed (the browser has its page).
  bool OpenServer();

  EngineContext& context;
  ConnectionSockets& sockets;
  ExchangeCapture& capture;
  ExchangeState& state;
  ResponseSide& response;
  TunnelInspection inspection;

  ByteBuffer requestBuffer;
  HeaderEndScanner headerEnd;
  LineList headerLines;
  RequestLine request;
  RequestBodyFramer bodyFramer;
  std::shared_ptr<const UpstreamProxy> upstream;
  std::string lastHost;
  int32_t lastPort = 0;
  ReadSize readSize;
};

}  // namespace rw::proxy
