#include "proxy/tunnel_inspection.h"

#include <chrono>
#include <utility>

#include "proxy/response_header_info.h"
#include "proxy/tls_session.h"
#include "proxy/tls_stream.h"
#include "text/number_parsers.h"

namespace rw::proxy {
namespace {

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

}  // namespace

TunnelInspection::TunnelInspection(EngineContext& engine, ConnectionSockets& connectionSockets,
                                   ExchangeCapture& exchangeCapture, ExchangeState& exchangeState,
                                   ResponseSide& responseSide)
    : context(engine),
      sockets(connectionSockets),
      capture(exchangeCapture),
      state(exchangeState),
      response(responseSide) {}

bool TunnelInspection::Inspects(const std::string& name) const {
  const std::shared_ptr<const TlsInspector> inspection = context.Inspection();
  return inspection && inspection->Inspects(name);
}

bool TunnelInspection::OpenUpstreamTunnel(const std::string& header) {
  sockets.ToServer().Queue(header);
  size_t headerEnd = std::string::npos;
  const std::string reply = ReadUpstreamReply(&headerEnd);
  sockets.ToBrowser().Queue(reply);
  if (headerEnd == std::string::npos) {
    // No reply in time: the tunnel ends, as the browser was told nothing it could use.
    sockets.CloseServer();
    return false;
  }
  const std::string firstLine = reply.substr(0, reply.find("\r\n"));
  return text::StatusCodeOfLine(firstLine) == 200 && reply.size() == headerEnd + 4;
}

std::string TunnelInspection::ReadUpstreamReply(size_t* headerEnd) {
  // Read here rather than by the relay loop: what follows the reply decides whether the tunnel is
  // inspected. Bounded in size and time like a handshake.
  const auto deadline = std::chrono::steady_clock::now() + context.Limits().tlsHandshakeTimeout;
  OutboundQueue& toServer = sockets.ToServer();
  std::string reply;
  while (*headerEnd == std::string::npos && reply.size() < kMaxResponseHeaderBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !sockets.Server().Valid()) {
      break;
    }
    const platform::PollPairResult ready = platform::PollOne(
        platform::PollInterest{sockets.Server().Fd(), !toServer.Pending(), toServer.Pending()},
        static_cast<int>(left.count()));
    if (!ready.Ok() || ready.value.timedOut) {
      break;
    }
    if (toServer.Pending()) {
      if (!toServer.Flush()) {
        break;
      }
      continue;
    }
    char buffer[4096];
    platform::SysCallResult received = sockets.ServerStream()->Read(buffer, sizeof buffer);
    if (received.value < 0 && platform::WouldBlock(received.errorNumber)) {
      continue;
    }
    if (received.value <= 0) {
      break;
    }
    const auto count = static_cast<size_t>(received.value);
    capture.Current().AddResponseData(buffer, static_cast<int32_t>(count));
    reply.append(buffer, count);
    *headerEnd = reply.find("\r\n\r\n");
  }
  return reply;
}

Interception TunnelInspection::Intercept(const RequestLine& connect) {
  std::shared_ptr<const TlsInspector> inspection = context.Inspection();
  if (!inspection || !inspection->Inspects(connect.host)) {
    return Interception::kTunnel;
  }
  // The browser speaks first only once it has the tunnel reply.
  sockets.DrainBrowser();
  if (sockets.BrowserGone()) {
    return Interception::kFailed;
  }
  const platform::PollPairResult ready =
      platform::PollOne(platform::PollInterest{sockets.Browser().Fd(), true, false},
                        static_cast<int>(context.Limits().firstTunnelByteTimeout.count()));
  if (!ready.Ok() || ready.value.timedOut) {
    return Interception::kTunnel;  // a protocol whose server speaks first stays a plain tunnel
  }
  char first = 0;
  platform::SysCallResult peeked = platform::Peek(sockets.Browser(), &first, 1);
  constexpr char kTlsHandshakeRecord = 0x16;
  if (peeked.value != 1 || first != kTlsHandshakeRecord) {
    return Interception::kTunnel;
  }
  // The CONNECT's conversation ends here; each exchange inside is its own.
  capture.End();
  inspector = std::move(inspection);
  host = connect.host;
  port = connect.port;
  const bool ipv6 = host.find(':') != std::string::npos;
  origin = "https://" + (ipv6 ? "[" + host + "]" : host);
  if (port != 443) {
    origin += ":" + std::to_string(port);
  }
  capture.SetOrigin(origin);
  state.tunnel = false;
  response.Handler().ClearTunnel();
  state.requestState = RequestState::kHeader;
  state.awaitingResponse = false;
  response.DisableSplice();  // the bytes on the sockets are not the bytes relayed
  if (!AcceptBrowserTls()) {
    return Interception::kFailed;
  }
  HandshakeWithServer();
  return Interception::kInspecting;
}

bool TunnelInspection::AcceptBrowserTls() {
  browserSide = TlsInspector::BrowserSide{host, nullptr, {}};
  SslPtr ssl = inspector->BrowserSession(browserSide);
  if (!ssl) {
    capture.Note("TLS handshake with the browser failed: no TLS session");
    return false;
  }
  auto session = std::make_unique<TlsSession>(std::move(ssl), sockets.Browser().Fd());
  const TlsSession::HandshakeResult accepted =
      session->Handshake(context.Limits().tlsHandshakeTimeout);
  if (!accepted.ok) {
    // Nothing more is said to a browser that refused: the session goes without an alert.
    const std::string& why = browserSide.leafError.empty() ? accepted.error : browserSide.leafError;
    capture.Note("TLS handshake with the browser failed: " + why);
    return false;
  }
  sockets.SecureBrowser(std::make_unique<TlsStream>(std::move(session)));
  return true;
}

void TunnelInspection::HandshakeWithServer() {
  SslPtr ssl = inspector->ServerSession(host, port);
  if (!ssl) {
    verificationFailure = "the server's name is not usable for TLS";
    sockets.CloseServer();
    return;
  }
  auto session = std::make_unique<TlsSession>(std::move(ssl), sockets.Server().Fd());
  const TlsSession::HandshakeResult connected =
      session->Handshake(context.Limits().tlsHandshakeTimeout);
  if (connected.ok) {
    sockets.SecureServer(std::make_unique<TlsStream>(std::move(session)));
    return;
  }
  const long verified = SSL_get_verify_result(session->Handle());
  verificationFailure = verified != X509_V_OK ? VerificationFailureText(verified)
                                              : "TLS handshake failed: " + connected.error;
  session.reset();  // no alert of ours follows the refusal
  sockets.CloseServer();
}

void TunnelInspection::AnswerRefusal() {
  response.AnswerWith(VerificationFailurePage(verificationFailure));
}

}  // namespace rw::proxy
