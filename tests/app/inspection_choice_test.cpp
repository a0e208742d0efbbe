#include "app/inspection_choice.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace rw::app {
namespace {

// Stored values and options combine per value: an option replaces its value for the run only.
TEST(InspectionChoice, OptionsReplaceStoredValuesOneByOne) {
  struct Row {
    const char* name;
    const char* storedInspect;  // nullptr: no such file
    const char* storedCa;
    const char* storedHosts;
    std::vector<std::string> args;
    bool on;
    const char* caFile;
    const char* hosts;
  };
  const Row rows[] = {
      {"nothing stored", nullptr, nullptr, nullptr, {}, false, "", ""},
      {"stored on", "1", nullptr, nullptr, {}, true, "", ""},
      {"stored on with a line feed", "1\n", nullptr, nullptr, {}, true, "", ""},
      {"stored off", "0", nullptr, nullptr, {}, false, "", ""},
      {"stored other text", "yes", nullptr, nullptr, {}, false, "", ""},
      {"option turns it on", "0", nullptr, nullptr, {"--inspect-https"}, true, "", ""},
      {"stored files and hosts",
       "1",
       " /etc/local-ca.pem\n",
       "a.example,*.b.example",
       {},
       true,
       "/etc/local-ca.pem",
       "a.example,*.b.example"},
      {"options replace them",
       "1",
       "/etc/local-ca.pem",
       "a.example",
       {"--upstream-ca", "/run/ca.pem", "--no-inspect", "c.example"},
       true,
       "/run/ca.pem",
       "c.example"},
      {"an empty --no-inspect clears the stored hosts",
       "1",
       nullptr,
       "a.example",
       {"--no-inspect="},
       true,
       "",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    rw::testing::TempDir temp;
    SettingsStore settings{platform::SettingsBacking(temp.path() / "key")};
    ASSERT_TRUE(settings.EnsureSettingsKey());
    if (row.storedInspect != nullptr) {
      settings.WriteSetting("InspectHttps", row.storedInspect);
    }
    if (row.storedCa != nullptr) {
      settings.WriteSetting("UpstreamCaFile", row.storedCa);
    }
    if (row.storedHosts != nullptr) {
      settings.WriteSetting("NoInspectHosts", row.storedHosts);
    }
    CommandLine options;
    std::vector<std::string> args = {"--headless"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ASSERT_EQ(options.Parse(args), CommandLine::ParseResult::kRun) << options.error;

    const InspectionChoice choice = ChooseInspection(options, settings, temp.path() / "key");
    EXPECT_EQ(choice.on, row.on);
    EXPECT_EQ(choice.request.upstreamCaFile, row.caFile);
    EXPECT_EQ(choice.request.noInspectHosts, row.hosts);
    EXPECT_EQ(choice.request.caDirectory, temp.path() / "key" / "ca");
    // Options are for the run: nothing is written back.
    EXPECT_EQ(settings.ReadSetting("InspectHttps"), row.storedInspect ? row.storedInspect : "");
  }
}

}  // namespace
}  // namespace rw::app
