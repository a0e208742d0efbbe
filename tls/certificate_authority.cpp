#include "tls/certificate_authority.h"

#include <openssl/crypto.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include "platform/error_text.h"
#include "platform/private_file.h"
#include "tls/certificate_builder.h"
#include "tls/openssl_error.h"

namespace rw::tls {
namespace {

constexpr std::chrono::hours kDay{24};
constexpr std::chrono::seconds kCaLifetime = 3650 * kDay;
constexpr std::chrono::seconds kCaBackdate = kDay;
constexpr size_t kMaxFileBytes = size_t{64} * 1024;
constexpr const char* kCommonName = "Relaywatch Local CA";

// Key text that is wiped before its memory is given back.
struct SecretText {
  std::string text;
  ~SecretText() { OPENSSL_cleanse(text.data(), text.size()); }
};

// Never asks for a pass phrase: an encrypted key simply does not load.
int NoPassphrase(char*, int, int, void*) {
  return -1;
}

std::string ModeText(uint32_t permissions) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", permissions & 07777);
  return text;
}

CertificateAuthority::LoadResult Failure(const std::string& path, const std::string& problem) {
  CertificateAuthority::LoadResult result;
  result.error = path + ": " + problem;
  return result;
}

std::string ReadProblem(int errorNumber) {
  if (errorNumber == ELOOP) {
    return "is a symbolic link, which is not followed";
  }
  if (errorNumber == EINVAL) {
    return "is not a regular file";
  }
  if (errorNumber == EFBIG) {
    return "is too large to be a key or certificate";
  }
  return "cannot be read: " + platform::ErrorText(errorNumber);
}

std::string PemOf(const std::function<int(BIO*)>& write) {
  const BioPtr memory(BIO_new(BIO_s_mem()));
  if (memory == nullptr || write(memory.get()) != 1) {
    return {};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(memory.get(), &data);
  std::string text(data, static_cast<size_t>(size));
  // The buffer may hold the private key: wipe it before the BIO gives it back.
  OPENSSL_cleanse(data, static_cast<size_t>(size));
  return text;
}

X509Ptr MakeCertificate(EVP_PKEY* key, std::string* error) {
  CertificateBuilder builder;
  builder.SetSubject(kCommonName);
  builder.SetIssuer(nullptr);
  builder.SetValidity(kCaBackdate, kCaLifetime);
  builder.SetPublicKey(key);
  // pathlen:0: it signs leaf certificates only, never another authority.
  builder.AddExtension(NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
  builder.AddExtension(NID_key_usage, "critical,keyCertSign,cRLSign");
  builder.AddExtension(NID_subject_key_identifier, "hash");
  X509Ptr certificate = builder.Sign(key);
  if (certificate == nullptr) {
    *error = builder.Error();
  }
  return certificate;
}

}  // namespace

CertificateAuthority::CertificateAuthority(Token, X509Ptr caCertificate, EvpPkeyPtr caKey,
                                           std::string savedPath)
    : certificate(std::move(caCertificate)),
      key(std::move(caKey)),
      certificatePath(std::move(savedPath)) {}

CertificateAuthority::LoadResult CertificateAuthority::LoadOrCreate(
    const std::filesystem::path& directory) {
  const std::string certificatePath = (directory / kCertificateFile).string();
  const std::string keyPath = (directory / kKeyFile).string();
  if (const platform::SysCallResult made = platform::EnsurePrivateDirectory(directory.string());
      !made.Ok()) {
    const std::string problem =
        made.errorNumber == ENOTDIR ? "is not a directory (or is a symbolic link)"
        : made.errorNumber == EPERM ? "belongs to another user"
                                    : "cannot be used: " + platform::ErrorText(made.errorNumber);
    return Failure(directory.string(), problem);
  }
  const platform::SysCallResult keyThere = platform::PathExists(keyPath);
  const platform::SysCallResult certificateThere = platform::PathExists(certificatePath);
  if (!keyThere.Ok()) {
    return Failure(keyPath, ReadProblem(keyThere.errorNumber));
  }
  if (!certificateThere.Ok()) {
    return Failure(certificatePath, ReadProblem(certificateThere.errorNumber));
  }
  if (keyThere.value == 0 && certificateThere.value == 0) {
    return Create(certificatePath, keyPath);
  }
  if (keyThere.value == 0) {
    return Failure(keyPath, "is missing while " + certificatePath +
                                " exists; remove both files to create a new certificate authority");
  }
  if (certificateThere.value == 0) {
    return Failure(certificatePath, "is missing while " + keyPath +
                                        " exists; remove both files to create a new certificate "
                                        "authority");
  }
  return Load(certificatePath, keyPath);
}

CertificateAuthority::LoadResult CertificateAuthority::Load(const std::string& certificatePath,
                                                            const std::string& keyPath) {
  platform::ReadFileResult keyFile =
      platform::ReadWholeFile(keyPath, kMaxFileBytes, platform::LinkRule::kRefuse);
  const SecretText keyText{std::move(keyFile.data)};
  if (!keyFile.Ok()) {
    return Failure(keyPath, ReadProblem(keyFile.errorNumber));
  }
  if (keyFile.facts.owner != platform::CurrentUser()) {
    return Failure(keyPath,
                   "is not owned by you (owner uid " + std::to_string(keyFile.facts.owner) + ")");
  }
  if ((keyFile.facts.permissions & 077) != 0) {
    return Failure(keyPath, "is readable by group or others (mode " +
                                ModeText(keyFile.facts.permissions) + "; it must be 0600)");
  }
  const BioPtr keyBio(BIO_new_mem_buf(keyText.text.data(), static_cast<int>(keyText.text.size())));
  EvpPkeyPtr key(keyBio != nullptr
                     ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, NoPassphrase, nullptr)
                     : nullptr);
  if (key == nullptr) {
    const std::string reason = TakeOpenSslError();
    return Failure(keyPath,
                   "is not a valid private key" + (reason.empty() ? "" : " (" + reason + ")"));
  }

  const platform::ReadFileResult certificateFile =
      platform::ReadWholeFile(certificatePath, kMaxFileBytes, platform::LinkRule::kRefuse);
  if (!certificateFile.Ok()) {
    return Failure(certificatePath, ReadProblem(certificateFile.errorNumber));
  }
  const BioPtr certificateBio(
      BIO_new_mem_buf(certificateFile.data.data(), static_cast<int>(certificateFile.data.size())));
  X509Ptr certificate(certificateBio != nullptr
                          ? PEM_read_bio_X509(certificateBio.get(), nullptr, NoPassphrase, nullptr)
                          : nullptr);
  if (certificate == nullptr) {
    const std::string reason = TakeOpenSslError();
    return Failure(certificatePath,
                   "is not a valid PEM certificate" + (reason.empty() ? "" : " (" + reason + ")"));
  }
  CacheExtensions(certificate.get());
  if (X509_check_ca(certificate.get()) != 1) {
    return Failure(certificatePath, "is not a certificate authority's certificate");
  }
  if (X509_check_private_key(certificate.get(), key.get()) != 1) {
    TakeOpenSslError();
    return Failure(certificatePath, "does not match the key in " + keyPath);
  }
  if (X509_cmp_current_time(X509_get0_notAfter(certificate.get())) <= 0) {
    return Failure(certificatePath,
                   "has expired; remove it and " + keyPath + " to create a new one");
  }
  LoadResult result;
  result.authority = std::make_shared<const CertificateAuthority>(Token(), std::move(certificate),
                                                                  std::move(key), certificatePath);
  return result;
}

CertificateAuthority::LoadResult CertificateAuthority::Create(const std::string& certificatePath,
                                                              const std::string& keyPath) {
  EvpPkeyPtr key = CertificateBuilder::NewKey();
  if (key == nullptr) {
    return Failure(keyPath, "no key could be made: " + TakeOpenSslError());
  }
  std::string error;
  X509Ptr certificate = MakeCertificate(key.get(), &error);
  if (certificate == nullptr) {
    return Failure(certificatePath, "could not be made: " + error);
  }
  const SecretText keyText{PemOf([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  })};
  const std::string certificateText =
      PemOf([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); });
  if (keyText.text.empty() || certificateText.empty()) {
    return Failure(keyPath, "could not be encoded: " + TakeOpenSslError());
  }
  // The key first: a certificate never exists without the key that signs with it.
  if (const platform::SysCallResult written =
          platform::CreateFileExclusive(keyPath, 0600, keyText.text);
      !written.Ok()) {
    return Failure(keyPath, "cannot be created: " + platform::ErrorText(written.errorNumber));
  }
  if (const platform::SysCallResult written =
          platform::CreateFileExclusive(certificatePath, 0644, certificateText);
      !written.Ok()) {
    // Take back the key made a moment ago, so that the next start can create both again.
    (void)platform::RemoveFile(keyPath);
    return Failure(certificatePath,
                   "cannot be created: " + platform::ErrorText(written.errorNumber));
  }
  LoadResult result;
  result.created = true;
  result.authority = std::make_shared<const CertificateAuthority>(Token(), std::move(certificate),
                                                                  std::move(key), certificatePath);
  return result;
}

}  // namespace rw::tls
