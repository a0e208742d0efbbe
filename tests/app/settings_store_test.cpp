#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace rw::app {
namespace {

SettingsStore StoreAt(const std::filesystem::path& dir) {
  return SettingsStore(platform::SettingsBacking(dir));
}

TEST(SettingsStore, KeyThatCannotBeOpenedReadsAsLineFeedWithoutDefaults) {
  testing::TempDir dir;
  std::ofstream(dir.path() / "notadir") << "x";
  SettingsStore store = StoreAt(dir.path() / "notadir" / "key");
  EXPECT_FALSE(store.EnsureSettingsKey());
  for (const char* name : {"HttpAddress", "HttpPort", "MaxMB", "AutoLog"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(store.ReadSetting(name), "\n");
  }
  store.WriteSetting("MaxMB", "16");  // dropped silently
  EXPECT_EQ(store.ReadSetting("MaxMB"), "\n");
}

TEST(SettingsStore, ReadRulesOnAnOpenKey) {
  testing::TempDir dir;
  SettingsStore store = StoreAt(dir.path() / "key");
  ASSERT_TRUE(store.EnsureSettingsKey());
  // Missing values: defaults for the address and port only.
  EXPECT_EQ(store.ReadSetting("HttpAddress"), "127.0.0.1");
  EXPECT_EQ(store.ReadSetting("HttpPort"), "8010");
  EXPECT_EQ(store.ReadSetting("HttpProxyAddress"), "");
  EXPECT_EQ(store.ReadSetting("RunCount"), "");

  store.WriteSetting("HttpPort", "");
  EXPECT_EQ(store.ReadSetting("HttpPort"), "8010");
  store.WriteSetting("HttpProxyPort", "3128");
  EXPECT_EQ(store.ReadSetting("HttpProxyPort"), "3128");
  store.WriteSetting("LogDir", std::string("/var/log\0junk", 13));
  EXPECT_EQ(store.ReadSetting("LogDir"), "/var/log");

  // A long log directory reads back whole up to the limit; beyond it the value reads as empty.
  const std::string longest(SettingsStore::kMaxValueBytes, 'd');
  store.WriteSetting("LogDir", longest);
  EXPECT_EQ(store.ReadSetting("LogDir"), longest);
  store.WriteSetting("LogDir", longest + "d");
  EXPECT_EQ(store.ReadSetting("LogDir"), "");
  store.WriteSetting("HttpAddress", std::string(SettingsStore::kMaxValueBytes + 1, 'h'));
  EXPECT_EQ(store.ReadSetting("HttpAddress"), "127.0.0.1");
}

}  // namespace
}  // namespace rw::app
