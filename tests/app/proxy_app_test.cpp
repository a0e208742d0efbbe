#include "app/proxy_app.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace rw::app {
namespace {

class RecordingReporter : public proxy::ListenerErrorSink, public capture::CaptureNotifier {
 public:
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void FatalError(const std::string& text) override { errors.push_back(text); }
  void ShowMessage(const std::string& text) override { errors.push_back(text); }
  void ShowClearedState() override {}
  std::vector<std::string> errors;
};

// A port that something else is listening on for the life of the object.
class BusyPort {
 public:
  BusyPort() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd, 1) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
  }
  ~BusyPort() { ::close(fd); }
  int fd = -1;
  uint16_t port = 0;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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
  EXPECT_EQ(reporter.errors[0].rfind("Error creating listen socket.\n\n", 0), 0u);
  EXPECT_EQ(app.Listener().BoundPort(), 0);
  // The settings were still saved: the user's choice is kept even though it failed this time.
  EXPECT_EQ(app.Settings().ReadSetting("HttpPort"), std::to_string(busy.port));
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

}  // namespace
}  // namespace rw::app
