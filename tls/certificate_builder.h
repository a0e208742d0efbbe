// Builds one X.509 v3 certificate step by step for the authority and the leaf minter: random
// serial, validity window, names, extensions, SHA-256 signature. The first failing step is kept
// and later steps do nothing, so a caller checks once, at Sign. One thread per builder.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "tls/openssl_handles.h"

namespace rw::tls {

// OpenSSL decodes a certificate's extensions into the certificate itself on first use, under a
// lock that readers skip once it is done. Done here, before a certificate is shared between
// threads, so that every later use only reads.
void CacheExtensions(X509* certificate);

class CertificateBuilder {
 public:
  CertificateBuilder();

  // A fresh EC P-256 key pair (quick to make, and every current browser accepts it); null on
  // failure.
  static EvpPkeyPtr NewKey();

  // Subject: O=Relaywatch, plus CN=`commonName` when not empty (at most 64 bytes).
  void SetSubject(std::string_view commonName);
  // Valid from `backdate` before now (clocks disagree) for `lifetime` from now.
  void SetValidity(std::chrono::seconds backdate, std::chrono::seconds lifetime);
  // Ends the validity no later than `limit` (a leaf never outlives its issuer).
  void LimitNotAfter(const ASN1_TIME* limit);
  void SetPublicKey(EVP_PKEY* key);
  // The issuer's subject becomes this certificate's issuer; null for a self-signed one.
  void SetIssuer(X509* issuer);
  // One extension in OpenSSL's configuration syntax ("critical,CA:TRUE"); `value` is always a
  // constant of ours, never text from outside.
  void AddExtension(int nid, const char* value);
  // subjectAltName with one DNS name or one IP address (the host as canonical text).
  void AddSubjectAltName(const std::string& host, bool ipLiteral);

  // Signs with SHA-256 by `issuerKey`; null with Error() saying why on any earlier failure.
  X509Ptr Sign(EVP_PKEY* issuerKey);
  const std::string& Error() const { return error; }

 private:
  bool Fail(const std::string& step);

  X509Ptr certificate;
  X509* issuer = nullptr;  // not owned; the subject itself when null
  std::string error;
};

}  // namespace rw::tls
