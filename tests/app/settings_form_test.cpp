#include "app/settings_form.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>

#include "app/settings_store.h"
#include "capture/conversation_store.h"
#include "proxy/proxy_settings.h"
#include "tests/support/temp_dir.h"

namespace rw::app {
namespace {

TEST(SettingsForm, NumberFieldNormalisesTheText) {
  struct Row {
    const char* in;
    int32_t value;
    const char* out;
  };
  const Row rows[] = {
      {"8010", 8010, "8010"},   {"  8080  ", 8080, "8080"}, {"80abc", 80, "80"},
      {"abc", 0, ""},           {"0", 0, ""},              {"", 0, ""},
      {"-5", -5, "-5"},         {"+7", 7, "7"},            {"99999999999", INT32_MAX, "2147483647"},
      {"-99999999999", INT32_MIN, "-2147483648"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    std::string text = row.in;
    EXPECT_EQ(SettingsForm::NumberField(text), row.value);
    EXPECT_EQ(text, row.out);
  }
}

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
  EXPECT_EQ(form.maxMB, "2");  // the edit keeps what was typed, the limit in force is 4
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
    EXPECT_EQ(form.logDir, SettingsForm::CurrentDirectory());
    form.proxyHost = "proxy.local";
    form.proxyPort = "3128";
    form.maxMB = "2";
    form.port = "";
    form.logDir = "/tmp/logs ";
    form.autoLog = true;
    form.Apply(proxy, store);
    form.Save(settings, store);
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

}  // namespace
}  // namespace rw::app
