#include "tls/certificate_builder.h"

#include <openssl/rand.h>

#include "tls/openssl_error.h"

namespace rw::tls {
namespace {

constexpr int kSerialBytes = 16;
constexpr size_t kMaxCommonNameBytes = 64;

bool SetRandomSerial(X509* certificate) {
  unsigned char bytes[kSerialBytes];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    return false;
  }
  // Positive and non-zero, as serial numbers must be.
  bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7f) | 0x01);
  const BignumPtr number(BN_bin2bn(bytes, sizeof bytes, nullptr));
  return number != nullptr &&
         BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)) != nullptr;
}

}  // namespace

void CacheExtensions(X509* certificate) {
  X509_check_purpose(certificate, -1, 0);
}

CertificateBuilder::CertificateBuilder() : certificate(X509_new()) {
  if (certificate == nullptr) {
    Fail("allocating a certificate");
  } else if (X509_set_version(certificate.get(), X509_VERSION_3) != 1) {
    Fail("setting the version");
  } else if (!SetRandomSerial(certificate.get())) {
    Fail("making a serial number");
  }
}

EvpPkeyPtr CertificateBuilder::NewKey() {
  return EvpPkeyPtr(EVP_EC_gen("P-256"));
}

void CertificateBuilder::SetSubject(std::string_view commonName) {
  if (!error.empty()) {
    return;
  }
  X509_NAME* name = X509_get_subject_name(certificate.get());
  const auto add = [&](const char* field, std::string_view text) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(text.data()),
                                      static_cast<int>(text.size()), -1, 0) == 1;
  };
  if (!add("O", "Relaywatch") || (!commonName.empty() && (commonName.size() > kMaxCommonNameBytes ||
                                                          !add("CN", commonName)))) {
    Fail("setting the subject");
  }
}

void CertificateBuilder::SetValidity(std::chrono::seconds backdate, std::chrono::seconds lifetime) {
  if (!error.empty()) {
    return;
  }
  if (X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -backdate.count()) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), lifetime.count()) == nullptr) {
    Fail("setting the validity");
  }
}

void CertificateBuilder::LimitNotAfter(const ASN1_TIME* limit) {
  if (!error.empty()) {
    return;
  }
  if (ASN1_TIME_compare(limit, X509_get0_notAfter(certificate.get())) < 0 &&
      X509_set1_notAfter(certificate.get(), limit) != 1) {
    Fail("limiting the validity");
  }
}

void CertificateBuilder::SetPublicKey(EVP_PKEY* key) {
  if (error.empty() && X509_set_pubkey(certificate.get(), key) != 1) {
    Fail("setting the public key");
  }
}

void CertificateBuilder::SetIssuer(X509* issuerCertificate) {
  if (!error.empty()) {
    return;
  }
  issuer = issuerCertificate;
  X509_NAME* name =
      issuer != nullptr ? X509_get_subject_name(issuer) : X509_get_subject_name(certificate.get());
  if (X509_set_issuer_name(certificate.get(), name) != 1) {
    Fail("setting the issuer");
  }
}

void CertificateBuilder::AddExtension(int nid, const char* value) {
  if (!error.empty()) {
    return;
  }
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer != nullptr ? issuer : certificate.get(), certificate.get(),
                 nullptr, nullptr, 0);
  const X509ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (extension == nullptr || X509_add_ext(certificate.get(), extension.get(), -1) != 1) {
    Fail(std::string("adding ") + OBJ_nid2sn(nid));
  }
}

void CertificateBuilder::AddSubjectAltName(const std::string& host, bool ipLiteral) {
  if (!error.empty()) {
    return;
  }
  // Built as structures rather than configuration text, so that no byte of the host name is ever
  // read as syntax (a comma would start another name).
  const GeneralNamesPtr names(GENERAL_NAMES_new());
  GENERAL_NAME* name = GENERAL_NAME_new();
  if (names == nullptr || name == nullptr || sk_GENERAL_NAME_push(names.get(), name) == 0) {
    GENERAL_NAME_free(name);
    Fail("adding subjectAltName");
    return;
  }
  if (ipLiteral) {
    ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
    if (address == nullptr) {
      Fail("adding subjectAltName");
      return;
    }
    GENERAL_NAME_set0_value(name, GEN_IPADD, address);
  } else {
    ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
    if (dns == nullptr || ASN1_STRING_set(dns, host.data(), static_cast<int>(host.size())) != 1) {
      ASN1_IA5STRING_free(dns);
      Fail("adding subjectAltName");
      return;
    }
    GENERAL_NAME_set0_value(name, GEN_DNS, dns);
  }
  if (X509_add1_ext_i2d(certificate.get(), NID_subject_alt_name, names.get(), 0,
                        X509V3_ADD_DEFAULT) != 1) {
    Fail("adding subjectAltName");
  }
}

X509Ptr CertificateBuilder::Sign(EVP_PKEY* issuerKey) {
  if (!error.empty()) {
    return nullptr;
  }
  if (X509_sign(certificate.get(), issuerKey, EVP_sha256()) == 0) {
    Fail("signing");
    return nullptr;
  }
  CacheExtensions(certificate.get());
  return std::move(certificate);
}

bool CertificateBuilder::Fail(const std::string& step) {
  if (error.empty()) {
    const std::string reason = TakeOpenSslError();
    error = step + " failed" + (reason.empty() ? "" : ": " + reason);
  }
  return false;
}

}  // namespace rw::tls
