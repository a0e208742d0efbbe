// The certificates servers are verified against when inspecting: the system's trust store plus
// the PEM certificates of the user's upstream CA file. Built at start on the main thread;
// read-only afterwards and shared with connection threads (an SSL_CTX takes its own reference).
#pragma once

#include <memory>
#include <string>

#include "tls/openssl_handles.h"

namespace rw::tls {

class TrustStore {
 public:
  struct LoadResult {
    std::shared_ptr<const TrustStore> store;  // null on failure
    std::string error;                        // names the file and what is wrong with it
  };

  // The system's default locations, plus every certificate in `extraPemFile` when it is not empty.
  // A file that is missing, unreadable, holds no certificate or a damaged one is an error.
  static LoadResult Load(const std::string& extraPemFile);

  X509_STORE* Store() const { return store.get(); }
  // How many certificates came from the extra file.
  int ExtraCertificates() const { return extraCertificates; }

  class Token {
    friend class TrustStore;
    Token() = default;
  };
  TrustStore(Token, X509StorePtr store, int extraCertificates);

 private:
  X509StorePtr store;
  int extraCertificates = 0;
};

}  // namespace rw::tls
