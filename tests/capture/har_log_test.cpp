#include "capture/har_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "capture/conversation_store.h"
#include "capture_test_support.h"

namespace rw::capture {
namespace {

using Json = nlohmann::json;
using testing::FakeCaptureNotifier;
using testing::ReadFile;
using testing::TempDir;

class HarLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.SetNotifier(&notifier);
    store.SetLogDir(dir.path().string());
    store.SetLogPassSink(&har);
  }
  void TearDown() override { store.SetLogPassSink(nullptr); }

  std::shared_ptr<Conversation> Add(const std::string& path, bool complete = true) {
    auto c = std::make_shared<Conversation>(nextId++, store);
    store.AddConversation(c);
    const std::string request = "GET http://a.test" + path + " HTTP/1.1\r\n\r\n";
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n" + path;
    c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
    if (complete) {
      c->MarkComplete();
    }
    return c;
  }

  std::vector<std::string> Urls() {
    std::vector<std::string> urls;
    const Json document = Json::parse(ReadFile(harPath));
    for (const Json& entry : document["log"]["entries"]) {
      urls.push_back(entry["request"]["url"]);
    }
    return urls;
  }

  TempDir dir;
  std::string harPath = dir.path().string() + "/capture.har";
  FakeCaptureNotifier notifier;
  ConversationStore store;
  HarLog har{harPath, HarCreator{"Relaywatch", "1.0"}};
  int32_t nextId = 2;
};

TEST_F(HarLogTest, GrowsWithEveryPassAfterTheRecordsAreFreed) {
  ASSERT_TRUE(har.Write());
  EXPECT_TRUE(Urls().empty());

  Add("/1");
  Add("/2");
  Add("/open", false);
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.test/1", "http://a.test/2"}));
  EXPECT_EQ(store.Snapshot().size(), 1u);  // the passes freed what they wrote

  Add("/3");
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(Urls(),
            (std::vector<std::string>{"http://a.test/1", "http://a.test/2", "http://a.test/3"}));
  EXPECT_EQ(har.EntriesWritten(), 3);
  EXPECT_EQ(testing::FileMode(harPath), 0600);
  // Only the document itself is left in the directory: no temporary file stays behind.
  for (const auto& item : std::filesystem::directory_iterator(dir.path().string())) {
    EXPECT_NE(item.path().filename().string().rfind(".capture.har", 0), 0u) << item.path();
  }
}

TEST_F(HarLogTest, EntriesOfAFailedWriteGoInWithTheNextOne) {
  const std::string subdir = dir.path().string() + "/later";
  HarLog later(subdir + "/capture.har", HarCreator{});
  store.SetLogPassSink(&later);
  Add("/1");
  ASSERT_TRUE(store.WriteLogs(true));  // the log files are fine; the HAR directory is missing
  EXPECT_FALSE(later.LastWriteOk());
  EXPECT_NE(later.LastError().find("No such file or directory"), std::string::npos)
      << later.LastError();

  ASSERT_EQ(::mkdir(subdir.c_str(), 0700), 0);
  Add("/2");
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_TRUE(later.LastWriteOk());
  const Json document = Json::parse(ReadFile(subdir + "/capture.har"));
  ASSERT_EQ(document["log"]["entries"].size(), 2u);
  EXPECT_EQ(document["log"]["entries"][0]["request"]["url"], "http://a.test/1");
}

TEST_F(HarLogTest, AFailedLogPassAddsNothingUntilItIsWritten) {
  Add("/1");
  store.SetLogDir(dir.path().string() + "/missing");
  EXPECT_FALSE(store.WriteLogs(true));
  store.SetLogDir(dir.path().string());
  Add("/2");
  ASSERT_TRUE(store.WriteLogs(true));
  // Written once each, in order, although the first pass took /1 in before it failed.
  EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.test/1", "http://a.test/2"}));
}

TEST_F(HarLogTest, UnloggedConversationsAtAStop) {
  Add("/logged");
  ASSERT_TRUE(store.WriteLogs(true));
  Add("/in-memory");
  ASSERT_TRUE(har.Write(store.Snapshot()));
  EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.test/logged", "http://a.test/in-memory"}));
}

}  // namespace
}  // namespace rw::capture
