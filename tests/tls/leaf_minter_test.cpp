#include "tls/leaf_minter.h"

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/tls/tls_test_support.h"

namespace rw::tls {
namespace {

using testing::Extension;

constexpr long kMaxLeafSeconds = 397L * 86400;

class LeafMinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CertificateAuthority::LoadResult made = CertificateAuthority::LoadOrCreate(temp.path() / "ca");
    ASSERT_NE(made.authority, nullptr) << made.error;
    authority = made.authority;
  }

  std::shared_ptr<LeafMinter> NewMinter(size_t capacity = LeafMinter::kDefaultCapacity) {
    LeafMinter::CreateResult made = LeafMinter::Create(authority, capacity);
    EXPECT_NE(made.minter, nullptr) << made.error;
    return made.minter;
  }

  rw::testing::TempDir temp;
  std::shared_ptr<const CertificateAuthority> authority;
};

// The name the SAN holds: "DNS:name" or "IP:address".
std::vector<std::string> AltNames(X509* certificate) {
  std::vector<std::string> names;
  GENERAL_NAMES* all = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; all != nullptr && i < sk_GENERAL_NAME_num(all); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(all, i);
    if (name->type == GEN_DNS) {
      const ASN1_STRING* dns = name->d.dNSName;
      names.push_back("DNS:" +
                      std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                                  static_cast<size_t>(ASN1_STRING_length(dns))));
    } else if (name->type == GEN_IPADD) {
      names.push_back("IP:" + std::to_string(ASN1_STRING_length(name->d.iPAddress)) + " bytes");
    } else {
      names.push_back("other");
    }
  }
  GENERAL_NAMES_free(all);
  return names;
}

TEST_F(LeafMinterTest, MintsAServerCertificateForEachKindOfHost) {
  struct Row {
    std::string host;
    std::string altName;     // what the subjectAltName holds
    std::string commonName;  // "" when the name is too long for one
    std::string verifyAs;    // the name or address a browser checks
    bool ipAddress;
  };
  const std::string longName = std::string(60, 'a') + ".example.com";
  const Row rows[] = {
      {"www.example.com", "DNS:www.example.com", "www.example.com", "www.example.com", false},
      {"WWW.Example.COM.", "DNS:www.example.com", "www.example.com", "www.example.com", false},
      {"localhost", "DNS:localhost", "localhost", "localhost", false},
      {"127.0.0.1", "IP:4 bytes", "127.0.0.1", "127.0.0.1", true},
      {"[::1]", "IP:16 bytes", "::1", "::1", true},
      {"2001:db8::7", "IP:16 bytes", "2001:db8::7", "2001:db8::7", true},
      {longName, "DNS:" + longName, "", longName, false},
  };
  const auto minter = NewMinter();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.host);
    const LeafMinter::LeafResult minted = minter->Leaf(row.host);
    ASSERT_NE(minted.leaf, nullptr) << minted.error;
    X509* leaf = minted.leaf->certificate.get();
    EXPECT_EQ(AltNames(leaf), std::vector<std::string>{row.altName});
    EXPECT_EQ(testing::CommonName(leaf), row.commonName);
    EXPECT_EQ(X509_check_ca(leaf), 0);
    const auto basic = Extension(leaf, NID_basic_constraints);
    EXPECT_TRUE(basic.present && basic.critical);
    const auto usage = Extension(leaf, NID_key_usage);
    EXPECT_TRUE(usage.present && usage.critical);
    EXPECT_EQ(X509_get_key_usage(leaf), static_cast<uint32_t>(KU_DIGITAL_SIGNATURE));
    EXPECT_EQ(X509_get_extended_key_usage(leaf), static_cast<uint32_t>(XKU_SSL_SERVER));
    EXPECT_LE(testing::ValiditySeconds(leaf), kMaxLeafSeconds);
    EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(leaf)), 0);
    EXPECT_GT(X509_cmp_current_time(X509_get0_notAfter(leaf)), 0);
    EXPECT_EQ(X509_check_private_key(leaf, minted.leaf->key.get()), 1);
    EXPECT_EQ(X509_cmp(minted.leaf->issuer.get(), authority->Certificate()), 0);
    // The chain a browser builds: the leaf for that host, issued by the trusted authority.
    EXPECT_EQ(testing::VerifyChain(leaf, authority->Certificate(), row.verifyAs, row.ipAddress),
              "");
  }
}

TEST_F(LeafMinterTest, LeafDoesNotVerifyForAnotherHostOrAnotherAuthority) {
  const auto minter = NewMinter();
  const LeafMinter::LeafResult minted = minter->Leaf("a.example");
  ASSERT_NE(minted.leaf, nullptr);
  X509* leaf = minted.leaf->certificate.get();
  EXPECT_NE(testing::VerifyChain(leaf, authority->Certificate(), "b.example"), "");
  EXPECT_NE(testing::VerifyChain(leaf, authority->Certificate(), "x.a.example"), "");

  rw::testing::TempDir other;
  const auto stranger = CertificateAuthority::LoadOrCreate(other.path());
  ASSERT_NE(stranger.authority, nullptr);
  EXPECT_NE(testing::VerifyChain(leaf, stranger.authority->Certificate(), "a.example"), "");
}

TEST_F(LeafMinterTest, RefusesNamesThatAreNotHosts) {
  const auto minter = NewMinter();
  const std::string tooLong = std::string(250, 'a') + ".com";
  const std::string label64 = std::string(64, 'a') + ".com";
  for (const std::string& host :
       {std::string(), std::string("."), std::string("a..b"), std::string("a b"),
        std::string("evil.com,DNS:bank.com"), std::string("*.example.com"), std::string("a/b"),
        std::string("a\0b", 3), std::string("[example.com]"), std::string("[1.2.3.4]"),
        std::string("1:2"), tooLong, label64}) {
    SCOPED_TRACE(host);
    const LeafMinter::LeafResult minted = minter->Leaf(host);
    EXPECT_EQ(minted.leaf, nullptr);
    EXPECT_FALSE(minted.error.empty());
  }
  EXPECT_EQ(minter->CachedCount(), 0u);
}

TEST_F(LeafMinterTest, SerialsAreRandomAndTheKeyIsOnePerRun) {
  const auto minter = NewMinter();
  std::set<std::string> serials;
  EVP_PKEY* firstKey = nullptr;
  for (int i = 0; i < 20; ++i) {
    const auto minted = minter->Leaf("h" + std::to_string(i) + ".example");
    ASSERT_NE(minted.leaf, nullptr);
    const BignumPtr serial(
        ASN1_INTEGER_to_BN(X509_get0_serialNumber(minted.leaf->certificate.get()), nullptr));
    EXPECT_EQ(BN_is_negative(serial.get()), 0);
    EXPECT_GE(BN_num_bits(serial.get()), 64);
    char* hex = BN_bn2hex(serial.get());
    serials.insert(hex);
    OPENSSL_free(hex);
    if (firstKey == nullptr) {
      firstKey = minted.leaf->key.get();
    }
    EXPECT_EQ(minted.leaf->key.get(), firstKey);
  }
  EXPECT_EQ(serials.size(), 20u);
}

TEST_F(LeafMinterTest, CacheSharesOneCertificatePerHostAndDropsTheLeastRecentlyUsed) {
  const auto minter = NewMinter(3);
  const auto a = minter->Leaf("a.example").leaf;
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(minter->Leaf("A.EXAMPLE.").leaf, a);  // the same host, written differently
  const auto b = minter->Leaf("b.example").leaf;
  const auto c = minter->Leaf("c.example").leaf;
  EXPECT_EQ(minter->CachedCount(), 3u);
  EXPECT_EQ(minter->Leaf("a.example").leaf, a);  // a is now the most recent; b the oldest
  const auto d = minter->Leaf("d.example").leaf;
  EXPECT_EQ(minter->CachedCount(), 3u);
  EXPECT_EQ(minter->Leaf("a.example").leaf, a);
  EXPECT_EQ(minter->Leaf("c.example").leaf, c);
  const auto bAgain = minter->Leaf("b.example").leaf;
  ASSERT_NE(bAgain, nullptr);
  EXPECT_NE(bAgain, b);  // minted anew after it was dropped
  EXPECT_EQ(minter->CachedCount(), 3u);
}

// Connection threads ask at once, for the same hosts and for new ones: each host still gets one
// certificate, the bound holds, and every certificate verifies (run under ThreadSanitizer).
TEST_F(LeafMinterTest, ConcurrentCallersShareTheCacheSafely) {
  constexpr int kThreads = 8;
  constexpr int kHosts = 24;
  const auto minter = NewMinter(16);
  std::promise<void> go;
  std::shared_future<void> start = go.get_future().share();
  std::vector<std::future<int>> done;
  for (int t = 0; t < kThreads; ++t) {
    done.push_back(std::async(std::launch::async, [&, t] {
      start.wait();
      int failures = 0;
      for (int i = 0; i < kHosts; ++i) {
        const std::string host = "h" + std::to_string((i + t) % kHosts) + ".example";
        const auto minted = minter->Leaf(host);
        if (minted.leaf == nullptr ||
            !testing::VerifyChain(minted.leaf->certificate.get(), authority->Certificate(), host)
                 .empty()) {
          ++failures;
        }
      }
      return failures;
    }));
  }
  go.set_value();
  for (auto& result : done) {
    EXPECT_EQ(result.get(), 0);
  }
  EXPECT_EQ(minter->CachedCount(), 16u);
  // Cached hosts answer with the one certificate every caller now sees.
  const auto first = minter->Leaf("h23.example").leaf;
  EXPECT_EQ(minter->Leaf("h23.example").leaf, first);
}

}  // namespace
}  // namespace rw::tls
