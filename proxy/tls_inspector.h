// What inspecting connections share: the prepared inspection settings and the two TLS contexts
// built from them once, one that answers browsers with minted leaves and one that verifies
// servers against the trust store, with the sessions of servers that verified. Immutable after
// Create but for that cache (its own lock); any thread makes sessions from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "proxy/tls_session.h"
#include "tls/inspection_settings.h"
#include "tls/server_session_cache.h"

namespace rw::proxy {

class TlsInspector {
 public:
  struct CreateResult {
    std::shared_ptr<const TlsInspector> inspector;  // null on failure
    std::string error;
  };
  // `settings` must be On().
  static CreateResult Create(tls::InspectionSettings settings);

  // Whether the CONNECT to `host` is inspected (not a no-inspect host).
  bool Inspects(std::string_view host) const { return !settings.noInspect.Matches(host); }

  // A session that presents the leaf for the browser's SNI name, else `connectHost`. The leaf's
  // minting failure fails the handshake; `leafError` receives its reason. Both must outlive the
  // session's handshake.
  struct BrowserSide {
    std::string connectHost;
    tls::LeafMinter* minter = nullptr;
    std::string leafError;
  };
  SslPtr BrowserSession(BrowserSide& side) const;
  // A session that sends `host` as SNI (not for an IP literal) and accepts only a chain to the
  // trust store naming `host`, both in its canonical form (lower case, no trailing dot). It offers
  // the kept session of `host` and `port`, if any, and keeps the server's next one once verified.
  // Null when `host` is not a host name or IP literal.
  SslPtr ServerSession(const std::string& host, int32_t port) const;

  tls::LeafMinter& Leaves() const { return *settings.leaves; }

  class Token {
    friend class TlsInspector;
    Token() = default;
  };
  TlsInspector(Token, tls::InspectionSettings settings, tls::SslCtxPtr browserContext,
               tls::SslCtxPtr serverContext);

 private:
  const tls::InspectionSettings settings;
  const tls::SslCtxPtr browserContext;
  const tls::SslCtxPtr serverContext;
  const std::shared_ptr<tls::ServerSessionCache> serverSessions;
};

// The reason a server's certificate was refused, as the user reads it.
std::string VerificationFailureText(long verifyResult);

}  // namespace rw::proxy
