#include "tls/server_session_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tls/certificate_builder.h"

namespace rw::tls {
namespace {

using std::chrono::seconds;

// A TLS 1.2 session, handshaken in memory, from a server presenting a self-signed certificate
// for localhost valid from `from` to `to` seconds around now (the client does not verify).
SslSessionPtr SessionWith(long from, long to) {
  EvpPkeyPtr key = CertificateBuilder::NewKey();
  CertificateBuilder builder;
  builder.SetSubject("localhost");
  builder.SetValidity(seconds(-from), seconds(to));
  builder.SetPublicKey(key.get());
  builder.AddSubjectAltName("localhost", false);
  X509Ptr certificate = builder.Sign(key.get());
  SslCtxPtr serverContext(SSL_CTX_new(TLS_server_method()));
  SslCtxPtr clientContext(SSL_CTX_new(TLS_client_method()));
  SSL_CTX_use_certificate(serverContext.get(), certificate.get());
  SSL_CTX_use_PrivateKey(serverContext.get(), key.get());
  SSL_CTX_set_max_proto_version(clientContext.get(), TLS1_2_VERSION);
  std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>> server(SSL_new(serverContext.get()));
  std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>> client(SSL_new(clientContext.get()));
  BIO* clientSide = nullptr;
  BIO* serverSide = nullptr;
  BIO_new_bio_pair(&clientSide, 0, &serverSide, 0);
  SSL_set_bio(client.get(), clientSide, clientSide);
  SSL_set_bio(server.get(), serverSide, serverSide);
  SSL_set_connect_state(client.get());
  SSL_set_accept_state(server.get());
  for (int step = 0; step < 10; ++step) {
    const bool clientDone = SSL_do_handshake(client.get()) == 1;
    if (SSL_do_handshake(server.get()) == 1 && clientDone) {
      // Ended with close_notify: OpenSSL never resumes the session of a connection that broke off.
      SSL_shutdown(client.get());
      return SslSessionPtr(SSL_get1_session(client.get()));
    }
  }
  return nullptr;
}

TEST(ServerSessionCache, OffersOnlySessionsWhoseCertificateStillHoldsForTheHost) {
  struct Row {
    const char* name;
    long from;
    long to;
    const char* host;
    bool offered;
  };
  const std::vector<Row> rows = {
      {"valid, same name", -60, 3600, "localhost", true},
      {"valid, another name", -60, 3600, "elsewhere.example", false},
      {"expired since", -7200, -3600, "localhost", false},
      {"not yet valid", 3600, 7200, "localhost", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ServerSessionCache cache;
    const std::string key = ServerSessionCache::Key(row.host, 443);
    SslSessionPtr session = SessionWith(row.from, row.to);
    ASSERT_TRUE(session != nullptr);
    cache.Store(key, std::move(session));
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_EQ(cache.Find(key, row.host, false) != nullptr, row.offered);
    EXPECT_EQ(cache.Count(), row.offered ? 1u : 0u);  // a stale session is dropped
  }
}

TEST(ServerSessionCache, KeepsTheLatestSessionPerServerWithinItsCapacity) {
  ServerSessionCache cache(2);
  const std::vector<std::string> keys = {
      ServerSessionCache::Key("localhost", 443), ServerSessionCache::Key("localhost", 8443),
      ServerSessionCache::Key("localhost", 443), ServerSessionCache::Key("localhost", 9443)};
  SSL_SESSION* latest = nullptr;
  for (const std::string& key : keys) {
    SslSessionPtr session = SessionWith(-60, 3600);
    latest = session.get();
    cache.Store(key, std::move(session));
  }
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_TRUE(cache.Find(keys[1], "localhost", false) == nullptr);  // the least recently stored
  EXPECT_EQ(cache.Find(keys[3], "localhost", false).get(), latest);
  EXPECT_TRUE(cache.Find(keys[0], "localhost", false) != nullptr);
}

}  // namespace
}  // namespace rw::tls
