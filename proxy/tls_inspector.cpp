#include "proxy/tls_inspector.h"

#include <openssl/err.h>

#include <memory>
#include <optional>
#include <utility>

#include "tls/host_name.h"
#include "tls/openssl_error.h"

namespace rw::proxy {
namespace {

// Room for several full records per read.
constexpr size_t kReadAheadBytes = size_t{64} * 1024;

// ALPN "http/1.1": the relay speaks HTTP/1.1 only, on both sides.
constexpr unsigned char kHttp11Alpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

int SelectHttp11(SSL*, const unsigned char** out, unsigned char* outLength,
                 const unsigned char* offered, unsigned int offeredLength, void*) {
  unsigned char* selected = nullptr;
  if (SSL_select_next_proto(&selected, outLength, kHttp11Alpn, sizeof kHttp11Alpn, offered,
                            offeredLength) != OPENSSL_NPN_NEGOTIATED) {
    return SSL_TLSEXT_ERR_NOACK;  // no HTTP/1.1 on offer: go on without ALPN
  }
  *out = selected;
  return SSL_TLSEXT_ERR_OK;
}

// Chooses the certificate once the ClientHello (and its SNI name) is known.
int PresentLeaf(SSL* ssl, void* argument) {
  auto* side = static_cast<TlsInspector::BrowserSide*>(argument);
  const char* sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
  const std::string host = sni != nullptr && *sni != '\0' ? std::string(sni) : side->connectHost;
  tls::LeafMinter::LeafResult leaf = side->minter->Leaf(host);
  if (!leaf.leaf) {
    side->leafError = "no certificate for " + host + ": " + leaf.error;
    return 0;
  }
  if (SSL_use_certificate(ssl, leaf.leaf->certificate.get()) != 1 ||
      SSL_use_PrivateKey(ssl, leaf.leaf->key.get()) != 1 ||
      SSL_add1_chain_cert(ssl, leaf.leaf->issuer.get()) != 1) {
    side->leafError = "the certificate for " + host + " was not taken";
    return 0;
  }
  return 1;
}

// What a server-side session needs to keep its session for the next connection once its tickets
// come, which may be long after the handshake.
struct ServerSessionNote {
  std::shared_ptr<tls::ServerSessionCache> cache;
  std::string key;
};

void FreeServerSessionNote(void*, void* note, CRYPTO_EX_DATA*, int, long, void*) {
  std::unique_ptr<ServerSessionNote> owned(static_cast<ServerSessionNote*>(note));
}

int ServerSessionNoteIndex() {
  static const int kIndex =
      SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeServerSessionNote);
  return kIndex;
}

// Called by OpenSSL for each session a server offers for resuming. Only a session whose
// certificate verified is kept; the full verification ran in this handshake or the one it
// resumed.
int KeepServerSession(SSL* ssl, SSL_SESSION* session) {
  auto* note = static_cast<ServerSessionNote*>(SSL_get_ex_data(ssl, ServerSessionNoteIndex()));
  if (note == nullptr || SSL_get_verify_result(ssl) != X509_V_OK ||
      SSL_get0_peer_certificate(ssl) == nullptr) {
    return 0;
  }
  // The cache keeps a copy of its own: OpenSSL marks the session a connection uses once it is
  // used up or broken off, and other connections read the cached one at the same time.
  note->cache->Store(note->key, tls::SslSessionPtr(SSL_SESSION_dup(session)));
  return 0;
}

}  // namespace

TlsInspector::TlsInspector(Token, tls::InspectionSettings inspection, tls::SslCtxPtr browserSide,
                           tls::SslCtxPtr serverSide)
    : settings(std::move(inspection)),
      browserContext(std::move(browserSide)),
      serverContext(std::move(serverSide)),
      serverSessions(std::make_shared<tls::ServerSessionCache>()) {}

TlsInspector::CreateResult TlsInspector::Create(tls::InspectionSettings settings) {
  if (!settings.On() || !settings.leaves || !settings.serverTrust) {
    return {nullptr, "inspection is not prepared"};
  }
  tls::SslCtxPtr browser(SSL_CTX_new(TLS_server_method()));
  tls::SslCtxPtr server(SSL_CTX_new(TLS_client_method()));
  if (!browser || !server) {
    return {nullptr, "TLS contexts: " + tls::TakeOpenSslError()};
  }
  // A peer that closes without close_notify ends its side like a plain close.
  const uint64_t options = SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION;
  SSL_CTX_set_options(browser.get(), options);
  SSL_CTX_set_options(server.get(), options);
  SSL_CTX_set_min_proto_version(browser.get(), TLS1_2_VERSION);
  SSL_CTX_set_min_proto_version(server.get(), TLS1_2_VERSION);
  // Partial writes let a full socket keep the rest queued; the buffer may move between retries.
  const long modes = SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                     SSL_MODE_RELEASE_BUFFERS;
  SSL_CTX_set_mode(browser.get(), modes);
  SSL_CTX_set_mode(server.get(), modes);
  // Each read takes what the socket has, several records at once, rather than a record's header
  // and then its body: the relay heeds what a session holds (TlsSession::HasPending).
  for (SSL_CTX* context : {browser.get(), server.get()}) {
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, kReadAheadBytes);
  }
  SSL_CTX_set_alpn_select_cb(browser.get(), SelectHttp11, nullptr);
  // Leaves are minted per host: no session of one host may resume as another.
  SSL_CTX_set_session_cache_mode(browser.get(), SSL_SESS_CACHE_OFF);
  SSL_CTX_set_num_tickets(browser.get(), 0);
  // Sessions toward servers are kept by the inspector's own cache, one per host and port.
  SSL_CTX_set_session_cache_mode(server.get(),
                                 SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(server.get(), KeepServerSession);
  SSL_CTX_set1_cert_store(server.get(), settings.serverTrust->Store());
  if (SSL_CTX_set_alpn_protos(server.get(), kHttp11Alpn, sizeof kHttp11Alpn) != 0) {
    return {nullptr, "TLS contexts: " + tls::TakeOpenSslError()};
  }
  SSL_CTX_set_verify(server.get(), SSL_VERIFY_PEER, nullptr);
  auto inspector = std::make_shared<const TlsInspector>(Token(), std::move(settings),
                                                        std::move(browser), std::move(server));
  return {std::move(inspector), {}};
}

SslPtr TlsInspector::BrowserSession(BrowserSide& side) const {
  SslPtr ssl(SSL_new(browserContext.get()));
  if (ssl) {
    SSL_set_accept_state(ssl.get());
    side.minter = settings.leaves.get();
    SSL_set_cert_cb(ssl.get(), PresentLeaf, &side);
  }
  return ssl;
}

SslPtr TlsInspector::ServerSession(const std::string& host, int32_t port) const {
  // The name in the form certificates compare: a trailing dot or upper case would fail the name
  // check of a server whose certificate names it.
  const std::optional<tls::CanonicalHost> canonical = tls::CanonicalHostName(host);
  if (!canonical) {
    return nullptr;
  }
  SslPtr ssl(SSL_new(serverContext.get()));
  if (!ssl) {
    return ssl;
  }
  SSL_set_connect_state(ssl.get());
  const std::string& name = canonical->name;
  const bool ipLiteral = canonical->ipLiteral;
  std::string key = tls::ServerSessionCache::Key(name, port);
  if (tls::SslSessionPtr cached = serverSessions->Find(key, name, ipLiteral)) {
    // A copy for this connection alone, for the same reason as in KeepServerSession.
    const tls::SslSessionPtr own(SSL_SESSION_dup(cached.get()));
    if (own) {
      (void)SSL_set_session(ssl.get(), own.get());
    }
  }
  auto note =
      std::make_unique<ServerSessionNote>(ServerSessionNote{serverSessions, std::move(key)});
  if (SSL_set_ex_data(ssl.get(), ServerSessionNoteIndex(), note.get()) == 1) {
    (void)note.release();  // freed with the SSL
  }
  bool named = false;
  if (ipLiteral) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), name.c_str()) == 1;
  } else {
    named = SSL_set_tlsext_host_name(ssl.get(), name.c_str()) == 1 &&
            SSL_set1_host(ssl.get(), name.c_str()) == 1;
  }
  if (!named) {
    ERR_clear_error();
    ssl.reset();
  }
  return ssl;
}

std::string VerificationFailureText(long verifyResult) {
  if (verifyResult == X509_V_ERR_HOSTNAME_MISMATCH) {
    return "host name mismatch";
  }
  if (verifyResult == X509_V_ERR_IP_ADDRESS_MISMATCH) {
    return "IP address mismatch";
  }
  return X509_verify_cert_error_string(verifyResult);
}

}  // namespace rw::proxy
