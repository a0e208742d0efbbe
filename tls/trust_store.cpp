#include "tls/trust_store.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include "platform/error_text.h"
#include "platform/private_file.h"
#include "tls/openssl_error.h"

namespace rw::tls {
namespace {

// Large enough for any real bundle of CA certificates.
constexpr size_t kMaxFileBytes = size_t{16} * 1024 * 1024;

TrustStore::LoadResult Failure(const std::string& path, const std::string& problem) {
  TrustStore::LoadResult result;
  result.error = path + ": " + problem;
  return result;
}

}  // namespace

TrustStore::TrustStore(Token, X509StorePtr x509Store, int extraCount)
    : store(std::move(x509Store)), extraCertificates(extraCount) {}

TrustStore::LoadResult TrustStore::Load(const std::string& extraPemFile) {
  X509StorePtr store(X509_STORE_new());
  if (store == nullptr || X509_STORE_set_default_paths(store.get()) != 1) {
    LoadResult result;
    result.error = "the system's trust store cannot be used: " + TakeOpenSslError();
    return result;
  }
  int added = 0;
  if (!extraPemFile.empty()) {
    const platform::ReadFileResult file =
        platform::ReadWholeFile(extraPemFile, kMaxFileBytes, platform::LinkRule::kFollow);
    if (!file.Ok()) {
      return Failure(extraPemFile, file.errorNumber == EINVAL ? "is not a regular file"
                                   : file.errorNumber == EFBIG
                                       ? "is too large for a file of certificates"
                                       : platform::ErrorText(file.errorNumber));
    }
    const BioPtr bio(BIO_new_mem_buf(file.data.data(), static_cast<int>(file.data.size())));
    if (bio == nullptr) {
      return Failure(extraPemFile, "cannot be read: " + TakeOpenSslError());
    }
    for (;;) {
      ERR_clear_error();
      const X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
      if (certificate == nullptr) {
        // The end of the PEM blocks reads as "no start line"; anything else is a damaged block.
        const unsigned long code = ERR_peek_last_error();
        if (ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE) {
          ERR_clear_error();
          break;
        }
        return Failure(extraPemFile, "certificate " + std::to_string(added + 1) +
                                         " is not valid PEM (" + TakeOpenSslError() + ")");
      }
      if (X509_STORE_add_cert(store.get(), certificate.get()) != 1) {
        // The same certificate twice is harmless; the store keeps one.
        TakeOpenSslError();
      }
      ++added;
    }
    if (added == 0) {
      return Failure(extraPemFile, "holds no PEM certificate");
    }
  }
  LoadResult result;
  result.store = std::make_shared<const TrustStore>(Token(), std::move(store), added);
  return result;
}

}  // namespace rw::tls
