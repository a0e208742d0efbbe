// The local certificate authority that signs the certificates of inspected hosts: created once in
// its own folder (certificate 0644, key 0600, folder 0700) and reused on every later start, never
// replaced on its own. Loaded on the main thread at start; read-only afterwards, so connection
// threads share it through a shared_ptr.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tls/openssl_handles.h"

namespace rw::tls {

class CertificateAuthority {
 public:
  static constexpr const char* kCertificateFile = "relaywatch-ca.pem";
  static constexpr const char* kKeyFile = "relaywatch-ca.key";

  struct LoadResult {
    std::shared_ptr<const CertificateAuthority> authority;  // null when it cannot be used
    bool created = false;                                   // made by this call
    std::string error;  // names the file and what is wrong with it
  };

  // Loads the authority from `directory`, or creates it there when neither file exists. A key
  // that group or others can reach, that another user owns, that is a link or that does not
  // parse, a certificate that is not a CA, does not match the key or has expired, or one file
  // without the other: an error, with both files left as they are.
  static LoadResult LoadOrCreate(const std::filesystem::path& directory);

  // OpenSSL takes these as non-const pointers; neither may be changed.
  X509* Certificate() const { return certificate.get(); }
  EVP_PKEY* Key() const { return key.get(); }
  const std::string& CertificatePath() const { return certificatePath; }

  // Only LoadOrCreate can make the token, so every authority has passed its checks.
  class Token {
    friend class CertificateAuthority;
    Token() = default;
  };
  CertificateAuthority(Token, X509Ptr certificate, EvpPkeyPtr key, std::string certificatePath);

 private:
  static LoadResult Load(const std::string& certificatePath, const std::string& keyPath);
  static LoadResult Create(const std::string& certificatePath, const std::string& keyPath);

  X509Ptr certificate;
  EvpPkeyPtr key;
  std::string certificatePath;
};

}  // namespace rw::tls
