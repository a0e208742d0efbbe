#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/settings_form.h"

namespace rw::app {
namespace {

using Result = CommandLine::ParseResult;

TEST(CommandLine, OverridesReachTheFormOnly) {
  CommandLine options;
  ASSERT_EQ(options.Parse({"--headless", "--port", "9001", "--proxy=up.example:3128", "--log-dir",
                           "/tmp/l", "--max-mb", "64", "--auto-log"}),
            Result::kRun);
  EXPECT_TRUE(options.headless);
  SettingsForm form;
  form.RestoreDefaults();
  options.ApplyOverrides(form);
  EXPECT_EQ(form.port, "9001");
  EXPECT_EQ(form.proxyHost, "up.example");
  EXPECT_EQ(form.proxyPort, "3128");
  EXPECT_EQ(form.logDir, "/tmp/l");
  EXPECT_EQ(form.maxMB, "64");
  EXPECT_TRUE(form.autoLog);

  // Output choices are not settings: they leave the form alone and are never saved.
  CommandLine output;
  ASSERT_EQ(output.Parse({"--headless", "-q", "--har", "out.har"}), Result::kRun);
  EXPECT_TRUE(output.quiet);
  EXPECT_EQ(output.harFile, "out.har");
  EXPECT_FALSE(output.HasOverrides());
  // ... but the window would ignore them, so they still need --headless.
  EXPECT_TRUE(output.HasHeadlessOnlyOptions());
}

TEST(CommandLine, RejectsWhatWouldSilentlyMisbehave) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port"},
      {"--port", "0"},
      {"--port", "65536"},
      {"--port", "80x"},
      {"--proxy", "host"},
      {"--proxy", ":80"},
      {"--proxy", "h:0"},
      {"--max-mb", "-1"},
      {"--log-dir", ""},
      {"--auto-log=yes"},
      {"--frobnicate"},
      {"--har"},
      {"--har", ""},
      {"--quiet=1"},
      {"--inspect-https=1"},
      {"--upstream-ca"},
      {"--upstream-ca", ""},
      {"--no-inspect"},
      {"--no-inspect", "*"},
      {"--no-inspect", "ok.example,a*.example"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    CommandLine options;
    EXPECT_EQ(options.Parse(args), Result::kError);
    EXPECT_FALSE(options.error.empty());
  }
  CommandLine help;
  EXPECT_EQ(help.Parse({"--headless", "--help"}), Result::kHelp);
  CommandLine version;
  EXPECT_EQ(version.Parse({"--version"}), Result::kVersion);
}

TEST(CommandLine, InspectionOptionsAreForTheHeadlessRunOnly) {
  CommandLine options;
  ASSERT_EQ(options.Parse({"--headless", "--inspect-https", "--upstream-ca", "/tmp/ca.pem",
                           "--no-inspect=pinned.example,*.bank.example"}),
            Result::kRun)
      << options.error;
  EXPECT_TRUE(options.inspectHttps);
  EXPECT_EQ(options.upstreamCaFile, "/tmp/ca.pem");
  EXPECT_EQ(options.noInspectHosts, "pinned.example,*.bank.example");
  // Not settings-page overrides: the form is untouched and nothing is saved.
  EXPECT_FALSE(options.HasOverrides());

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--inspect-https"},
        std::vector<std::string>{"--upstream-ca", "ca.pem"},
        std::vector<std::string>{"--no-inspect", "a.example"}}) {
    SCOPED_TRACE(args[0]);
    CommandLine one;
    ASSERT_EQ(one.Parse(args), Result::kRun);
    EXPECT_TRUE(one.HasHeadlessOnlyOptions());
  }
  const std::string usage = CommandLine::Usage("relaywatch");
  for (const char* option : {"--inspect-https", "--upstream-ca FILE", "--no-inspect HOST"}) {
    SCOPED_TRACE(option);
    EXPECT_NE(usage.find(option), std::string::npos);
  }
}

// The window has its own Open Browser button; the option is the headless run's.
TEST(CommandLine, OpenBrowserIsAFlagOfTheHeadlessRun) {
  CommandLine options;
  ASSERT_EQ(options.Parse({"--headless", "--open-browser"}), Result::kRun) << options.error;
  EXPECT_TRUE(options.openBrowser);
  CommandLine windowed;
  ASSERT_EQ(windowed.Parse({"--open-browser"}), Result::kRun);
  EXPECT_TRUE(windowed.HasHeadlessOnlyOptions());
  CommandLine withValue;
  EXPECT_EQ(withValue.Parse({"--headless", "--open-browser=firefox"}), Result::kError);
  EXPECT_NE(CommandLine::Usage("relaywatch").find("  --open-browser "), std::string::npos);
}

}  // namespace
}  // namespace rw::app
