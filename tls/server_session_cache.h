// TLS sessions of servers whose certificates verified, one per host and port, so that the next
// connection to the same server resumes instead of repeating the full handshake. Shared by every
// connection thread (all calls are thread-safe); owned by the inspector that verifies servers.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "tls/openssl_handles.h"

namespace rw::tls {

using SslSessionPtr = std::unique_ptr<SSL_SESSION, OpenSslFree<SSL_SESSION, SSL_SESSION_free>>;

class ServerSessionCache {
 public:
  static constexpr size_t kDefaultCapacity = 256;

  explicit ServerSessionCache(size_t capacity = kDefaultCapacity);

  // The key of a server: the name its certificate was verified for, and its port.
  static std::string Key(std::string_view host, int32_t port);

  // Keeps `session` for `key` in place of the one before, if it can be resumed and its
  // certificate is present. The caller has checked that its handshake verified.
  void Store(const std::string& key, SslSessionPtr session);
  // A session for `key` whose stored certificate still names `host` and is within its validity
  // now; null otherwise (and a stale one is dropped).
  SslSessionPtr Find(const std::string& key, std::string_view host, bool ipLiteral);

  size_t Count() const;

 private:
  using Entry = std::pair<std::string, SslSessionPtr>;

  const size_t capacity;

  mutable std::mutex lock;  // leaf: nothing else is locked while it is held
  std::list<Entry> recent;  // guarded by lock; most recently stored first
  std::unordered_map<std::string, std::list<Entry>::iterator> byKey;  // guarded by lock
};

}  // namespace rw::tls
