#include "tls/server_session_cache.h"

#include <openssl/x509v3.h>

#include <ctime>

namespace rw::tls {
namespace {

// Whether the certificate the session was verified with would still pass the checks that do not
// need the server: its validity now and the name it was verified for. Resuming sends no
// certificate, so these are all that can be checked again.
bool StillValidFor(SSL_SESSION* session, std::string_view host, bool ipLiteral) {
  if (SSL_SESSION_is_resumable(session) != 1) {
    return false;
  }
  const long now = static_cast<long>(std::time(nullptr));
  if (SSL_SESSION_get_time(session) + SSL_SESSION_get_timeout(session) <= now) {
    return false;
  }
  X509* peer = SSL_SESSION_get0_peer(session);
  if (peer == nullptr || X509_cmp_current_time(X509_get0_notBefore(peer)) >= 0 ||
      X509_cmp_current_time(X509_get0_notAfter(peer)) <= 0) {
    return false;
  }
  const std::string name(host);
  return ipLiteral ? X509_check_ip_asc(peer, name.c_str(), 0) == 1
                   : X509_check_host(peer, name.data(), name.size(), 0, nullptr) == 1;
}

}  // namespace

ServerSessionCache::ServerSessionCache(size_t requested)
    : capacity(requested < 1 ? 1 : requested) {}

std::string ServerSessionCache::Key(std::string_view host, int32_t port) {
  std::string key(host);
  key += '\n';  // cannot occur in a host name
  key += std::to_string(port);
  return key;
}

void ServerSessionCache::Store(const std::string& key, SslSessionPtr session) {
  if (!session || SSL_SESSION_is_resumable(session.get()) != 1 ||
      SSL_SESSION_get0_peer(session.get()) == nullptr) {
    return;
  }
  SslSessionPtr replaced;  // freed after the lock is let go
  std::lock_guard<std::mutex> guard(lock);
  const auto found = byKey.find(key);
  if (found != byKey.end()) {
    replaced = std::move(found->second->second);
    found->second->second = std::move(session);
    recent.splice(recent.begin(), recent, found->second);
    return;
  }
  recent.emplace_front(key, std::move(session));
  byKey.emplace(key, recent.begin());
  if (recent.size() > capacity) {
    byKey.erase(recent.back().first);
    replaced = std::move(recent.back().second);
    recent.pop_back();
  }
}

SslSessionPtr ServerSessionCache::Find(const std::string& key, std::string_view host,
                                       bool ipLiteral) {
  SslSessionPtr session;
  {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = byKey.find(key);
    if (found == byKey.end()) {
      return nullptr;
    }
    SSL_SESSION_up_ref(found->second->second.get());
    session.reset(found->second->second.get());
  }
  if (StillValidFor(session.get(), host, ipLiteral)) {
    return session;
  }
  SslSessionPtr stale;  // freed after the lock is let go
  std::lock_guard<std::mutex> guard(lock);
  const auto found = byKey.find(key);
  if (found != byKey.end() && found->second->second.get() == session.get()) {
    stale = std::move(found->second->second);
    recent.erase(found->second);
    byKey.erase(found);
  }
  return nullptr;
}

size_t ServerSessionCache::Count() const {
  std::lock_guard<std::mutex> guard(lock);
  return recent.size();
}

}  // namespace rw::tls
