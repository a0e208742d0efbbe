#include "tls/inspection_settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace rw::tls {
namespace {

namespace fs = std::filesystem;

TEST(InspectionSettings, PreparesEveryPartFromTheRequest) {
  rw::testing::TempDir temp;
  const InspectionSetup setup =
      PrepareInspection({temp.path() / "ca", "", "pinned.example, *.bank.example"});
  ASSERT_EQ(setup.error, "");
  ASSERT_TRUE(setup.settings.On());
  EXPECT_EQ(setup.settings.authority->CertificatePath(),
            (temp.path() / "ca" / "relaywatch-ca.pem").string());
  ASSERT_NE(setup.settings.leaves, nullptr);
  EXPECT_NE(setup.settings.leaves->Leaf("example.com").leaf, nullptr);
  ASSERT_NE(setup.settings.serverTrust, nullptr);
  EXPECT_TRUE(setup.settings.noInspect.Matches("www.bank.example"));
  EXPECT_FALSE(setup.settings.noInspect.Matches("example.com"));
}

TEST(InspectionSettings, EachBadPartStopsItNamingWhatIsWrong) {
  struct Row {
    const char* name;
    std::string upstream;
    std::string noInspect;
    bool breakKey;
    std::string expected;  // part of the error
  };
  rw::testing::TempDir temp;
  const fs::path ca = temp.path() / "ca";
  const fs::path key = ca / CertificateAuthority::kKeyFile;
  const std::vector<Row> rows = {
      {"bad pattern", "", "ok.example, bad*", false, "\"bad*\""},
      {"missing upstream CA", (temp.path() / "nope.pem").string(), "", false,
       (temp.path() / "nope.pem").string() + ": No such file"},
      {"key readable by others", "", "", true, key.string() + ": is readable by group or others"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(PrepareInspection({ca, "", ""}).settings.On());
    if (row.breakKey) {
      fs::permissions(key, fs::perms(0644));
    }
    const InspectionSetup setup = PrepareInspection({ca, row.upstream, row.noInspect});
    EXPECT_FALSE(setup.settings.On());
    EXPECT_NE(setup.error.find(row.expected), std::string::npos) << setup.error;
    if (row.breakKey) {
      fs::permissions(key, fs::perms(0600));
    }
  }
}

}  // namespace
}  // namespace rw::tls
