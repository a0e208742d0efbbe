#include "app/proxy_app.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/busy_port.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace rw::app {
namespace {

using rw::testing::ReadFile;

class RecordingReporter : public proxy::ListenerErrorSink, public capture::CaptureNotifier {
 public:
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void ListenFailed(int port, int errorNumber) override {
    failedPort = port;
    failedErrno = errorNumber;
  }
  int failedPort = 0;
  int failedErrno = 0;
  void FatalError(const std::string& text) override { errors.push_back(text); }
  void ShowMessage(const std::string& text) override { errors.push_back(text); }
  void ShowClearedState() override {}
  void UpkeepDue() override {}
  std::vector<std::string> errors;
};

using testing::BusyPort;

TEST(ProxyApp, BusyPortIsReportedAndNothingListens) {
  testing::TempDir dir;
  RecordingReporter reporter;
  ProxyApp app(SettingsStore(platform::SettingsBacking(dir.path() / "key")), reporter, reporter);
  app.LoadSettings();
  BusyPort busy;
  ASSERT_NE(busy.port, 0);
  app.Form().port = std::to_string(busy.port);
  EXPECT_FALSE(app.ApplySettings(app.Form(), {.save = true, .listen = true}));
  ASSERT_EQ(reporter.errors.size(), 1u);
  EXPECT_EQ(reporter.errors[0], "Error creating listen socket.\n\nAddress already in use (port " +
                                    std::to_string(busy.port) + ")");
  EXPECT_EQ(app.Listener().BoundPort(), 0);
  // The system's reason reaches the reporter too, for the line that names it.
  EXPECT_EQ(reporter.failedPort, busy.port);
  EXPECT_EQ(reporter.failedErrno, EADDRINUSE);
  // The settings were still saved: the user's choice is kept even though it failed this time.
  EXPECT_EQ(app.Settings().ReadSetting("HttpPort"), std::to_string(busy.port));
}

// Whatever made the start fail, the listening label must not claim an address; a start that
// works shows it again.
TEST(ProxyApp, TheListeningLabelReadsNoneWhileNothingListens) {
  testing::TempDir dir;
  RecordingReporter reporter;
  ProxyApp app(SettingsStore(platform::SettingsBacking(dir.path() / "key")), reporter, reporter);
  app.LoadSettings();
  BusyPort busy;
  ASSERT_NE(busy.port, 0);
  const struct {
    std::string port;
    std::string reason;
  } rows[] = {{std::to_string(busy.port), "Address already in use"},
              {"0", "No port is set"},
              {"99999", "The port 99999 is not between 1 and 65535."},
              {"abc", "No port is set"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.port);
    reporter.errors.clear();
    app.Form().port = row.port;
    EXPECT_FALSE(app.ApplySettings(app.Form(), {.save = false, .listen = true}));
    EXPECT_EQ(app.Form().listeningLabel, "None");
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_NE(reporter.errors[0].find(row.reason), std::string::npos) << reporter.errors[0];
  }
  BusyPort freed;  // a port that was free a moment ago
  const std::string port = std::to_string(freed.port);
  ::close(freed.fd);
  freed.fd = -1;
  app.Form().port = port;
  if (app.ApplySettings(app.Form(), {.save = false, .listen = true})) {
    EXPECT_EQ(app.Form().listeningLabel, "127.0.0.1:" + port);
  }
}

// An upstream proxy that is the listening address would send every request back to this program:
// Apply refuses it with a message, and neither the engine nor the saved settings use it.
TEST(ProxyApp, ApplyRefusesAnUpstreamProxyThatIsItsOwnAddress) {
  testing::TempDir dir;
  RecordingReporter reporter;
  ProxyApp app(SettingsStore(platform::SettingsBacking(dir.path() / "key")), reporter, reporter);
  app.LoadSettings();
  BusyPort busy;  // the listener need not succeed for the check
  ASSERT_NE(busy.port, 0);
  app.Form().port = std::to_string(busy.port);
  app.Form().proxyHost = " localhost ";
  app.Form().proxyPort = std::to_string(busy.port);
  app.ApplySettings(app.Form(), {.save = true, .listen = true});
  ASSERT_FALSE(reporter.errors.empty());
  EXPECT_EQ(reporter.errors[0].rfind("The upstream proxy localhost:" + std::to_string(busy.port) +
                                         " is this program's own address",
                                     0),
            0u);
  EXPECT_FALSE(app.Engine().Upstream()->use);
  EXPECT_EQ(app.Form().proxyHost, "");
  EXPECT_EQ(app.Form().proxyLabel, "");
  EXPECT_EQ(app.Settings().ReadSetting("HttpProxyAddress"), "");
}

TEST(ProxyApp, ShutdownWritesTheLogsWhenAutoLogging) {
  testing::TempDir dir;
  RecordingReporter reporter;
  ProxyApp app(SettingsStore(platform::SettingsBacking(dir.path() / "key")), reporter, reporter);
  app.LoadSettings();
  app.Form().autoLog = true;
  app.Form().logDir = (dir.path() / "logs").string();
  std::filesystem::create_directory(dir.path() / "logs");
  ASSERT_TRUE(app.ApplySettings(app.Form(), {.save = false, .listen = false}));

  auto done = std::make_shared<capture::Conversation>(7, app.Store());
  app.Store().AddConversation(done);
  const std::string request = "GET http://example.test/ HTTP/1.1\r\n\r\n";
  done->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  done->MarkEnd();
  done->MarkComplete();
  const std::string csv = app.Store().CsvLogName();

  // Upkeep below the limit writes nothing yet.
  app.Upkeep();
  EXPECT_FALSE(std::filesystem::exists(csv));

  EXPECT_TRUE(app.Shutdown(std::chrono::seconds(1)));
  EXPECT_NE(ReadFile(csv).find("\"GET http://example.test/ HTTP/1.1\""), std::string::npos);
  EXPECT_TRUE(reporter.errors.empty());
}

std::shared_ptr<capture::Conversation> AddExchange(capture::ConversationStore& store, int32_t id,
                                                   const std::string& url) {
  auto c = std::make_shared<capture::Conversation>(id, store);
  store.AddConversation(c);
  const std::string request = "GET " + url + " HTTP/1.1\r\n\r\n";
  const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nok";
  c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  c->MarkEnd();
  c->MarkComplete();
  return c;
}

class ProxyAppLogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.LoadSettings();
    std::filesystem::create_directory(logs);
    app.Form().logDir = logs.string();
  }
  testing::TempDir dir;
  std::filesystem::path logs = dir.path() / "logs";
  RecordingReporter reporter;
  ProxyApp app{SettingsStore(platform::SettingsBacking(dir.path() / "key")), reporter, reporter};
};

// A shutdown pass that cannot write must not pass for one that did: the caller learns that it
// failed and how much was not saved.
TEST_F(ProxyAppLogsTest, AFailedFinalLogPassIsReported) {
  app.Form().autoLog = true;
  ASSERT_TRUE(app.ApplySettings(app.Form(), {.save = false, .listen = false}));
  AddExchange(app.Store(), 2, "http://a.test/1");
  AddExchange(app.Store(), 3, "http://a.test/2");
  std::filesystem::remove_all(logs);
  app.Shutdown(std::chrono::seconds(1));
  EXPECT_TRUE(app.LastFinalLogPass().ran);
  EXPECT_FALSE(app.LastFinalLogPass().written);
  EXPECT_EQ(app.LastFinalLogPass().unsaved, 2);
}

TEST_F(ProxyAppLogsTest, LogNowCountsWhatItWrote) {
  ASSERT_TRUE(app.ApplySettings(app.Form(), {.save = false, .listen = false}));
  AddExchange(app.Store(), 2, "http://a.test/1");
  AddExchange(app.Store(), 3, "http://a.test/2");
  const ProxyApp::LogNowResult first = app.LogNow();
  EXPECT_TRUE(first.written);
  EXPECT_EQ(first.exchanges, 2);
  EXPECT_TRUE(app.Store().Snapshot().empty());
  EXPECT_EQ(app.LogNow().exchanges, 0);
  // Auto-logging off: Shutdown runs no pass of its own.
  app.Shutdown(std::chrono::seconds(1));
  EXPECT_FALSE(app.LastFinalLogPass().ran);
  EXPECT_TRUE(app.LastFinalLogPass().written);
}

TEST_F(ProxyAppLogsTest, HarFileHoldsLoggedAndUnloggedExchangesAtShutdown) {
  ASSERT_TRUE(app.ApplySettings(app.Form(), {.save = false, .listen = false}));
  const std::string har = (dir.path() / "capture.har").string();
  ASSERT_TRUE(app.SetHarFile(har, capture::HarCreator{"Relaywatch", "1"}));
  EXPECT_NE(ReadFile(har).find("\"entries\": ["), std::string::npos);
  AddExchange(app.Store(), 2, "http://a.test/logged");
  ASSERT_TRUE(app.LogNow().written);
  AddExchange(app.Store(), 3, "http://a.test/in-memory");
  app.Shutdown(std::chrono::seconds(1));
  const std::string text = ReadFile(har);
  EXPECT_NE(text.find("http://a.test/logged"), std::string::npos);
  EXPECT_NE(text.find("http://a.test/in-memory"), std::string::npos);
  EXPECT_EQ(app.HarFile()->EntriesWritten(), 2);

  EXPECT_FALSE(app.SetHarFile((dir.path() / "no/such.har").string(), {}));
  EXPECT_NE(app.HarFile()->LastError().find("No such file or directory"), std::string::npos);
}

}  // namespace
}  // namespace rw::app
