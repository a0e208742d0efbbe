// CONNECT tunnels: a real TLS client through the proxy to a real TLS server, both in-process.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "loopback_support.h"
#include "proxy/fixed_replies.h"

namespace rw::proxy {
namespace {

using testing::OriginPeer;
using testing::ReadAtLeast;
using testing::ScriptedOrigin;
using testing::SendText;
using testing::TestEngine;

struct SslDeleter {
  void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
  void operator()(SSL* p) const { SSL_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
};
template <typename T>
using SslPtr = std::unique_ptr<T, SslDeleter>;

// A self-signed certificate for 127.0.0.1 with a fresh P-256 key.
struct TestCertificate {
  TestCertificate() : key(EVP_EC_gen("P-256")), certificate(X509_new()) {
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_sign(certificate.get(), key.get(), EVP_sha256());
  }
  SslPtr<EVP_PKEY> key;
  SslPtr<X509> certificate;
};

TEST(ProxyConnection, RealTlsClientReachesRealTlsServer) {
  TestCertificate certificate;
  ASSERT_TRUE(certificate.key && certificate.certificate);
  SslPtr<SSL_CTX> serverContext(SSL_CTX_new(TLS_server_method()));
  ASSERT_EQ(SSL_CTX_use_certificate(serverContext.get(), certificate.certificate.get()), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey(serverContext.get(), certificate.key.get()), 1);

  std::string serverGot;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    SslPtr<SSL> ssl(SSL_new(serverContext.get()));
    SSL_set_fd(ssl.get(), peer.Socket().Fd());
    if (SSL_accept(ssl.get()) != 1) {
      return;
    }
    char buffer[16];
    int n = SSL_read(ssl.get(), buffer, sizeof(buffer));
    if (n > 0) {
      serverGot.assign(buffer, static_cast<size_t>(n));
    }
    SSL_write(ssl.get(), "pong", 4);
    SSL_shutdown(ssl.get());
  });

  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  const std::string connect =
      "CONNECT 127.0.0.1:" + std::to_string(origin.Port()) + " HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_TRUE(SendText(browser, connect));
  ASSERT_EQ(ReadAtLeast(browser, kTunnelReply.size()), kTunnelReply);

  SslPtr<SSL_CTX> clientContext(SSL_CTX_new(TLS_client_method()));
  X509_STORE_add_cert(SSL_CTX_get_cert_store(clientContext.get()), certificate.certificate.get());
  SSL_CTX_set_verify(clientContext.get(), SSL_VERIFY_PEER, nullptr);
  SslPtr<SSL> client(SSL_new(clientContext.get()));
  SSL_set_fd(client.get(), browser.Fd());
  ASSERT_EQ(SSL_connect(client.get()), 1) << ERR_error_string(ERR_get_error(), nullptr);
  EXPECT_EQ(SSL_get_verify_result(client.get()), X509_V_OK);
  ASSERT_EQ(SSL_write(client.get(), "ping", 4), 4);
  char buffer[16];
  int n = SSL_read(client.get(), buffer, sizeof(buffer));
  ASSERT_EQ(n, 4);
  EXPECT_EQ(std::string(buffer, 4), "pong");
  client.reset();
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(serverGot, "ping");

  auto conversations = engine.store.Snapshot();
  ASSERT_GE(conversations.size(), 1u);
  // The CONNECT header, then the reply the proxy gave.
  std::string firstRequest = conversations[0]->RequestText();
  EXPECT_EQ(firstRequest.substr(0, connect.size() + kTunnelReply.size()),
            connect + std::string(kTunnelReply));
}

TEST(ProxyConnection, BytesAfterTheConnectHeaderGoToTheServer) {
  std::string serverGot;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    serverGot = peer.ReadExactly(5);
    peer.Send("world");
    peer.ReadExactly(1);
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  ASSERT_TRUE(SendText(
      browser, "CONNECT 127.0.0.1:" + std::to_string(origin.Port()) + " HTTP/1.1\r\n\r\nhello"));
  EXPECT_EQ(ReadAtLeast(browser, kTunnelReply.size() + 5), std::string(kTunnelReply) + "world");
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(serverGot, "hello");
}

}  // namespace
}  // namespace rw::proxy
