// HTTPS inspection of one CONNECT tunnel: decides whether the browser begins TLS, takes its TLS
// with a certificate for the tunnel's host, opens TLS to the server, and keeps why a server was
// refused for the first request inside. Owned and used by the connection thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "proxy/connection_sockets.h"
#include "proxy/engine_context.h"
#include "proxy/exchange_capture.h"
#include "proxy/exchange_state.h"
#include "proxy/request_line.h"
#include "proxy/response_side.h"
#include "proxy/tls_inspector.h"

namespace rw::proxy {

// What became of a CONNECT tunnel that may be inspected.
enum class Interception {
  kTunnel,      // the browser did not begin TLS: bytes pass unchanged
  kInspecting,  // TLS on both sides (or a server refused, answered at the first request)
  kFailed,      // the browser's handshake failed; the connection ends
};

class TunnelInspection {
 public:
  TunnelInspection(EngineContext& context, ConnectionSockets& sockets, ExchangeCapture& capture,
                   ExchangeState& state, ResponseSide& response);

  // Whether a CONNECT to `host` whose tunnel nothing has gone through yet is inspected.
  bool Inspects(const std::string& host) const;
  // After the tunnel reply to a CONNECT: takes TLS from the browser when its first byte begins a
  // handshake and the host is inspected, then opens TLS to the server.
  Interception Intercept(const RequestLine& connect);
  // Through an upstream proxy: sends it the CONNECT header and passes its reply on; true when
  // the tunnel stands and nothing has come through it yet, so that it may be inspected.
  bool OpenUpstreamTunnel(const std::string& header);
  // TLS to the server over the open server socket; a refusal is kept for the next request.
  void HandshakeWithServer();
  // Answers the request in hand with the server's refusal, captured as its response.
  void AnswerRefusal();

  bool Inspecting() const { return !origin.empty(); }
  // Why the server's TLS was refused; empty when it was not.
  bool ServerRefused() const { return !verificationFailure.empty(); }
  // Inside TLS every request goes to the CONNECT's server.
  const std::string& Host() const { return host; }
  int32_t Port() const { return port; }

 private:
  // The proxy's side of the browser's handshake; false when it failed (noted in a conversation).
  bool AcceptBrowserTls();
  // Reads the upstream proxy's reply header, bounded in size and time; passes it to the browser.
  std::string ReadUpstreamReply(size_t* headerEnd);

  EngineContext& context;
  ConnectionSockets& sockets;
  ExchangeCapture& capture;
  ExchangeState& state;
  ResponseSide& response;

  // Set once the browser's TLS is taken; the rest of the connection is inside it.
  std::shared_ptr<const TlsInspector> inspector;
  TlsInspector::BrowserSide browserSide;  // the leaf callback's view during the handshake
  std::string host;                       // from the CONNECT: names every request inside
  int32_t port = 0;
  std::string origin;               // "https://host[:port]"; empty while not inspecting
  std::string verificationFailure;  // why the server's TLS was refused; empty when it was not
};

}  // namespace rw::proxy
