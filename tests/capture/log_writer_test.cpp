#include "capture/log_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
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

TEST(QuoteCsvField, FormulaStartsAreMarkedAsText) {
  struct Row {
    std::string_view field;
    std::string_view quoted;
  };
  const Row rows[] = {
      {"=HYPERLINK(\"http://x.test\",\"y\")", "\"'=HYPERLINK(\"\"http://x.test\"\",\"\"y\"\")\""},
      {"+SUM(A1)", "\"'+SUM(A1)\""},
      {"-2+3", "\"'-2+3\""},
      {"@cmd", "\"'@cmd\""},
      {"\tx", "\"'\tx\""},
      {"\rx", "\"'\rx\""},
      // Everything else stays as it was.
      {"GET http://a.test/=x HTTP/1.1", "\"GET http://a.test/=x HTTP/1.1\""},
      {"", "\"\""},
      {" =x", "\" =x\""},
      {"'=x", "\"'=x\""},
      {"\"=x", "\"\"\"=x\""},
      {"12", "\"12\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.field));
    EXPECT_EQ(QuoteCsvField(row.field), row.quoted);
  }
}

TEST_F(LogWriterTest, AServerStatusLineCannotPlantAFormula) {
  Add(store, 2, "-X / HTTP/1.1\r\n", "=HYPERLINK(\"http://evil.test\")\r\n");
  ASSERT_TRUE(store.WriteLogs(true));
  const std::vector<std::string> lines = Lines(Csv());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find(",\"'-X / HTTP/1.1\",\"'=HYPERLINK(\"\"http://evil.test\"\")\""),
            std::string::npos)
      << lines[1];
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
            (std::vector<std::string>{"Could not open file: " + store.TextLogName() +
                                      " (No such file or directory)"}));
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{2}));
}

// Log names are predictable (the start second), so someone sharing the log directory can plant
// a link or a file of their own at the next name. Nothing is written through them.
TEST_F(LogWriterTest, APlantedLinkOrForeignFileIsNeverWrittenTo) {
  const std::string target = dir.path().string() + "/target";
  const struct {
    const char* name;
    // Replaces the full-text file at `path`; false when this row cannot run here.
    bool (*plant)(const std::string& path, const std::string& target);
    const char* problem;
  } rows[] = {
      {"symbolic link",
       [](const std::string& path, const std::string& link) {
         return ::unlink(path.c_str()) == 0 && ::symlink(link.c_str(), path.c_str()) == 0;
       },
       "it is a symbolic link, which is not followed"},
      {"FIFO",
       [](const std::string& path, const std::string&) {
         return ::unlink(path.c_str()) == 0 && ::mkfifo(path.c_str(), 0600) == 0;
       },
       "it is not a regular file"},
      {"another user's file",
       [](const std::string& path, const std::string&) {
         // Only the superuser can give a file away.
         return ::geteuid() == 0 && ::chown(path.c_str(), 54321, 54321) == 0;
       },
       "it belongs to another user"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir runDir;
    store.SetLogDir(runDir.path().string());
    store.SetAutoLog(true);
    ASSERT_TRUE(store.WriteLogs(true));  // the pair is now this store's
    std::ofstream(target, std::ios::trunc) << "someone else's\n";
    if (!row.plant(store.TextLogName(), target)) {
      continue;
    }
    const size_t before = notifier.Messages().size();
    Add(store, 2, "GET / HTTP/1.1\r\nCookie: secret\r\n", "HTTP/1.1 200 OK\r\n");
    EXPECT_FALSE(store.WriteLogs(true));
    const std::vector<std::string> messages = notifier.Messages();
    ASSERT_EQ(messages.size(), before + 1);
    EXPECT_EQ(messages.back(),
              "Could not open file: " + store.TextLogName() + " (" + row.problem + ")");
    EXPECT_EQ(ReadFile(target), "someone else's\n");
    EXPECT_EQ(Ids(store), (std::vector<int32_t>{2}));
    store.Clear();
  }
}

TEST_F(LogWriterTest, AnExistingLogFileIsMadePrivate) {
  ASSERT_TRUE(store.WriteLogs(true));
  ASSERT_EQ(::chmod(store.TextLogName().c_str(), 0644), 0);
  ASSERT_EQ(::chmod(store.CsvLogName().c_str(), 0666), 0);
  Add(store, 2, "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_EQ(FileMode(store.TextLogName()), 0600);
  EXPECT_EQ(FileMode(store.CsvLogName()), 0600);
}

// Two instances started in the same second compute the same names; each gets a pair of its own,
// the first the plain name, and each keeps appending to its own.
TEST_F(LogWriterTest, TwoStoresStartedInTheSameSecondNeverShareAFile) {
  ConversationStore other;
  other.SetNotifier(&notifier);
  for (int attempt = 0; attempt < 3 && other.TextLogName() != store.TextLogName(); ++attempt) {
    store.SetLogDir(dir.path().string());
    other.SetLogDir(dir.path().string());
  }
  ASSERT_EQ(other.TextLogName(), store.TextLogName()) << "the second changed three times";
  const std::string plain = store.TextLogName();
  const std::string link = dir.path().string() + "/elsewhere";
  // A link planted at the name the next pair would take is passed over as well.
  const LogFileNames third = NumberedLogFileNames({store.TextLogName(), store.CsvLogName()}, 2);
  ASSERT_EQ(::symlink(link.c_str(), third.csv.c_str()), 0);

  Add(store, 2, "GET /first HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  Add(other, 3, "GET /second HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  ASSERT_TRUE(store.WriteLogs(true));
  ASSERT_TRUE(other.WriteLogs(true));
  Add(store, 4, "GET /first-again HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n");
  ASSERT_TRUE(store.WriteLogs(true));

  EXPECT_EQ(store.TextLogName(), plain);
  EXPECT_NE(other.TextLogName(), store.TextLogName());
  EXPECT_NE(other.CsvLogName(), store.CsvLogName());
  EXPECT_NE(other.CsvLogName(), third.csv);
  EXPECT_EQ(ReadFile(store.TextLogName()),
            "GET /first HTTP/1.1\r\nHTTP/1.1 200 OK\r\nGET /first-again HTTP/1.1\r\nHTTP/1.1 200 "
            "OK\r\n");
  EXPECT_EQ(ReadFile(other.TextLogName()), "GET /second HTTP/1.1\r\nHTTP/1.1 200 OK\r\n");
  EXPECT_EQ(Lines(ReadFile(other.CsvLogName())).size(), 2u);
  EXPECT_FALSE(FileExists(link));
}

// Files may grow to `bytes` and no further while it lives: a write past that fails with EFBIG, as
// one on a full disk fails with ENOSPC.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before);
    ignoreBefore = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, ignoreBefore);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit before{};
  sighandler_t ignoreBefore = SIG_DFL;
};

// A full disk must not lose records: the pass reports failure, keeps every record, and a later
// pass writes each one exactly once.
TEST_F(LogWriterTest, WriteFailureKeepsRecords) {
  for (const bool csvIsFull : {true, false}) {
    SCOPED_TRACE(csvIsFull ? "statistics file full" : "full-text file full");
    TempDir runDir;
    store.SetLogDir(runDir.path().string());
    store.SetAutoLog(true);
    // Four 20,000-byte responses make 80,068 bytes of text. Quotes are doubled in the statistics
    // file, so a first line of quotes makes it the larger file; a short one, the smaller.
    const std::string response =
        csvIsFull ? std::string(20000, '"') : "HTTP/1.1 200 OK\r\n" + std::string(19983, 'r');
    for (int32_t id = 2; id < 6; ++id) {
      Add(store, id, "GET /" + std::to_string(id) + " HTTP/1.1\r\n", response);
    }
    const int64_t held = store.HeldBytes();

    {
      const FileSizeLimit limit(csvIsFull ? 120000 : 40000);
      EXPECT_FALSE(store.WriteLogs(true));
    }
    EXPECT_FALSE(store.AutoLog());
    EXPECT_EQ(Ids(store), (std::vector<int32_t>{2, 3, 4, 5}));
    EXPECT_EQ(store.HeldBytes(), held);

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
