#include "tls/trust_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"
#include "tls/certificate_authority.h"
#include "tls/leaf_minter.h"

namespace rw::tls {
namespace {

namespace fs = std::filesystem;

// The leaf verifies against the store for `host`, as a client checking a server would.
bool Verifies(const TrustStore& store, X509* leaf, const std::string& host) {
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  X509_STORE_CTX_init(context.get(), store.Store(), leaf, nullptr);
  X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
  X509_VERIFY_PARAM_set1_host(X509_STORE_CTX_get0_param(context.get()), host.c_str(), 0);
  return X509_verify_cert(context.get()) == 1;
}

class TrustStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto made = CertificateAuthority::LoadOrCreate(temp.path() / "origin-ca");
    ASSERT_NE(made.authority, nullptr) << made.error;
    originCa = made.authority;
    originPem = rw::testing::ReadFile(originCa->CertificatePath());
    const auto minter = LeafMinter::Create(originCa);
    ASSERT_NE(minter.minter, nullptr);
    leaf = minter.minter->Leaf("origin.test").leaf;
    ASSERT_NE(leaf, nullptr);
  }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = temp.path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  rw::testing::TempDir temp;
  std::shared_ptr<const CertificateAuthority> originCa;
  std::string originPem;
  std::shared_ptr<const LeafCertificate> leaf;
};

TEST_F(TrustStoreTest, ExtraFileLetsServersOfALocalCaVerify) {
  const TrustStore::LoadResult system = TrustStore::Load("");
  ASSERT_NE(system.store, nullptr) << system.error;
  EXPECT_FALSE(Verifies(*system.store, leaf->certificate.get(), "origin.test"));

  // Two certificates, with text around them as bundles often have.
  rw::testing::TempDir other;
  const auto second = CertificateAuthority::LoadOrCreate(other.path());
  ASSERT_NE(second.authority, nullptr);
  const fs::path bundle = Write(
      "bundle.pem", "# local CAs\n" + rw::testing::ReadFile(second.authority->CertificatePath()) +
                        "\n" + originPem);
  const TrustStore::LoadResult loaded = TrustStore::Load(bundle.string());
  ASSERT_NE(loaded.store, nullptr) << loaded.error;
  EXPECT_EQ(loaded.store->ExtraCertificates(), 2);
  EXPECT_TRUE(Verifies(*loaded.store, leaf->certificate.get(), "origin.test"));
  EXPECT_FALSE(Verifies(*loaded.store, leaf->certificate.get(), "other.test"));
}

TEST_F(TrustStoreTest, FileProblemsNameTheFile) {
  const fs::path unreadable = Write("unreadable.pem", originPem);
  fs::permissions(unreadable, fs::perms::none);
  const bool root = ::geteuid() == 0;  // root reads the file anyway
  fs::create_directory(temp.path() / "folder.pem");
  std::string damaged = originPem;
  damaged[damaged.size() / 2] = '!';
  struct Row {
    fs::path path;
    const char* problem;
  };
  const std::vector<Row> rows = {
      {temp.path() / "missing.pem", "No such file or directory"},
      {Write("empty.pem", ""), "holds no PEM certificate"},
      {Write("text.pem", "just some text\n"), "holds no PEM certificate"},
      {Write("key.pem",
             rw::testing::ReadFile(temp.path() / "origin-ca" / CertificateAuthority::kKeyFile)),
       "holds no PEM certificate"},
      {Write("damaged.pem", damaged), "certificate 1 is not valid PEM"},
      {Write("second-damaged.pem", originPem + damaged), "certificate 2 is not valid PEM"},
      {temp.path() / "folder.pem", "is not a regular file"},
      {unreadable, root ? nullptr : "Permission denied"},
  };
  for (const Row& row : rows) {
    if (row.problem == nullptr) {
      continue;
    }
    SCOPED_TRACE(row.path.string());
    const TrustStore::LoadResult loaded = TrustStore::Load(row.path.string());
    EXPECT_EQ(loaded.store, nullptr);
    EXPECT_EQ(loaded.error.rfind(row.path.string() + ": ", 0), 0u) << loaded.error;
    EXPECT_NE(loaded.error.find(row.problem), std::string::npos) << loaded.error;
  }
}

}  // namespace
}  // namespace rw::tls
