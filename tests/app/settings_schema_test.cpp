#include "app/settings_schema.h"

#include <gtest/gtest.h>

#include <climits>

namespace rw::app {
namespace {

TEST(SettingsSchema, NumberFieldNormalisesTheText) {
  struct Row {
    const char* in;
    int32_t value;
    const char* out;
  };
  const Row rows[] = {
      {"8010", 8010, "8010"},
      {"  8080  ", 8080, "8080"},
      {"80abc", 80, "80"},
      {"abc", 0, ""},
      {"0", 0, ""},
      {"", 0, ""},
      {"-5", -5, "-5"},
      {"+7", 7, "7"},
      {"99999999999", INT32_MAX, "2147483647"},
      {"-99999999999", INT32_MIN, "-2147483648"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    std::string text = row.in;
    EXPECT_EQ(NumberField(text), row.value);
    EXPECT_EQ(text, row.out);
  }
}

TEST(SettingsSchema, LimitInForceHasADefaultAndAFloor) {
  struct Row {
    int32_t typed;
    int32_t inForce;
  };
  const Row rows[] = {{0, 8}, {1, 4}, {3, 4}, {4, 4}, {5, 5}, {-7, 4}, {INT32_MIN, 4}, {512, 512}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    EXPECT_EQ(LimitInForce(row.typed), row.inForce);
  }
}

TEST(SettingsSchema, EngineStartsWithTheDefaultListeningAddressAndNoProxy) {
  const proxy::ProxySettings settings = DefaultProxySettings();
  EXPECT_EQ(settings.listenAddress, "127.0.0.1");
  EXPECT_EQ(settings.listenPort, 8010);
  EXPECT_EQ(settings.proxyAddress, "");
  EXPECT_EQ(settings.proxyPort, 0);
}

TEST(SettingsSchema, InspectionValuesAreSettingsOffTheSettingsPage) {
  struct Row {
    const char* name;
    SettingRule rule;
  };
  const Row rows[] = {{"InspectHttps", SettingRule::kFlag},
                      {"UpstreamCaFile", SettingRule::kText},
                      {"NoInspectHosts", SettingRule::kText}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Setting* found = FindSetting(row.name);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->rule, row.rule);
    EXPECT_FALSE(found->readGivesDefault);
    // The page's Apply and Save write its seven values only; these stay as the user stored them.
    for (const Setting* page : setting::kPageSettings) {
      EXPECT_NE(page, found);
    }
  }
  EXPECT_EQ(setting::kInspectHttps.defaultText, "0");
}

}  // namespace
}  // namespace rw::app
