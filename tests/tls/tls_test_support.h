// Reading certificates back for the tls tests: extensions by NID, names, validity in seconds.
#pragma once

#include <openssl/x509v3.h>

#include <string>

#include "tls/openssl_handles.h"

namespace rw::tls::testing {

// Whether the certificate has extension `nid`, and whether it is marked critical.
struct ExtensionFacts {
  bool present = false;
  bool critical = false;
};
inline ExtensionFacts Extension(X509* certificate, int nid) {
  const int index = X509_get_ext_by_NID(certificate, nid, -1);
  if (index < 0) {
    return {};
  }
  return {true, X509_EXTENSION_get_critical(X509_get_ext(certificate, index)) != 0};
}

inline std::string CommonName(X509* certificate) {
  char text[256] = {};
  const int length = X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName,
                                               text, sizeof text);
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

// notAfter - notBefore.
inline long ValiditySeconds(X509* certificate) {
  int days = 0;
  int seconds = 0;
  ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(certificate),
                 X509_get0_notAfter(certificate));
  return days * 86400L + seconds;
}

// X509_verify_cert of `leaf` with `trusted` as the only trust anchor, for server use and (when
// not empty) for `host`, a name or (with `ipAddress`) an address. The verification error text, or
// "" when the chain verifies.
inline std::string VerifyChain(X509* leaf, X509* trusted, const std::string& host,
                               bool ipAddress = false) {
  X509StorePtr store(X509_STORE_new());
  X509_STORE_add_cert(store.get(), trusted);
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  X509_STORE_CTX_init(context.get(), store.get(), leaf, nullptr);
  X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
  if (!host.empty()) {
    if (ipAddress) {
      X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    }
  }
  if (X509_verify_cert(context.get()) == 1) {
    return {};
  }
  return X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
}

}  // namespace rw::tls::testing
