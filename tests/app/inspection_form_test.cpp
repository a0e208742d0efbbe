#include "app/inspection_form.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/proxy_app.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace rw::app {
namespace {

using rw::testing::ReadFile;
using ::testing::HasSubstr;

class QuietReporter : public proxy::ListenerErrorSink, public capture::CaptureNotifier {
 public:
  void ShowError(const std::string&) override {}
  void ListenFailed(int, int) override {}
  void FatalError(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowClearedState() override {}
  void UpkeepDue() override {}
};

class InspectionFormTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  QuietReporter reporter;
  ProxyApp app{SettingsStore(platform::SettingsBacking(dir.path() / "key")), reporter, reporter};
  void SetUp() override { app.LoadSettings(); }
};

TEST_F(InspectionFormTest, SavedValuesLoadBackTrimmed) {
  InspectionForm form;
  form.inspectHttps = true;
  form.noInspectHosts = "  *.bank.example, pinned.example ";
  form.upstreamCaFile = " /etc/ca.pem";
  form.Save(app.Settings());
  EXPECT_EQ(app.Settings().ReadSetting("InspectHttps"), "1");
  InspectionForm loaded;
  loaded.Load(app.Settings());
  EXPECT_TRUE(loaded.inspectHttps);
  EXPECT_EQ(loaded.noInspectHosts, "*.bank.example, pinned.example");
  EXPECT_EQ(loaded.upstreamCaFile, "/etc/ca.pem");
  form.inspectHttps = false;
  form.Save(app.Settings());
  EXPECT_EQ(app.Settings().ReadSetting("InspectHttps"), "0");
}

TEST_F(InspectionFormTest, ApplyStartsAndStopsInspection) {
  InspectionForm form;
  form.inspectHttps = true;
  form.noInspectHosts = "pinned.example";
  EXPECT_EQ(form.Apply(app), "");
  ASSERT_TRUE(app.Inspection().On());
  EXPECT_TRUE(app.Inspection().noInspect.Matches("pinned.example"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "key" / "ca" / "relaywatch-ca.pem"));
  form.inspectHttps = false;
  EXPECT_EQ(form.Apply(app), "");
  EXPECT_FALSE(app.Inspection().On());
}

TEST_F(InspectionFormTest, BadValuesGiveTheirMessageAndLeaveInspectionOff) {
  const struct {
    bool on;
    std::string hosts;
    std::string caFile;
    std::string message;
  } rows[] = {
      {true, "", (dir.path() / "missing.pem").string(), "HTTPS inspection cannot start: "},
      {true, "bad host!", "", "HTTPS inspection cannot start: "},
      {false, "", (dir.path() / "missing.pem").string(), "Trusted CA file for servers: "},
      {false, "bad host!", "", "Hosts kept as tunnels: "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message + row.hosts + row.caFile);
    InspectionForm good;
    good.inspectHttps = true;
    ASSERT_EQ(good.Apply(app), "");
    InspectionForm form;
    form.inspectHttps = row.on;
    form.noInspectHosts = row.hosts;
    form.upstreamCaFile = row.caFile;
    const std::string message = form.Apply(app);
    EXPECT_THAT(message, HasSubstr(row.message));
    EXPECT_THAT(message, HasSubstr(row.hosts.empty() ? "missing.pem" : "bad host!"));
    EXPECT_FALSE(app.Inspection().On());
  }
}

TEST_F(InspectionFormTest, ExportWritesTheCertificateAndNeverTheKey) {
  InspectionForm form;
  form.inspectHttps = true;
  ASSERT_EQ(form.Apply(app), "");
  const std::filesystem::path out = dir.path() / "exported.pem";
  EXPECT_EQ(ExportCaCertificate(*app.Inspection().authority, out), "");
  const std::string text = ReadFile(out);
  EXPECT_EQ(text, ReadFile(app.Inspection().authority->CertificatePath()));
  EXPECT_THAT(text, HasSubstr("-----BEGIN CERTIFICATE-----"));
  EXPECT_THAT(text, ::testing::Not(HasSubstr("PRIVATE KEY")));
  EXPECT_THAT(ExportCaCertificate(*app.Inspection().authority, dir.path() / "no" / "such.pem"),
              HasSubstr("cannot write"));
}

}  // namespace
}  // namespace rw::app
