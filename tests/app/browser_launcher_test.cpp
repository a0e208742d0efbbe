#include "app/browser_launcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/child_process.h"
#include "tests/support/stand_in_browser.h"

namespace rw::app {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::StandInBrowser;

std::string ProfileOf(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg.rfind("--user-data-dir=", 0) == 0) {
      return arg.substr(16);
    }
  }
  auto it = std::find(args.begin(), args.end(), "-profile");
  return it != args.end() && it + 1 != args.end() ? *(it + 1) : std::string();
}

bool Contains(const std::vector<std::string>& args, const std::string& arg) {
  return std::find(args.begin(), args.end(), arg) != args.end();
}

void ExpectProfileRemoved(const BrowserLaunchResult& result, const std::string& profile) {
  ASSERT_TRUE(result.profileRemoved.valid());
  ASSERT_EQ(result.profileRemoved.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_FALSE(std::filesystem::exists(profile)) << profile;
}

TEST(BrowserLauncher, ChromiumGetsProxyProfileAndCaOnlyWhenInspecting) {
  struct Case {
    const char* name;
    std::string spki;
  };
  for (const Case& c :
       {Case{"inspection off", ""}, Case{"inspection on", "q83vEjRWeJq83vEjRWeJq8="}}) {
    SCOPED_TRACE(c.name);
    StandInBrowser browser;
    browser.Install("chromium", StandInBrowser::Behaviour::kRuns);
    BrowserLaunchRequest request;
    request.proxyPort = 8123;
    request.caSpkiSha256 = c.spki;
    const BrowserLaunchResult result = BrowserLauncher().Launch(request);
    ASSERT_TRUE(result.ok) << result.message;
    const std::vector<std::string> args = browser.Arguments();
    EXPECT_TRUE(Contains(args, "--proxy-server=http://127.0.0.1:8123"));
    EXPECT_TRUE(Contains(args, "--proxy-bypass-list=<-loopback>"));
    EXPECT_TRUE(Contains(args, "--no-first-run"));
    EXPECT_TRUE(Contains(args, "--no-default-browser-check"));
    EXPECT_EQ(Contains(args, "--no-sandbox"), ::geteuid() == 0);
    const bool hasSpki = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
      return arg.rfind("--ignore-certificate-errors-spki-list", 0) == 0;
    });
    EXPECT_EQ(hasSpki, !c.spki.empty());
    if (!c.spki.empty()) {
      EXPECT_TRUE(Contains(args, "--ignore-certificate-errors-spki-list=" + c.spki));
    }
    const std::string profile = ProfileOf(args);
    ASSERT_FALSE(profile.empty());
    EXPECT_EQ(browser.ProfileMode(), "700");
    EXPECT_THAT(result.command, HasSubstr("'--proxy-bypass-list=<-loopback>'"));
    EXPECT_THAT(result.command, HasSubstr((browser.Bin() / "chromium").string()));
    EXPECT_TRUE(std::filesystem::exists(profile)) << "removed while the browser runs";
    browser.Stop();
    ExpectProfileRemoved(result, profile);
  }
}

TEST(BrowserLauncher, FirefoxProfileCarriesTheProxyPreferences) {
  StandInBrowser browser;
  browser.Install("firefox", StandInBrowser::Behaviour::kRuns);
  BrowserLaunchRequest request;
  request.proxyPort = 8124;
  request.caSpkiSha256 = "q83vEjRWeJq83vEjRWeJq8=";
  request.caCertificatePath = "/nowhere/relaywatch-ca.pem";
  const BrowserLaunchResult result = BrowserLauncher().Launch(request);
  ASSERT_TRUE(result.ok) << result.message;
  const std::vector<std::string> args = browser.Arguments();
  EXPECT_TRUE(Contains(args, "-no-remote"));
  const std::string prefs = browser.FirefoxPreferences();
  for (const char* pref : {"user_pref(\"network.proxy.type\", 1);",
                           "user_pref(\"network.proxy.http\", \"127.0.0.1\");",
                           "user_pref(\"network.proxy.http_port\", 8124);",
                           "user_pref(\"network.proxy.ssl\", \"127.0.0.1\");",
                           "user_pref(\"network.proxy.ssl_port\", 8124);",
                           "user_pref(\"network.proxy.allow_hijacking_localhost\", true);"}) {
    EXPECT_THAT(prefs, HasSubstr(pref));
  }
  // No certutil on the stand-in PATH: the message says the CA must be imported by hand.
  EXPECT_THAT(result.message, HasSubstr("/nowhere/relaywatch-ca.pem"));
  EXPECT_EQ(browser.ProfileMode(), "700");
  browser.Stop();
  ExpectProfileRemoved(result, ProfileOf(args));
}

// With certutil installed, the CA goes into the temporary profile's own certificate database.
TEST(BrowserLauncher, FirefoxProfileTrustsTheCaThroughCertutil) {
  StandInBrowser browser;
  browser.Install("firefox", StandInBrowser::Behaviour::kRuns);
  const std::filesystem::path calls = browser.Bin().parent_path() / "certutil-calls";
  {
    std::ofstream script(browser.Bin() / "certutil");
    script << "#!/bin/sh\necho \"$*\" >> '" << calls.string() << "'\n";
  }
  std::filesystem::permissions(browser.Bin() / "certutil", std::filesystem::perms::owner_all);
  BrowserLaunchRequest request{8125, "q83vEjRWeJq83vEjRWeJq8=", "/ca dir/relaywatch-ca.pem"};
  const BrowserLaunchResult result = BrowserLauncher().Launch(request);
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_THAT(result.message, HasSubstr("trusting the Relaywatch CA"));
  const std::string profile = ProfileOf(browser.Arguments());
  EXPECT_EQ(testing::ReadFile(calls),
            "-N -d sql:" + profile + " --empty-password\n-A -d sql:" + profile +
                " -n Relaywatch CA -t C,, -i /ca dir/relaywatch-ca.pem\n");
  browser.Stop();
  ExpectProfileRemoved(result, profile);
}

TEST(BrowserLauncher, NoBrowserNamesTheOnesLookedFor) {
  StandInBrowser browser;  // an empty PATH folder
  const BrowserLaunchResult result = BrowserLauncher().Launch(BrowserLaunchRequest{8010, "", ""});
  EXPECT_FALSE(result.ok);
  for (const char* name : {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable",
                           "firefox", "firefox-esr"}) {
    EXPECT_THAT(result.message, HasSubstr(name));
  }
}

TEST(BrowserLauncher, BrowserExitingAtOnceReportsWhatItSaid) {
  StandInBrowser browser;
  browser.Install("google-chrome", StandInBrowser::Behaviour::kFails);
  const BrowserLaunchResult result = BrowserLauncher().Launch(BrowserLaunchRequest{8010, "", ""});
  EXPECT_FALSE(result.ok);
  EXPECT_THAT(result.message, HasSubstr("Google Chrome"));
  EXPECT_THAT(result.message, HasSubstr("exited with status 1"));
  EXPECT_THAT(result.message, HasSubstr("Running as root without --no-sandbox is not supported."));
  const std::string profile = ProfileOf(browser.Arguments());
  ASSERT_FALSE(profile.empty());
  EXPECT_FALSE(std::filesystem::exists(profile));
}

// A profile left by a browser that outlived the run which started it goes at the next launch once
// that browser has exited; anything else under the launcher's prefix stays.
TEST(BrowserLauncher, NextLaunchRemovesProfilesOfBrowsersThatHaveExited) {
  testing::TempDir tmp;
  const bool hadTmp = ::getenv("TMPDIR") != nullptr;
  const std::string saved = hadTmp ? ::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", tmp.path().c_str(), 1);
  platform::ChildProcess ended = platform::ChildProcess::Start({"/bin/true"});
  ASSERT_TRUE(ended.WaitForExit(std::chrono::seconds(20)));
  const std::string endedPid = std::to_string(ended.Pid());
  const struct {
    const char* name;
    std::string pid;  // empty: no process id file
    bool link;        // the prefixed name is a link to the folder
    bool removed;
  } rows[] = {{"ended", endedPid, false, true},
              {"running", std::to_string(::getpid()), false, false},
              {"setting-up", "", false, false},
              {"link", endedPid, true, false}};
  for (const auto& row : rows) {
    const std::filesystem::path named =
        tmp.path() / ("relaywatch-browser." + std::string(row.name));
    const std::filesystem::path folder = row.link ? tmp.path() / row.name : named;
    std::filesystem::create_directory(folder);
    if (!row.pid.empty()) {
      std::ofstream(folder / "relaywatch-browser.pid") << row.pid;
    }
    if (row.link) {
      std::filesystem::create_directory_symlink(folder, named);
    }
  }
  StandInBrowser browser;
  browser.Install("chromium", StandInBrowser::Behaviour::kRuns);
  const BrowserLaunchResult result = BrowserLauncher().Launch(BrowserLaunchRequest{8010, "", ""});
  hadTmp ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
  ASSERT_TRUE(result.ok) << result.message;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(
        !std::filesystem::exists(tmp.path() / ("relaywatch-browser." + std::string(row.name))),
        row.removed);
  }
  EXPECT_TRUE(std::filesystem::exists(tmp.path() / "link" / "relaywatch-browser.pid"));
  browser.Stop();
  ExpectProfileRemoved(result, ProfileOf(browser.Arguments()));
}

TEST(BrowserLauncher, ShellWordQuotesWhatAShellWouldRead) {
  struct Case {
    std::string word;
    std::string expected;
  } cases[] = {{"--no-first-run", "--no-first-run"},
               {"<-loopback>", "'<-loopback>'"},
               {"it's", "'it'\\''s'"},
               {"", "''"},
               {"a b;rm", "'a b;rm'"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(ShellWord(c.word), c.expected);
  }
}

}  // namespace
}  // namespace rw::app
