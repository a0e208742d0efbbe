// Owners for the OpenSSL objects this folder hands out, so each is freed exactly once on every
// path. Header only; the objects themselves say which threads may use them.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace rw::tls {

template <typename Object, void (*Free)(Object*)>
struct OpenSslFree {
  void operator()(Object* object) const { Free(object); }
};

using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE, X509_STORE_free>>;
using X509StoreCtxPtr =
    std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX, X509_STORE_CTX_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OpenSslFree<X509_NAME, X509_NAME_free>>;
using X509ExtensionPtr =
    std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION, X509_EXTENSION_free>>;
using GeneralNamesPtr =
    std::unique_ptr<GENERAL_NAMES, OpenSslFree<GENERAL_NAMES, GENERAL_NAMES_free>>;
using Asn1OctetStringPtr =
    std::unique_ptr<ASN1_OCTET_STRING, OpenSslFree<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, OpenSslFree<ASN1_INTEGER, ASN1_INTEGER_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslFree<BIGNUM, BN_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;

// A second owner of the same certificate or key (OpenSSL counts the references).
inline X509Ptr ShareCertificate(X509* certificate) {
  X509_up_ref(certificate);
  return X509Ptr(certificate);
}
inline EvpPkeyPtr ShareKey(EVP_PKEY* key) {
  EVP_PKEY_up_ref(key);
  return EvpPkeyPtr(key);
}

}  // namespace rw::tls
