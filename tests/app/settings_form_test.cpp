#include "app/settings_form.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app/settings_store.h"
#include "capture/conversation_store.h"
#include "platform/current_directory.h"
#include "proxy/proxy_settings.h"
#include "tests/support/temp_dir.h"

namespace rw::app {
namespace {

TEST(SettingsForm, ApplyPutsNormalisedValuesIntoForce) {
  capture::ConversationStore store;
  proxy::ProxySettings proxy;
  SettingsForm form;
  form.RestoreDefaults();
  form.listenAddress = "  127.0.0.1 ";
  form.port = " 9000x";
  form.proxyHost = " upstream ";
  form.proxyPort = "";
  form.maxMB = "2";
  form.autoLog = true;
  form.Apply(proxy, store);

  EXPECT_EQ(proxy.listenAddress, "127.0.0.1");
  EXPECT_EQ(proxy.listenPort, 9000);
  EXPECT_EQ(proxy.proxyAddress, "upstream");
  EXPECT_EQ(proxy.proxyPort, 0);
  EXPECT_EQ(form.maxMB, "4");  // the field shows the limit in force
  EXPECT_EQ(store.MaxMB(), 4);
  EXPECT_TRUE(store.AutoLog());
  EXPECT_EQ(form.listeningLabel, "127.0.0.1:9000");
  EXPECT_EQ(form.proxyLabel, "upstream:");

  form.maxMB = "";
  form.proxyHost = "";
  form.port = "0";
  form.Apply(proxy, store);
  EXPECT_EQ(store.MaxMB(), 8);
  EXPECT_EQ(proxy.listenPort, 0);
  EXPECT_EQ(form.listeningLabel, "127.0.0.1:");
  EXPECT_EQ(form.proxyLabel, "");
}

TEST(SettingsForm, AfterApplyTheLimitFieldShowsTheLimitInForce) {
  struct Row {
    const char* typed;
    const char* shown;
    int32_t inForce;
  };
  const Row rows[] = {{"1", "4", 4},      {"abc", "8", 8},
                      {"", "8", 8},       {"-3", "4", 4},
                      {"0", "8", 8},      {" 16 ", "16", 16},
                      {"32MB", "32", 32}, {"99999999999", "2147483647", 2147483647}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    capture::ConversationStore store;
    proxy::ProxySettings proxy;
    SettingsForm form;
    form.RestoreDefaults();
    form.maxMB = row.typed;
    form.Apply(proxy, store);
    EXPECT_EQ(form.maxMB, row.shown);
    EXPECT_EQ(store.MaxMB(), row.inForce);
  }
}

TEST(SettingsForm, SavedSettingsComeBackOnTheNextStart) {
  testing::TempDir dir;
  SettingsStore settings{platform::SettingsBacking(dir.path() / "key")};
  ASSERT_TRUE(settings.EnsureSettingsKey());
  {
    capture::ConversationStore store;
    proxy::ProxySettings proxy;
    SettingsForm form;
    form.RestoreDefaults();
    form.Load(settings, store);
    EXPECT_EQ(form.port, "8010");
    EXPECT_EQ(form.maxMB, "8");
    EXPECT_FALSE(form.autoLog);
    EXPECT_EQ(form.logDir, platform::CurrentDirectory());
    form.proxyHost = "proxy.local";
    form.proxyPort = "3128";
    form.maxMB = "2";
    form.port = "";
    form.logDir = "/tmp/logs ";
    form.autoLog = true;
    form.Apply(proxy, store);
    form.Save(settings);
  }
  EXPECT_EQ(settings.ReadSetting("MaxMB"), "4");  // the limit in force, not the typed 2
  EXPECT_EQ(settings.ReadSetting("HttpPort"), "8010");
  EXPECT_EQ(settings.ReadSetting("LogDir"), "/tmp/logs ");  // not trimmed
  EXPECT_EQ(settings.ReadSetting("AutoLog"), "1");

  capture::ConversationStore store;
  SettingsForm form;
  form.RestoreDefaults();
  form.Load(settings, store);
  EXPECT_EQ(form.proxyHost, "proxy.local");
  EXPECT_EQ(form.proxyPort, "3128");
  EXPECT_EQ(form.maxMB, "4");
  EXPECT_TRUE(form.autoLog);
  EXPECT_TRUE(store.AutoLog());
}

TEST(SettingsForm, UnopenableKeyStillGivesAWorkingPort) {
  testing::TempDir dir;
  std::ofstream(dir.path() / "file") << "x";
  SettingsStore settings{platform::SettingsBacking(dir.path() / "file" / "key")};
  capture::ConversationStore store;
  proxy::ProxySettings proxy;
  SettingsForm form;
  form.RestoreDefaults();
  form.Load(settings, store);
  form.Apply(proxy, store);
  EXPECT_EQ(proxy.listenPort, 8010);
  EXPECT_EQ(proxy.listenAddress, "127.0.0.1");
  EXPECT_EQ(store.MaxMB(), 8);
}

TEST(SettingsForm, LoadShowsTheStoredLimitAsItWillBeInForce) {
  struct Row {
    const char* stored;
    const char* shown;
  };
  // The floor and the default apply on loading too, so a limit edited in the stored file
  // never shows (or saves back) as less than 4.
  const Row rows[] = {{"2", "4"},   {"-3", "4"}, {"0", "8"},   {"", "8"},
                      {"abc", "8"}, {"4", "4"},  {"16", "16"}, {" 32MB", "32"}};
  testing::TempDir dir;
  SettingsStore settings{platform::SettingsBacking(dir.path() / "key")};
  ASSERT_TRUE(settings.EnsureSettingsKey());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored);
    settings.WriteSetting("MaxMB", row.stored);
    capture::ConversationStore store;
    SettingsForm form;
    form.Load(settings, store);
    EXPECT_EQ(form.maxMB, row.shown);
  }
}

TEST(SettingsForm, LoadKeepsDefaultsForEmptyValuesAndTheAutoLogBoxFollowsOnlyOne) {
  testing::TempDir dir;
  SettingsStore settings{platform::SettingsBacking(dir.path() / "key")};
  ASSERT_TRUE(settings.EnsureSettingsKey());
  settings.WriteSetting("HttpAddress", "");
  settings.WriteSetting("LogDir", "");
  for (const char* flag : {"1", "0", "yes", "", "11"}) {
    SCOPED_TRACE(flag);
    settings.WriteSetting("AutoLog", flag);
    capture::ConversationStore store;
    store.SetAutoLog(true);
    SettingsForm form;
    form.logDir = "/somewhere";
    form.Load(settings, store);
    EXPECT_EQ(form.autoLog, std::string(flag) == "1");
    EXPECT_EQ(store.AutoLog(), form.autoLog);
    EXPECT_EQ(form.listenAddress, "127.0.0.1");
    EXPECT_EQ(form.logDir, platform::CurrentDirectory());
  }
}

}  // namespace
}  // namespace rw::app
