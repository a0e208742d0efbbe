// HTTPS inspection through the real engine: an OpenSSL client trusting the proxy's authority, and
// an in-process TLS origin with its own test authority handed to the proxy as the upstream CA.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "loopback_support.h"
#include "proxy/fixed_replies.h"
#include "proxy/tls_inspector.h"
#include "tests/support/temp_dir.h"
#include "tls/inspection_settings.h"
#include "tls/openssl_handles.h"

namespace rw::proxy {
namespace {

using testing::OriginPeer;
using testing::ReadAtLeast;
using testing::ScriptedOrigin;
using testing::SendText;
using testing::TestEngine;

// A certificate and its key, made here with plain OpenSSL.
struct Issued {
  tls::X509Ptr certificate;
  tls::EvpPkeyPtr key;
};

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  tls::X509ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  X509_add_ext(certificate, extension.get(), -1);
}

// `issuer` null: self-signed authority. Validity from `fromSeconds` to `toSeconds` around now.
Issued Issue(const std::string& commonName, const Issued* issuer, const char* subjectAltName,
             long fromSeconds = -60, long toSeconds = 3600) {
  static std::atomic<long> serial{1};
  Issued made{tls::X509Ptr(X509_new()), tls::EvpPkeyPtr(EVP_EC_gen("P-256"))};
  X509* certificate = made.certificate.get();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial.fetch_add(1));
  X509_gmtime_adj(X509_getm_notBefore(certificate), fromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(certificate), toSeconds);
  X509_set_pubkey(certificate, made.key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer->certificate.get() : certificate;
  X509_set_issuer_name(certificate, X509_get_subject_name(signer));
  if (issuer == nullptr) {
    AddExtension(certificate, signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(certificate, signer, NID_key_usage, "critical,keyCertSign");
  } else {
    AddExtension(certificate, signer, NID_subject_alt_name, subjectAltName);
    AddExtension(certificate, signer, NID_ext_key_usage, "serverAuth");
  }
  X509_sign(certificate, issuer != nullptr ? issuer->key.get() : made.key.get(), EVP_sha256());
  return made;
}

void WritePem(const std::filesystem::path& path, X509* certificate) {
  FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  PEM_write_X509(file, certificate);
  std::fclose(file);
}

using SslCtxPtr = tls::SslCtxPtr;
using SslHandle = std::unique_ptr<SSL, tls::OpenSslFree<SSL, SSL_free>>;

// Reads one HTTP message from `ssl`: a header and the body its Content-Length names (or, for a
// chunked one, up to the last chunk). Empty when the peer closed first.
std::string ReadMessage(SSL* ssl) {
  std::string data;
  char buffer[16384];
  for (;;) {
    const size_t headerEnd = data.find("\r\n\r\n");
    if (headerEnd != std::string::npos) {
      const std::string header = data.substr(0, headerEnd);
      const size_t length = header.find("Content-Length: ");
      if (length != std::string::npos) {
        const size_t total = headerEnd + 4 + std::stoul(header.substr(length + 16));
        if (data.size() >= total) {
          return data.substr(0, total);
        }
      } else if (header.find("Transfer-Encoding: chunked") != std::string::npos) {
        if (data.find("\r\n0\r\n\r\n", headerEnd) != std::string::npos) {
          return data;
        }
      } else {
        return data;  // a request without a body
      }
    }
    const int n = SSL_read(ssl, buffer, sizeof buffer);
    if (n <= 0) {
      return data;
    }
    data.append(buffer, static_cast<size_t>(n));
  }
}

// Larger than many TLS records and socket buffers, and not a whole number of either.
const std::string& BigBody() {
  static const std::string body = [] {
    std::string bytes(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<char>((i * 131) >> 3);
    }
    return bytes;
  }();
  return body;
}

// A TLS origin presenting `served` (chained to its authority), answering each request with the
// response its path names.
class TlsOrigin {
 public:
  // `actsAsUpstream`: it is also the upstream proxy, answering the CONNECT before TLS.
  explicit TlsOrigin(const Issued& served, bool actsAsUpstream = false)
      : asUpstream(actsAsUpstream), origin([this](OriginPeer& peer) { Serve(peer); }) {
    Present(served);
  }

  // From the next connection on, `served` with a new context: sessions of the old one do not
  // resume.
  void Present(const Issued& served) {
    SslCtxPtr made(SSL_CTX_new(TLS_server_method()));
    SSL_CTX_use_certificate(made.get(), served.certificate.get());
    SSL_CTX_use_PrivateKey(made.get(), served.key.get());
    std::lock_guard<std::mutex> lock(requestsLock);
    context = std::move(made);
  }

  // No sessions offered from the next connection on.
  void StopTickets() {
    std::lock_guard<std::mutex> lock(requestsLock);
    SSL_CTX_set_num_tickets(context.get(), 0);
  }

  uint16_t Port() const { return origin.Port(); }
  // Requests that reached the origin inside TLS.
  int Requests() const { return requests.load(); }
  // Opened by the test once the page of /records has arrived.
  testing::Gate recordsTaken;
  // Handshakes that resumed a session instead of presenting the certificate.
  int Resumed() const { return resumed.load(); }
  std::string FirstRequest() {
    std::lock_guard<std::mutex> lock(requestsLock);
    return firstRequest;
  }

  static constexpr std::string_view kPage = "<html><body>held page</body></html>";

 private:
  void Serve(OriginPeer& peer) {
    if (asUpstream) {
      const std::string connect = peer.ReadHeader();
      {
        std::lock_guard<std::mutex> lock(requestsLock);
        upstreamConnect = connect;
      }
      peer.Send("HTTP/1.1 200 Connection established\r\n\r\n");
    }
    SslHandle ssl;
    {
      std::lock_guard<std::mutex> lock(requestsLock);
      ssl.reset(SSL_new(context.get()));
    }
    SSL_set_fd(ssl.get(), peer.Socket().Fd());
    if (SSL_accept(ssl.get()) != 1) {
      return;  // the proxy refused the certificate
    }
    resumed.fetch_add(SSL_session_reused(ssl.get()));
    for (;;) {
      const std::string request = ReadMessage(ssl.get());
      if (request.empty()) {
        break;
      }
      if (requests.fetch_add(1) == 0) {
        std::lock_guard<std::mutex> lock(requestsLock);
        firstRequest = request;
      }
      std::string response;
      if (request.rfind("GET /records ", 0) == 0) {
        SendAsTwoRecordsAtOnce(ssl.get(), peer);
        recordsTaken.Wait();  // nothing else reaches the proxy's socket before
        continue;
      }
      if (request.rfind("GET /big ", 0) == 0) {
        response = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                   std::to_string(BigBody().size()) + "\r\n\r\n" + BigBody();
      } else if (request.rfind("GET /chunked ", 0) == 0) {
        response =
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
            "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
      } else {
        response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                   std::to_string(kPage.size()) + "\r\n\r\n" + std::string(kPage);
      }
      SSL_write(ssl.get(), response.data(), static_cast<int>(response.size()));
    }
    SSL_shutdown(ssl.get());
  }

  // A page in two TLS records that reach the socket together: a reader that takes the first
  // finds the second already read from the socket, and nothing more comes until it answers.
  static void SendAsTwoRecordsAtOnce(SSL* ssl, OriginPeer& peer) {
    BIO* socketSide = SSL_get_rbio(ssl);
    BIO_up_ref(socketSide);
    SSL_set0_wbio(ssl, BIO_new(BIO_s_mem()));
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                             std::to_string(2 * kRecordText.size()) + "\r\n\r\n";
    const std::string first = head + std::string(kRecordText);
    SSL_write(ssl, first.data(), static_cast<int>(first.size()));
    SSL_write(ssl, kRecordText.data(), static_cast<int>(kRecordText.size()));
    char* records = nullptr;
    const long length = BIO_get_mem_data(SSL_get_wbio(ssl), &records);
    peer.Send(std::string_view(records, static_cast<size_t>(length)));
    SSL_set0_wbio(ssl, socketSide);
  }

 public:
  static constexpr std::string_view kRecordText = "one record of the page; ";

 private:
  const bool asUpstream;
  std::atomic<int> requests{0};
  std::atomic<int> resumed{0};
  std::mutex requestsLock;   // leaf
  SslCtxPtr context;         // guarded by requestsLock
  std::string firstRequest;  // guarded by requestsLock

 public:
  std::string UpstreamConnect() {
    std::lock_guard<std::mutex> lock(requestsLock);
    return upstreamConnect;
  }

 private:
  std::string upstreamConnect;  // guarded by requestsLock
  ScriptedOrigin origin;        // last: its threads use the members above
};

// The engine with inspection on: its own authority in a temporary folder, and the origin's
// authority as the upstream CA.
struct InspectingEngine {
  explicit InspectingEngine(X509* originAuthority, const std::string& noInspect = "",
                            EngineLimits limits = {})
      : engine(limits) {
    const std::filesystem::path pem = temp.path() / "origin-ca.pem";
    WritePem(pem, originAuthority);
    tls::InspectionSetup setup = tls::PrepareInspection({temp.path() / "ca", pem, noInspect});
    EXPECT_EQ(setup.error, "");
    authority = setup.settings.authority;
    TlsInspector::CreateResult created = TlsInspector::Create(std::move(setup.settings));
    EXPECT_EQ(created.error, "");
    engine.context.PublishInspection(created.inspector);
    EXPECT_TRUE(engine.Start());
  }

  rw::testing::TempDir temp;
  std::shared_ptr<const tls::CertificateAuthority> authority;
  TestEngine engine;
};

// The browser: CONNECT through the proxy, then TLS trusting `trusted` for `host`.
struct TlsBrowser {
  TlsBrowser(TestEngine& engine, const std::string& host, uint16_t port, X509* trusted)
      : socket(engine.Browser()), context(SSL_CTX_new(TLS_client_method())) {
    const std::string connect =
        "CONNECT " + host + ":" + std::to_string(port) + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    if (SendText(socket, connect)) {
      // The reply alone: nothing follows it before the browser speaks.
      while (tunnelReply.find("\r\n\r\n") == std::string::npos) {
        char byte = 0;
        if (platform::Recv(socket, &byte, 1).value != 1) {
          break;
        }
        tunnelReply += byte;
      }
    }
    X509_STORE_add_cert(SSL_CTX_get_cert_store(context.get()), trusted);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    ssl.reset(SSL_new(context.get()));
    if (host.find_first_not_of("0123456789.") == std::string::npos) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl.get(), host.c_str());
      SSL_set1_host(ssl.get(), host.c_str());
    }
    SSL_set_fd(ssl.get(), socket.Fd());
  }

  bool Handshake() { return SSL_connect(ssl.get()) == 1; }
  std::string Exchange(const std::string& request) {
    SSL_write(ssl.get(), request.data(), static_cast<int>(request.size()));
    return ReadMessage(ssl.get());
  }

  platform::Socket socket;
  SslCtxPtr context;
  SslHandle ssl;
  std::string tunnelReply;
};

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nAccept-Encoding: gzip\r\n\r\n";
}

TEST(ProxyConnection, DecryptsEachExchangeIntoItsOwnConversation) {
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const Issued served = Issue("localhost", &originCa, "DNS:localhost");
  TlsOrigin origin(served);
  InspectingEngine inspecting(originCa.certificate.get());
  {
    TlsBrowser browser(inspecting.engine, "localhost", origin.Port(),
                       inspecting.authority->Certificate());
    ASSERT_EQ(browser.tunnelReply, kTunnelReply);
    ASSERT_TRUE(browser.Handshake());
    const unsigned char* alpn = nullptr;
    unsigned int alpnLength = 0;
    SSL_get0_alpn_selected(browser.ssl.get(), &alpn, &alpnLength);
    EXPECT_EQ(alpnLength, 0u);  // the client offered none

    const std::string page = browser.Exchange(Get("/page?x=1"));
    EXPECT_EQ(page.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(page.find(TlsOrigin::kPage), std::string::npos) << page;
    // A chunked text page is held and decoded, then sent with its length.
    const std::string chunked = browser.Exchange(Get("/chunked"));
    EXPECT_NE(chunked.find("Content-Length: 11\r\n"), std::string::npos) << chunked;
    EXPECT_EQ(chunked.find("chunked"), std::string::npos) << chunked;
    EXPECT_EQ(chunked.substr(chunked.size() - 11), "hello world");
    // A streamed body larger than the buffers arrives whole and unchanged.
    const std::string big = browser.Exchange(Get("/big"));
    const size_t bodyStart = big.find("\r\n\r\n") + 4;
    EXPECT_TRUE(big.size() > bodyStart && big.substr(bodyStart) == BigBody())
        << big.size() << " bytes";
  }
  ASSERT_TRUE(inspecting.engine.Drain());
  EXPECT_EQ(origin.Requests(), 3);
  // In origin form, without the gzip offer.
  EXPECT_EQ(origin.FirstRequest().rfind("GET /page?x=1 HTTP/1.1\r\n", 0), 0u)
      << origin.FirstRequest();
  EXPECT_EQ(origin.FirstRequest().find("gzip"), std::string::npos);

  const auto conversations = inspecting.engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 4u);
  EXPECT_EQ(conversations[0]->RequestFirstLine().rfind("CONNECT localhost:", 0), 0u);
  EXPECT_EQ(conversations[0]->Origin(), "");
  const std::string expectedOrigin = "https://localhost:" + std::to_string(origin.Port());
  const std::vector<std::string> paths = {"/page?x=1", "/chunked"};
  for (size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    const auto& exchange = conversations[i + 1];
    EXPECT_EQ(exchange->Origin(), expectedOrigin);
    EXPECT_EQ(exchange->RequestFirstLine(), "GET " + paths[i] + " HTTP/1.1");
    EXPECT_EQ(exchange->ResponseFirstLine(), "HTTP/1.1 200 OK");
    EXPECT_TRUE(exchange->IsComplete());
  }
  // The capture keeps the server's bytes as they came, chunk framing and all.
  EXPECT_NE(conversations[2]->ResponseText().find("5\r\nhello\r\n6\r\n world"), std::string::npos);
}

TEST(ProxyConnection, ThroughAnUpstreamProxyInspectsOnceItsTunnelStands) {
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const Issued served = Issue("localhost", &originCa, "DNS:localhost");
  // A fully qualified name in another case still names the server its certificate names (the
  // upstream proxy resolves it; the browser sends SNI without the dot).
  for (const std::string host : {"localhost", "LocalHost."}) {
    SCOPED_TRACE(host);
    TlsOrigin origin(served, true);
    InspectingEngine inspecting(originCa.certificate.get());
    inspecting.engine.context.PublishUpstream(
        UpstreamProxy{.use = true, .address = "127.0.0.1", .port = origin.Port()});
    {
      TlsBrowser browser(inspecting.engine, host, 443, inspecting.authority->Certificate());
      SSL_set_tlsext_host_name(browser.ssl.get(), "localhost");
      SSL_set1_host(browser.ssl.get(), "localhost");
      EXPECT_EQ(browser.tunnelReply, "HTTP/1.1 200 Connection established\r\n\r\n");
      ASSERT_TRUE(browser.Handshake());
      const std::string page = browser.Exchange(Get("/page"));
      EXPECT_NE(page.find(TlsOrigin::kPage), std::string::npos) << page;
    }
    ASSERT_TRUE(inspecting.engine.Drain());
    EXPECT_EQ(origin.UpstreamConnect().rfind("CONNECT " + host + ":443 HTTP/1.1\r\n", 0), 0u);
    // Inside the tunnel the request goes in origin form, as to the server itself.
    EXPECT_EQ(origin.FirstRequest().rfind("GET /page HTTP/1.1\r\n", 0), 0u);
    const auto conversations = inspecting.engine.store.Snapshot();
    ASSERT_EQ(conversations.size(), 2u);
    EXPECT_EQ(conversations[0]->ResponseFirstLine(), "HTTP/1.1 200 Connection established");
    EXPECT_EQ(conversations[1]->Origin(), "https://" + host);
    EXPECT_EQ(conversations[1]->ResponseFirstLine(), "HTTP/1.1 200 OK");
  }
}

TEST(ProxyConnection, ReadsSmallerThanARecordTakeWhatTheSessionHolds) {
  // With the smallest buffers each TLS record is read in many parts: the parts after the first
  // are already inside the session, and the socket never becomes readable for them.
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const Issued served = Issue("localhost", &originCa, "DNS:localhost");
  TlsOrigin origin(served);
  InspectingEngine inspecting(originCa.certificate.get());
  inspecting.engine.context.SetListenerSizes(256, 256);
  TlsBrowser browser(inspecting.engine, "localhost", origin.Port(),
                     inspecting.authority->Certificate());
  ASSERT_TRUE(browser.Handshake());
  const std::string big = browser.Exchange(Get("/big"));
  const size_t bodyStart = big.find("\r\n\r\n") + 4;
  EXPECT_TRUE(big.size() > bodyStart && big.substr(bodyStart) == BigBody())
      << big.size() << " bytes";
  // A request larger than one read, in one record.
  const std::string longRequest =
      "GET /page HTTP/1.1\r\nHost: localhost\r\nX-Fill: " + std::string(3000, 'f') + "\r\n\r\n";
  EXPECT_NE(browser.Exchange(longRequest).find(TlsOrigin::kPage), std::string::npos);
}

TEST(ProxyConnection, RefusedServerCertificateAnswers502WithTheReason) {
  struct Row {
    const char* name;
    bool expired;
    bool unknownIssuer;
    const char* subjectAltName;
    const char* reason;
  };
  const std::vector<Row> rows = {
      {"expired", true, false, "DNS:localhost", "certificate has expired"},
      {"unknown issuer", false, true, "DNS:localhost", "unable to get local issuer certificate"},
      {"name mismatch", false, false, "DNS:elsewhere.example", "host name mismatch"},
  };
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const Issued otherCa = Issue("Unknown Test CA", nullptr, nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Issued served =
        Issue("localhost", row.unknownIssuer ? &otherCa : &originCa, row.subjectAltName,
              row.expired ? -7200 : -60, row.expired ? -3600 : 3600);
    TlsOrigin origin(served);
    InspectingEngine inspecting(originCa.certificate.get());
    {
      TlsBrowser browser(inspecting.engine, "localhost", origin.Port(),
                         inspecting.authority->Certificate());
      ASSERT_TRUE(browser.Handshake());
      const std::string answer = browser.Exchange(Get("/secret"));
      EXPECT_EQ(answer.rfind("HTTP/1.1 502 Bad Gateway\r\n", 0), 0u) << answer;
      EXPECT_NE(answer.find("Content-Type: text/html"), std::string::npos);
      EXPECT_NE(answer.find(row.reason), std::string::npos) << answer;
    }
    ASSERT_TRUE(inspecting.engine.Drain());
    EXPECT_EQ(origin.Requests(), 0);
    const auto conversations = inspecting.engine.store.Snapshot();
    ASSERT_EQ(conversations.size(), 2u);
    EXPECT_EQ(conversations[1]->RequestFirstLine(), "GET /secret HTTP/1.1");
    EXPECT_EQ(conversations[1]->ResponseFirstLine(), "HTTP/1.1 502 Bad Gateway");
  }
}

TEST(ProxyConnection, ServerAnsweringWithoutTlsAnswers502) {
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  std::atomic<bool> requestArrived{false};
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    const std::string after = peer.ReadSome(4096);
    requestArrived.store(after.find("GET") != std::string::npos);
  });
  InspectingEngine inspecting(originCa.certificate.get());
  {
    TlsBrowser browser(inspecting.engine, "localhost", origin.Port(),
                       inspecting.authority->Certificate());
    ASSERT_TRUE(browser.Handshake());
    const std::string answer = browser.Exchange(Get("/"));
    EXPECT_EQ(answer.rfind("HTTP/1.1 502 Bad Gateway\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("TLS handshake failed: "), std::string::npos) << answer;
  }
  ASSERT_TRUE(inspecting.engine.Drain());
  EXPECT_FALSE(requestArrived.load());
}

TEST(ProxyConnection, TunnelsStayByteExactWhenNotInspected) {
  struct Row {
    const char* name;
    bool inspectionOn;
    std::string noInspect;
    std::string first;  // the browser's first bytes in the tunnel
  };
  // A TLS record header and bytes that are not a handshake the proxy could take.
  const std::string tlsLike("\x16\x03\x01\x00\x04\x00\x01\xff\x02", 9);
  const std::vector<Row> rows = {
      {"first byte not TLS", true, "", std::string("PING\r\n\x00\x16", 8)},
      {"no-inspect host", true, "*.example, localhost", tlsLike},
      {"inspection off", false, "", tlsLike},
  };
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string originGot;
    std::mutex gotLock;
    const std::string expected = row.first;
    ScriptedOrigin origin([&](OriginPeer& peer) {
      std::string got = peer.ReadExactly(expected.size());
      {
        std::lock_guard<std::mutex> lock(gotLock);
        originGot = got;
      }
      peer.Send(std::string("\x16\x03\x03reply", 8));
    });
    InspectingEngine inspecting(originCa.certificate.get(), row.noInspect);
    if (!row.inspectionOn) {
      inspecting.engine.context.PublishInspection(nullptr);
    }
    {
      platform::Socket browser = inspecting.engine.Browser();
      ASSERT_TRUE(SendText(
          browser, "CONNECT localhost:" + std::to_string(origin.Port()) + " HTTP/1.1\r\n\r\n"));
      ASSERT_EQ(ReadAtLeast(browser, kTunnelReply.size()), kTunnelReply);
      ASSERT_TRUE(SendText(browser, row.first));
      EXPECT_EQ(ReadAtLeast(browser, 8), std::string("\x16\x03\x03reply", 8));
    }
    ASSERT_TRUE(inspecting.engine.Drain());
    std::lock_guard<std::mutex> lock(gotLock);
    EXPECT_EQ(originGot, row.first);
    const auto conversations = inspecting.engine.store.Snapshot();
    ASSERT_EQ(conversations.size(), 1u);
    EXPECT_EQ(conversations[0]->Origin(), "");
  }
}

TEST(ProxyConnection, HandshakeThatNeverFinishesEndsAtItsLimit) {
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  ScriptedOrigin origin([](OriginPeer& peer) { peer.ReadSome(1); });
  EngineLimits limits;
  limits.tlsHandshakeTimeout = std::chrono::milliseconds(200);
  InspectingEngine inspecting(originCa.certificate.get(), "", limits);
  {
    platform::Socket browser = inspecting.engine.Browser();
    ASSERT_TRUE(SendText(
        browser, "CONNECT localhost:" + std::to_string(origin.Port()) + " HTTP/1.1\r\n\r\n"));
    ASSERT_EQ(ReadAtLeast(browser, kTunnelReply.size()), kTunnelReply);
    // The start of a ClientHello record, and never the rest.
    ASSERT_TRUE(SendText(browser, std::string("\x16\x03\x01\x02\x00\x01", 6)));
    char byte = 0;
    EXPECT_EQ(platform::Recv(browser, &byte, 1).value, 0);  // closed, not timed out
  }
  ASSERT_TRUE(inspecting.engine.Drain());
  const auto conversations = inspecting.engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 2u);
  EXPECT_EQ(conversations[1]->ResponseText(), "TLS handshake with the browser failed: timed out");
}

TEST(ProxyConnection, BrowserSilentPastTheFirstByteLimitKeepsAPlainTunnel) {
  // A protocol whose server speaks first: its greeting flows once the proxy stops waiting.
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const std::string tlsLike("\x16\x03\x01\x00\x01\x00", 6);
  std::string originGot;
  std::mutex gotLock;
  testing::Gate originRead;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.Send("220 ready\r\n");
    const std::string got = peer.ReadExactly(tlsLike.size());
    {
      std::lock_guard<std::mutex> lock(gotLock);
      originGot = got;
    }
    originRead.Open();
  });
  EngineLimits limits;
  limits.firstTunnelByteTimeout = std::chrono::milliseconds(100);
  InspectingEngine inspecting(originCa.certificate.get(), "", limits);
  {
    platform::Socket browser = inspecting.engine.Browser();
    ASSERT_TRUE(SendText(
        browser, "CONNECT localhost:" + std::to_string(origin.Port()) + " HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(ReadAtLeast(browser, kTunnelReply.size() + 11),
              std::string(kTunnelReply) + "220 ready\r\n");
    ASSERT_TRUE(SendText(browser, tlsLike));
  }
  ASSERT_TRUE(originRead.Wait());
  ASSERT_TRUE(inspecting.engine.Drain());
  std::lock_guard<std::mutex> lock(gotLock);
  EXPECT_EQ(originGot, tlsLike);
}

TEST(ProxyConnection, BrowserRejectingTheLeafEndsWithANoteAndReachesNothing) {
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const Issued served = Issue("localhost", &originCa, "DNS:localhost");
  TlsOrigin origin(served);
  InspectingEngine inspecting(originCa.certificate.get());
  {
    // This browser trusts only the origin's authority: it refuses the proxy's leaf.
    TlsBrowser browser(inspecting.engine, "localhost", origin.Port(), originCa.certificate.get());
    ASSERT_EQ(browser.tunnelReply, kTunnelReply);
    EXPECT_FALSE(browser.Handshake());
  }
  ASSERT_TRUE(inspecting.engine.Drain());
  EXPECT_EQ(origin.Requests(), 0);
  const auto conversations = inspecting.engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 2u);
  EXPECT_EQ(conversations[1]->RequestTotal(), 0);
  EXPECT_EQ(conversations[1]->Origin(), "https://localhost:" + std::to_string(origin.Port()));
  const std::string note = conversations[1]->ResponseText();
  EXPECT_EQ(note.rfind("TLS handshake with the browser failed: ", 0), 0u) << note;
  EXPECT_NE(note.find("unknown ca"), std::string::npos) << note;
}

TEST(InspectedConnection, RecordsReadAheadAreRelayedWithoutWaitingForTheSocket) {
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const Issued served = Issue("localhost", &originCa, "DNS:localhost");
  TlsOrigin origin(served);
  InspectingEngine inspecting(originCa.certificate.get());
  TlsBrowser browser(inspecting.engine, "localhost", origin.Port(),
                     inspecting.authority->Certificate());
  ASSERT_TRUE(browser.Handshake());
  const std::string page = browser.Exchange(Get("/records"));
  origin.recordsTaken.Open();
  const std::string text(TlsOrigin::kRecordText);
  EXPECT_EQ(page.size() >= 2 * text.size() ? page.substr(page.size() - 2 * text.size()) : page,
            text + text);
}

TEST(InspectedConnection, ResumesOnlyServerSessionsThatVerifiedForTheName) {
  struct Row {
    const char* name;
    int connections;
    bool ticketsOnce;       // the server offers sessions on its first connection only
    bool expiredSince;      // the server presents an expired certificate from then on
    const char* laterHost;  // the name the later connections ask for
    int resumed;
    const char* refusal;  // in the later answers; null: the page
  };
  const std::vector<Row> rows = {
      {"same server again", 2, false, false, "localhost", 1, nullptr},
      {"a session resumes more than once", 3, true, false, "localhost", 2, nullptr},
      {"its certificate no longer verifies", 2, false, true, "localhost", 0,
       "certificate has expired"},
      {"another name at the same port", 2, false, false, "127.0.0.1", 0, "IP address mismatch"},
  };
  const Issued originCa = Issue("Origin Test CA", nullptr, nullptr);
  const Issued served = Issue("localhost", &originCa, "DNS:localhost");
  const Issued expired = Issue("localhost", &originCa, "DNS:localhost", -7200, -3600);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TlsOrigin origin(served);
    InspectingEngine inspecting(originCa.certificate.get());
    for (int connection = 0; connection < row.connections; ++connection) {
      const bool later = connection > 0;
      TlsBrowser browser(inspecting.engine, later ? row.laterHost : "localhost", origin.Port(),
                         inspecting.authority->Certificate());
      ASSERT_TRUE(browser.Handshake());
      const std::string answer = browser.Exchange(Get("/page"));
      if (later && row.refusal != nullptr) {
        EXPECT_EQ(answer.rfind("HTTP/1.1 502 Bad Gateway\r\n", 0), 0u) << answer;
        EXPECT_NE(answer.find(row.refusal), std::string::npos) << answer;
      } else {
        EXPECT_NE(answer.find(TlsOrigin::kPage), std::string::npos) << answer;
      }
      if (row.expiredSince) {
        origin.Present(expired);
      }
      if (row.ticketsOnce) {
        origin.StopTickets();
      }
    }
    ASSERT_TRUE(inspecting.engine.Drain());
    EXPECT_EQ(origin.Resumed(), row.resumed);
    EXPECT_EQ(origin.Requests(), row.refusal != nullptr ? 1 : row.connections);
  }
}

TEST(TlsSession, PartOfARecordIsNotPendingOnceAReadWaitedForIt) {
  // Read-ahead leaves the start of a record inside the session; only the socket can complete it,
  // so the relay must poll rather than read again at once.
  const Issued authority = Issue("Session Test CA", nullptr, nullptr);
  const Issued served = Issue("localhost", &authority, "DNS:localhost");
  const std::string text = "the record's text";
  testing::Gate firstPartSent;
  testing::Gate checked;
  ScriptedOrigin client([&](OriginPeer& peer) {
    SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
    SslHandle ssl(SSL_new(context.get()));
    SSL_set_fd(ssl.get(), peer.Socket().Fd());
    if (SSL_connect(ssl.get()) != 1) {
      return;
    }
    BIO* socketSide = SSL_get_rbio(ssl.get());
    BIO_up_ref(socketSide);
    SSL_set0_wbio(ssl.get(), BIO_new(BIO_s_mem()));
    SSL_write(ssl.get(), text.data(), static_cast<int>(text.size()));
    char* record = nullptr;
    const long length = BIO_get_mem_data(SSL_get_wbio(ssl.get()), &record);
    const std::string bytes(record, static_cast<size_t>(length));
    SSL_set0_wbio(ssl.get(), socketSide);
    peer.Send(bytes.substr(0, 9));
    firstPartSent.Open();
    if (checked.Wait()) {
      peer.Send(bytes.substr(9));
    }
    peer.ReadSome(1);  // until the session ends
  });
  SslCtxPtr context(SSL_CTX_new(TLS_server_method()));
  SSL_CTX_use_certificate(context.get(), served.certificate.get());
  SSL_CTX_use_PrivateKey(context.get(), served.key.get());
  SSL_CTX_set_num_tickets(context.get(), 0);
  SSL_CTX_set_read_ahead(context.get(), 1);
  platform::Socket socket = testing::ConnectLoopback(client.Port());
  ASSERT_TRUE(platform::SetNonBlocking(socket).Ok());
  TlsSession session(SslPtr(SSL_new(context.get())), socket.Fd());
  SSL_set_accept_state(session.Handle());
  ASSERT_TRUE(session.Handshake(std::chrono::seconds(10)).ok);
  ASSERT_TRUE(firstPartSent.Wait());
  char buffer[256];
  std::string got;
  for (int read = 0; read < 2; ++read) {
    SCOPED_TRACE(read == 0 ? "part of the record" : "the whole record");
    ASSERT_TRUE(platform::PollOne(platform::PollInterest{socket.Fd(), true, false}, 10000).Ok());
    const platform::SysCallResult result = session.Read(buffer, sizeof buffer);
    if (read == 0) {
      EXPECT_TRUE(result.value < 0 && platform::WouldBlock(result.errorNumber));
      EXPECT_FALSE(session.HasPending());
      checked.Open();
    } else {
      ASSERT_GT(result.value, 0);
      got.assign(buffer, static_cast<size_t>(result.value));
    }
  }
  EXPECT_EQ(got, text);
  session.Close();
}

}  // namespace
}  // namespace rw::proxy
