// Mints, per host name, the certificate the proxy shows the browser for that host, signed by the
// local certificate authority, and keeps the most recently used ones in a bounded cache.
// Shared by every connection thread (Leaf is thread-safe); owned through a shared_ptr by the
// inspection settings. One key pair serves every leaf of a run.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tls/certificate_authority.h"
#include "tls/openssl_handles.h"

namespace rw::tls {

// What an SSL object needs to present a host's certificate: the leaf, its key and the issuer to
// send after it. Immutable once minted.
struct LeafCertificate {
  X509Ptr certificate;
  EvpPkeyPtr key;
  X509Ptr issuer;
};

class LeafMinter {
 public:
  static constexpr size_t kDefaultCapacity = 1000;

  struct CreateResult {
    std::shared_ptr<LeafMinter> minter;  // null on failure
    std::string error;
  };
  struct LeafResult {
    std::shared_ptr<const LeafCertificate> leaf;  // null on failure
    std::string error;
  };

  // Makes the run's leaf key pair. `capacity` (at least 1) bounds the cache.
  static CreateResult Create(std::shared_ptr<const CertificateAuthority> authority,
                             size_t capacity = kDefaultCapacity);

  // The certificate for `host` (an SNI name or a CONNECT host; an IP literal gets an IP address
  // as its subjectAltName), from the cache or minted now. Hosts that differ only in case or a
  // trailing dot share one certificate. An invalid host name is an error, never minted.
  LeafResult Leaf(std::string_view host);

  // Certificates now cached.
  size_t CachedCount() const;

  // Only Create can make the token.
  class Token {
    friend class LeafMinter;
    Token() = default;
  };
  LeafMinter(Token, std::shared_ptr<const CertificateAuthority> authority, EvpPkeyPtr key,
             size_t capacity);

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const LeafCertificate>>;

  LeafResult Mint(const std::string& host, bool ipLiteral) const;

  const std::shared_ptr<const CertificateAuthority> authority;
  const EvpPkeyPtr key;
  const size_t capacity;

  mutable std::mutex cacheLock;  // leaf: nothing is locked or minted while it is held
  std::list<Entry> recent;       // guarded by cacheLock; most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> byHost;  // guarded by cacheLock
};

}  // namespace rw::tls
