#include "tls/certificate_fingerprint.h"

#include <openssl/evp.h>

namespace rw::tls {

std::string SpkiSha256Base64(X509* certificate) {
  unsigned char* encoded = nullptr;
  const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &encoded);
  if (size <= 0) {
    return {};
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  const bool hashed = EVP_Digest(encoded, static_cast<size_t>(size), digest, &digestSize,
                                 EVP_sha256(), nullptr) == 1;
  OPENSSL_free(encoded);
  if (!hashed) {
    return {};
  }
  // Base64 of 32 bytes: 44 characters and the NUL EVP_EncodeBlock adds.
  unsigned char text[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
  const int length = EVP_EncodeBlock(text, digest, static_cast<int>(digestSize));
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

std::string CertificateSha256Fingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &digestSize) != 1) {
    return {};
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < digestSize; ++i) {
    if (i > 0) {
      text += ':';
    }
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0f];
  }
  return text;
}

}  // namespace rw::tls
