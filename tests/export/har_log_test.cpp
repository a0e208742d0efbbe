#include "export/har_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "capture/conversation_store.h"
#include "tests/capture/capture_test_support.h"

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

struct stat Stat(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info;
}

// A pass writes its own entries into the file it left and touches nothing before them: a byte
// changed in an earlier entry (size and time put back) stays as it is.
TEST_F(HarLogTest, APassWritesOnlyItsNewEntries) {
  Add("/1");
  ASSERT_TRUE(store.WriteLogs(true));
  const struct stat first = Stat(harPath);
  std::string text = ReadFile(harPath);
  const size_t at = text.find("a.test/1");
  ASSERT_NE(at, std::string::npos);
  {
    std::fstream file(harPath, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at));
    file.put('A');
  }
  const timespec times[2] = {first.st_atim, first.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, harPath.c_str(), times, 0), 0);

  Add("/2");
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(Stat(harPath).st_ino, first.st_ino);
  EXPECT_EQ(Urls(), (std::vector<std::string>{"http://A.test/1", "http://a.test/2"}));
  EXPECT_EQ(har.EntriesWritten(), 2);
  EXPECT_EQ(testing::FileMode(harPath), 0600);
}

// Whatever happened to the file between passes, the next pass leaves valid JSON at the path, with
// the entries not yet written, and says once that it started anew; what was moved away is left
// as it was.
TEST_F(HarLogTest, AFileChangedBehindItsBackIsStartedAnew) {
  const std::string moved = dir.path().string() + "/moved.har";
  const struct {
    const char* name;
    void (*change)(const std::string& path, const std::string& moved);
  } rows[] = {
      {"moved away",
       [](const std::string& path, const std::string& away) {
         ASSERT_EQ(::rename(path.c_str(), away.c_str()), 0);
       }},
      {"removed", [](const std::string& path, const std::string&) { ::unlink(path.c_str()); }},
      {"rewritten longer",
       [](const std::string& path, const std::string&) {
         std::ofstream(path, std::ios::app) << "\n{\"someone\": \"else\"}\n";
       }},
      {"rewritten shorter",
       [](const std::string& path, const std::string&) {
         std::ofstream(path, std::ios::trunc) << "{}";
       }},
      {"replaced by a link",
       [](const std::string& path, const std::string& away) {
         ASSERT_EQ(::rename(path.c_str(), away.c_str()), 0);
         ASSERT_EQ(::symlink(away.c_str(), path.c_str()), 0);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ::unlink(harPath.c_str());
    ::unlink(moved.c_str());
    HarLog log(harPath, HarCreator{});
    store.SetLogPassSink(&log);
    Add("/before");
    ASSERT_TRUE(store.WriteLogs(true));
    const std::string before = ReadFile(harPath);
    row.change(harPath, moved);

    Add("/after");
    ASSERT_TRUE(store.WriteLogs(true));
    EXPECT_TRUE(log.LastWriteOk()) << log.LastError();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.test/after"}));
    EXPECT_EQ(log.EntriesWritten(), 1);
    EXPECT_NE(log.TakeNotice().find("a new HAR file was started"), std::string::npos);
    EXPECT_EQ(log.TakeNotice(), "");
    struct stat link {};
    ASSERT_EQ(::lstat(harPath.c_str(), &link), 0);
    EXPECT_TRUE(S_ISREG(link.st_mode));
    if (testing::FileExists(moved)) {
      EXPECT_EQ(ReadFile(moved), before);
    }

    Add("/later");
    ASSERT_TRUE(store.WriteLogs(true));
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.test/after", "http://a.test/later"}));
    EXPECT_EQ(log.TakeNotice(), "");
    store.SetLogPassSink(&har);
  }
}

// A write that fails part-way leaves the file as it was, valid; the entries go in with the next.
TEST_F(HarLogTest, AWriteThatFailsLeavesTheFileWhole) {
  Add("/1");
  ASSERT_TRUE(store.WriteLogs(true));
  const std::string before = ReadFile(harPath);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const sighandler_t savedHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved;
  limit.rlim_cur = before.size() + 100;  // room for the end, not for an entry
  ::setrlimit(RLIMIT_FSIZE, &limit);
  Add("/2");
  EXPECT_TRUE(store.WriteLogs(true));  // the log files stay within the limit
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, savedHandler);
  EXPECT_FALSE(har.LastWriteOk());
  EXPECT_NE(har.LastError().find("File too large"), std::string::npos) << har.LastError();
  EXPECT_EQ(ReadFile(harPath), before);

  Add("/3");
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_TRUE(har.LastWriteOk());
  EXPECT_EQ(Urls(),
            (std::vector<std::string>{"http://a.test/1", "http://a.test/2", "http://a.test/3"}));
  EXPECT_EQ(har.TakeNotice(), "");
}

// Entries waiting for a write that keeps failing are kept up to a bound; the rest are counted.
TEST_F(HarLogTest, EntriesWaitingForAFailingWriteAreBounded) {
  const std::string subdir = dir.path().string() + "/later";
  const size_t entrySize = HarEntryText(Add("/0")->CopyRecord())->size();
  HarLog later(subdir + "/capture.har", HarCreator{}, 3 * entrySize + 50);
  store.SetLogPassSink(&later);
  for (int i = 1; i <= 5; ++i) {
    Add("/" + std::to_string(i));
    ASSERT_TRUE(store.WriteLogs(true));
    EXPECT_FALSE(later.LastWriteOk());
  }
  EXPECT_EQ(later.EntriesDropped(), 3);  // /0 and /1 to /5: three kept

  ASSERT_EQ(::mkdir(subdir.c_str(), 0700), 0);
  ASSERT_TRUE(later.Write());
  const Json document = Json::parse(ReadFile(subdir + "/capture.har"));
  ASSERT_EQ(document["log"]["entries"].size(), 3u);
  EXPECT_EQ(document["log"]["entries"][0]["request"]["url"], "http://a.test/0");
  EXPECT_EQ(later.EntriesDropped(), 3);
}

}  // namespace
}  // namespace rw::capture
