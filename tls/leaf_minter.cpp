#include "tls/leaf_minter.h"

#include <chrono>

#include "tls/certificate_builder.h"
#include "tls/host_name.h"
#include "tls/openssl_error.h"

namespace rw::tls {
namespace {

// Browsers refuse leaves valid for more than 397 days; the window here is a year and an hour.
constexpr std::chrono::seconds kLeafLifetime = std::chrono::hours(24 * 365);
// Started an hour back, so that a browser whose clock runs a little behind still accepts it.
constexpr std::chrono::seconds kLeafBackdate = std::chrono::hours(1);
constexpr size_t kMaxCommonNameBytes = 64;

}  // namespace

LeafMinter::CreateResult LeafMinter::Create(std::shared_ptr<const CertificateAuthority> authority,
                                            size_t capacity) {
  CreateResult result;
  if (authority == nullptr) {
    result.error = "no certificate authority";
    return result;
  }
  EvpPkeyPtr key = CertificateBuilder::NewKey();
  if (key == nullptr) {
    result.error = "no key pair could be made for host certificates: " + TakeOpenSslError();
    return result;
  }
  result.minter = std::make_shared<LeafMinter>(Token(), std::move(authority), std::move(key),
                                               capacity < 1 ? 1 : capacity);
  return result;
}

LeafMinter::LeafMinter(Token, std::shared_ptr<const CertificateAuthority> issuer,
                       EvpPkeyPtr leafKey, size_t cacheCapacity)
    : authority(std::move(issuer)), key(std::move(leafKey)), capacity(cacheCapacity) {}

LeafMinter::LeafResult LeafMinter::Leaf(std::string_view host) {
  const std::optional<CanonicalHost> canonical = CanonicalHostName(host);
  if (!canonical) {
    return LeafResult{nullptr, "not a host name or IP address"};
  }
  {
    const std::lock_guard<std::mutex> lock(cacheLock);
    if (const auto found = byHost.find(canonical->name); found != byHost.end()) {
      recent.splice(recent.begin(), recent, found->second);
      return LeafResult{found->second->second, {}};
    }
  }
  // Minted without the lock, so that other hosts' connections do not wait for this signature. Two
  // threads may mint the same host at once; the first to store its certificate wins.
  LeafResult minted = Mint(canonical->name, canonical->ipLiteral);
  if (minted.leaf == nullptr) {
    return minted;
  }
  const std::lock_guard<std::mutex> lock(cacheLock);
  if (const auto found = byHost.find(canonical->name); found != byHost.end()) {
    recent.splice(recent.begin(), recent, found->second);
    return LeafResult{found->second->second, {}};
  }
  recent.emplace_front(canonical->name, minted.leaf);
  byHost.emplace(canonical->name, recent.begin());
  while (recent.size() > capacity) {
    byHost.erase(recent.back().first);
    recent.pop_back();
  }
  return minted;
}

size_t LeafMinter::CachedCount() const {
  const std::lock_guard<std::mutex> lock(cacheLock);
  return recent.size();
}

LeafMinter::LeafResult LeafMinter::Mint(const std::string& host, bool ipLiteral) const {
  X509* issuer = authority->Certificate();
  CertificateBuilder builder;
  // Longer names are left out of the subject (a common name holds 64 bytes); browsers read the
  // subjectAltName alone.
  builder.SetSubject(host.size() <= kMaxCommonNameBytes ? host : std::string());
  builder.SetIssuer(issuer);
  builder.SetValidity(kLeafBackdate, kLeafLifetime);
  builder.LimitNotAfter(X509_get0_notAfter(issuer));
  builder.SetPublicKey(key.get());
  builder.AddExtension(NID_basic_constraints, "critical,CA:FALSE");
  builder.AddExtension(NID_key_usage, "critical,digitalSignature");
  builder.AddExtension(NID_ext_key_usage, "serverAuth");
  builder.AddSubjectAltName(host, ipLiteral);
  builder.AddExtension(NID_subject_key_identifier, "hash");
  builder.AddExtension(NID_authority_key_identifier, "keyid:always");
  X509Ptr certificate = builder.Sign(authority->Key());
  if (certificate == nullptr) {
    return LeafResult{nullptr, "minting the certificate for " + host + ": " + builder.Error()};
  }
  auto leaf = std::make_shared<LeafCertificate>();
  leaf->certificate = std::move(certificate);
  leaf->key = ShareKey(key.get());
  leaf->issuer = ShareCertificate(issuer);
  return LeafResult{std::move(leaf), {}};
}

}  // namespace rw::tls
