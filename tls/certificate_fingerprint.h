// The two ways a certificate is named by its hash: the base64 SHA-256 of its public key info
// (what Chromium's --ignore-certificate-errors-spki-list takes) and the colon-separated SHA-256
// fingerprint shown to the user. Pure; any thread.
#pragma once

#include <openssl/x509.h>

#include <string>

namespace rw::tls {

// Empty when the certificate cannot be encoded.
std::string SpkiSha256Base64(X509* certificate);
// "AB:CD:...", 32 upper-case hex pairs; empty when the certificate cannot be encoded.
std::string CertificateSha256Fingerprint(X509* certificate);

}  // namespace rw::tls
