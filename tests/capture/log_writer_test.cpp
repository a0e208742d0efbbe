#include "capture/log_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "capture/conversation_store.h"
#include "capture_test_support.h"
#include "tests/support/conversation_ids.h"

namespace rw::capture {
namespace {

using rw::testing::Ids;

using testing::FailNextAllocation;
using testing::FakeCaptureNotifier;
using testing::FileExists;
using testing::FileMode;
using testing::ReadFile;
using testing::TempDir;

std::shared_ptr<Conversation> Add(ConversationStore& store, int32_t id, const std::string& request,
                                  const std::string& response, bool complete = true) {
  auto c = std::make_shared<Conversation>(id, store);
  store.AddConversation(c);
  c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  if (complete) {
    c->MarkComplete();
  }
  return c;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().string().empty());
    store.SetNotifier(&notifier);
    store.SetLogDir(dir.path().string());
    store.SetAutoLog(true);
  }
  std::string Csv() const { return ReadFile(store.CsvLogName()); }
  std::string Text() const { return ReadFile(store.TextLogName()); }

  TempDir dir;
  FakeCaptureNotifier notifier;
  ConversationStore store;
};

TEST(LogFileNames, SlashAddedOnlyWhenMissing) {
  const LogFileNames plain = MakeLogFileNames("/var/log", "20261208_180000");
  const LogFileNames slashed = MakeLogFileNames("/var/log/", "20261208_180000");
  EXPECT_EQ(plain.text, "/var/log/rwlog_20261208_180000.txt");
  EXPECT_EQ(plain.csv, "/var/log/rwlog_20261208_180000.csv");
  EXPECT_EQ(slashed.text, plain.text);
  EXPECT_EQ(slashed.csv, plain.csv);
}

TEST(LogFileNames, StoreNamesFollowSetLogDir) {
  ConversationStore store;
  // Until SetLogDir the files go to the current directory, named like every later pair.
  const std::regex fresh(R"(.*/rwlog_\d{8}_\d{6}\.(txt|csv))");
  EXPECT_TRUE(std::regex_match(store.TextLogName(), fresh)) << store.TextLogName();
  EXPECT_TRUE(std::regex_match(store.CsvLogName(), fresh)) << store.CsvLogName();
  store.SetLogDir("/some/dir");
  const std::string text = store.TextLogName();
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(/some/dir/rwlog_\d{8}_\d{6}\.txt)"))) << text;
  EXPECT_EQ(store.CsvLogName(), text.substr(0, text.size() - 3) + "csv");
  store.SetLogDir("");
  EXPECT_EQ(store.TextLogName(), text);
  EXPECT_EQ(store.LogDir(), "/some/dir");
}

TEST_F(LogWriterTest, NothingDueOpensNothing) {
  Add(store, 2, "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  EXPECT_TRUE(store.WriteLogs(false));
  EXPECT_FALSE(FileExists(store.CsvLogName()));
  EXPECT_FALSE(FileExists(store.TextLogName()));
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{2}));
}

TEST_F(LogWriterTest, ForcedPassOverEmptyStoreCreatesEmptyPrivateFiles) {
  EXPECT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(Csv(), "");
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(FileMode(store.CsvLogName()), 0600);
  EXPECT_EQ(FileMode(store.TextLogName()), 0600);
}

TEST_F(LogWriterTest, ForcedPassWritesCompleteRecordsAndFreesThem) {
  testing::ManualTicks ticks;
  ticks.Set(1000);
  const std::string request = "GET /a\"b HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string response = "HTTP/1.1 200 OK\r\nX: \"q\"\r\n\r\nbody\n";
  auto c = std::make_shared<Conversation>(2, store);
  store.AddConversation(c);
  c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  ticks.Set(1007);
  c->MarkConnectStart();
  ticks.Set(1063);
  c->MarkConnected();
  const std::string binaryTail("\x01\x02", 2);
  c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  c->AddResponseData(binaryTail.data(), 2);
  ticks.Set(2234);
  c->MarkEnd();
  c->MarkComplete();
  auto open = Add(store, 3, "GET /open HTTP/1.1\r\n", "", false);

  ASSERT_TRUE(store.WriteLogs(true));

  const std::vector<std::string> lines = Lines(Csv());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0] + "\r\n", kCsvHeader);
  const std::string day = platform::FormatLocal(c->StartTime(), "%Y/%m/%d %H:%M:%S");
  EXPECT_EQ(lines[1], "\"" + day + "\",\"2\",\"" + std::to_string(request.size()) + "\",\"" +
                          std::to_string(response.size() + 2) +
                          "\",\"0.056\",\"1.171\",\"1.234\",\"GET /a\"\"b HTTP/1.1\","
                          "\"HTTP/1.1 200 OK\"");
  EXPECT_EQ(Csv().substr(Csv().size() - 2), "\r\n");
  // Captured bytes reach the file unchanged: CR LF stays CR LF, a bare LF stays bare.
  EXPECT_EQ(Text(), request + response + "\r\n(2 bytes not shown)\r\n");
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{3}));
  EXPECT_EQ(store.HeldBytes(), open->RequestDataSize());
  EXPECT_TRUE(store.AutoLog());
}

TEST_F(LogWriterTest, HeaderOnceWhenFileIsMissingOrEmpty) {
  auto open = Add(store, 2, "GET /open HTTP/1.1\r\n", "", false);
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(Csv(), kCsvHeader);  // only open records: just the header
  Add(store, 3, "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(Lines(Csv()).size(), 2u);

  // An existing but empty statistics file (left by an earlier pass over an empty store) still
  // gets its header.
  store.SetLogDir(dir.path().string() + "/");
  ASSERT_TRUE(store.WriteLogs(true));
  // (SetLogDir within the same second can give the same names; start from an empty pair.)
  ASSERT_EQ(::truncate(store.CsvLogName().c_str(), 0), 0);
  Add(store, 4, "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  ASSERT_TRUE(store.WriteLogs(true));
  const std::vector<std::string> lines = Lines(Csv());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0] + "\r\n", kCsvHeader);
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{2}));
}

TEST_F(LogWriterTest, AutomaticPassStopsAfterHalfTheLimit) {
  store.SetMaxMB(1);  // limit 1048576, half 524288
  for (int32_t id = 2; id < 22; ++id) {
    Add(store, id, std::string(30000, 'q'), std::string(30000, 'r'));
  }
  auto open = Add(store, 22, std::string(100, 'o'), "", false);
  ASSERT_EQ(store.HeldBytes(), 1200100);
  ASSERT_TRUE(store.WriteLogs(false));
  // Nine records make 540000 > 524288: the pass stops after the ninth.
  EXPECT_EQ(Lines(Csv()).size(), 1u + 9u);
  EXPECT_EQ(Ids(store).front(), 11);
  EXPECT_EQ(store.HeldBytes(), 1200100 - 540000);
  // Below the limit now: nothing further is due.
  ASSERT_TRUE(store.WriteLogs(false));
  EXPECT_EQ(Lines(Csv()).size(), 10u);
}

TEST_F(LogWriterTest, FailedOpenTurnsAutoLogOff) {
  store.SetLogDir(dir.path().string() + "/missing");
  Add(store, 2, "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  EXPECT_FALSE(store.WriteLogs(true));
  EXPECT_FALSE(store.AutoLog());
  EXPECT_EQ(notifier.Messages(),
            (std::vector<std::string>{"Could not open file: " + store.TextLogName()}));
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{2}));
}

// A full disk must not lose records: the pass reports failure, keeps every record, and a later
// pass writes each one exactly once.
TEST_F(LogWriterTest, WriteFailureKeepsRecords) {
  for (const bool csvIsFull : {true, false}) {
    SCOPED_TRACE(csvIsFull ? "statistics file full" : "full-text file full");
    TempDir runDir;
    store.SetLogDir(runDir.path().string());
    store.SetAutoLog(true);
    const std::string full = csvIsFull ? store.CsvLogName() : store.TextLogName();
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    for (int32_t id = 2; id < 6; ++id) {
      Add(store, id, "GET /" + std::to_string(id) + " HTTP/1.1\r\n", std::string(20000, 'r'));
    }
    const int64_t held = store.HeldBytes();

    EXPECT_FALSE(store.WriteLogs(true));
    EXPECT_FALSE(store.AutoLog());
    EXPECT_EQ(Ids(store), (std::vector<int32_t>{2, 3, 4, 5}));
    EXPECT_EQ(store.HeldBytes(), held);

    ASSERT_EQ(::unlink(full.c_str()), 0);
    ASSERT_TRUE(store.WriteLogs(true));
    EXPECT_TRUE(Ids(store).empty());
    EXPECT_EQ(store.HeldBytes(), 0);
    const std::vector<std::string> lines = Lines(Csv());
    ASSERT_EQ(lines.size(), 5u);
    for (int32_t id = 2; id < 6; ++id) {
      EXPECT_NE(lines[static_cast<size_t>(id) - 1].find(",\"" + std::to_string(id) + "\","),
                std::string::npos);
    }
    EXPECT_EQ(Text().size(), 4u * (17 + 20000));
  }
}

TEST_F(LogWriterTest, ExhaustedMemoryDuringPassKeepsRecords) {
  Add(store, 2, "GET / HTTP/1.1\r\n", std::string(50000, 'r'));
  {
    FailNextAllocation failure(40000);
    EXPECT_FALSE(store.WriteLogs(true));
    EXPECT_TRUE(failure.Fired());
  }
  EXPECT_FALSE(store.AutoLog());
  EXPECT_TRUE(notifier.FatalErrors().empty());
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{2}));
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(Text(), "GET / HTTP/1.1\r\n" + std::string(50000, 'r'));
}

}  // namespace
}  // namespace rw::capture
