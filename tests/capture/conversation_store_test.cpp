#include "capture/conversation_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "capture/text_rendering.h"
#include "capture_test_support.h"
#include "tests/support/conversation_ids.h"

namespace rw::capture {
namespace {

using rw::testing::Ids;

using testing::FailNextAllocation;
using testing::FakeCaptureNotifier;

constexpr int64_t kMB = 1048576;

// A record holding `requestSize` and `responseSize` captured text bytes.
std::shared_ptr<Conversation> Add(ConversationStore& store, int32_t id, int64_t requestSize,
                                  int64_t responseSize, bool complete = true) {
  auto c = std::make_shared<Conversation>(id, store);
  store.AddConversation(c);
  store.IncrementConversationCount();
  const std::string request(static_cast<size_t>(requestSize), 'q');
  const std::string response(static_cast<size_t>(responseSize), 'r');
  c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  if (complete) {
    c->MarkEnd();
    c->MarkComplete();
  }
  return c;
}

// Removes the time from every separator so that page texts can be compared exactly.
std::string WithoutTimes(const std::string& text) {
  static const std::regex time(R"(--------------- \d\d:\d\d:\d\d \()");
  return std::regex_replace(text, time, "--------------- T (");
}

std::string Separator(int32_t id) {
  return "\r\n\r\n--------------- T (" + std::to_string(id) + ") ---------------\r\n\r\n";
}

TEST(ConversationStore, TrimAtAndAroundTheLimit) {
  // 4 MB limit = 4194304 bytes; 69 records of 60000 plus a last one of 54304 + delta.
  const struct {
    const char* name;
    int64_t delta;
    size_t removed;
  } rows[] = {
      {"one byte below", -1, 0},
      {"exactly at the limit", 0, 1},
      {"one record over", 60000, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ConversationStore store;
    store.SetMaxMB(4);
    for (int32_t id = 2; id < 71; ++id) {
      Add(store, id, 30000, 30000);
    }
    const int64_t last = 54304 + row.delta;
    Add(store, 71, last / 2, last - last / 2);
    ASSERT_EQ(store.HeldBytes(), 4 * kMB + row.delta);
    store.TrimToLimit();
    const std::vector<int32_t> ids = Ids(store);
    EXPECT_EQ(ids.size(), 70 - row.removed);
    EXPECT_EQ(ids.front(), static_cast<int32_t>(2 + row.removed));
    EXPECT_EQ(store.HeldBytes(), 4 * kMB + row.delta - 60000 * static_cast<int64_t>(row.removed));
  }
}

TEST(ConversationStore, TrimKeepsOpenConversations) {
  ConversationStore store;
  store.SetMaxMB(1);
  auto open = Add(store, 2, 60000, 60000, false);
  for (int32_t id = 3; id < 13; ++id) {
    Add(store, id, 60000, 60000);
  }
  auto openToo = Add(store, 13, 60000, 0, false);
  store.TrimToLimit();
  // 1380000 held: dropping records 3, 4 and 5 brings it to 1020000, below 1048576.
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{2, 6, 7, 8, 9, 10, 11, 12, 13}));
  EXPECT_EQ(store.HeldBytes(), 1020000);

  ConversationStore onlyOpen;
  onlyOpen.SetMaxMB(1);
  std::vector<std::shared_ptr<Conversation>> keep;
  for (int32_t id = 2; id < 22; ++id) {
    keep.push_back(Add(onlyOpen, id, 60000, 60000, false));
  }
  onlyOpen.TrimToLimit();
  EXPECT_EQ(Ids(onlyOpen).size(), 20u);
  EXPECT_EQ(onlyOpen.HeldBytes(), 2400000);
}

TEST(ConversationStore, LimitAndCountersAreSixtyFourBit) {
  ConversationStore store;
  store.SetMaxMB(2048);
  EXPECT_EQ(store.LimitBytes(), 2048 * kMB);
  store.SetMaxMB(4096);
  EXPECT_EQ(store.LimitBytes(), 4096 * kMB);

  // Past 2 GiB of binary traffic in one conversation (only the first byte of each chunk is read).
  const std::string binary(64 * kMB, '\0');
  Conversation c(2, store);
  for (int i = 0; i < 40; ++i) {
    c.AddResponseData(binary.data(), static_cast<int32_t>(binary.size()));
  }
  EXPECT_EQ(c.ResponseTotal(), 40 * 64 * kMB);
  EXPECT_EQ(store.ResponseBytes(), 40 * 64 * kMB);
  EXPECT_EQ(c.ResponseText(), "\r\n(2684354560 bytes not shown)\r\n");
}

TEST(ConversationStore, ClearKeepsOpenConversationsAndZeroesCounters) {
  FakeCaptureNotifier notifier;
  ConversationStore store;
  store.SetNotifier(&notifier);
  Add(store, 2, 100, 100);
  auto open = Add(store, 3, 1000, 0, false);
  Add(store, 4, 100, 100);
  auto openToo = Add(store, 5, 10, 0, false);
  store.Clear();
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{3, 5}));
  EXPECT_EQ(store.RequestBytes(), 0);
  EXPECT_EQ(store.ResponseBytes(), 0);
  EXPECT_EQ(store.ConversationCount(), 0);
  EXPECT_EQ(store.HeldBytes(), 0);
  EXPECT_EQ(notifier.ClearedCount(), 1);
  // Counting runs on from zero; the engine's ids are its own and go on (6 next).
  Add(store, 6, 10, 0);
  EXPECT_EQ(store.ConversationCount(), 1);
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{3, 5, 6}));
}

// Bytes an open record held at Clear are no longer in heldBytes, so removing that record later
// must not subtract them again, whichever way it is removed.
TEST(ConversationStore, InBufferNeverNegativeAfterClear) {
  enum class Removal { kClear, kTrim, kLog };
  for (const Removal removal : {Removal::kClear, Removal::kTrim, Removal::kLog}) {
    SCOPED_TRACE(static_cast<int>(removal));
    testing::TempDir dir;
    ConversationStore store;
    store.SetLogDir(dir.path().string());
    store.SetMaxMB(1);
    auto open = Add(store, 2, 50000, 0, false);
    store.Clear();
    ASSERT_EQ(store.HeldBytes(), 0);
    const std::string more(30000, 'm');
    open->AddResponseData(more.data(), static_cast<int32_t>(more.size()));
    EXPECT_EQ(store.HeldBytes(), 30000);
    open->MarkComplete();
    switch (removal) {
      case Removal::kClear:
        store.Clear();
        break;
      case Removal::kTrim:
        for (int32_t id = 3; id < 21; ++id) {
          Add(store, id, 60000, 0);
        }
        store.TrimToLimit();
        break;
      case Removal::kLog:
        ASSERT_TRUE(store.WriteLogs(true));
        break;
    }
    EXPECT_TRUE(Ids(store).empty() || Ids(store).front() != 2);
    EXPECT_GE(store.HeldBytes(), 0);
    int64_t sum = 0;
    for (const auto& c : store.Snapshot()) {
      sum += c->RequestDataSize() + c->ResponseDataSize();
    }
    EXPECT_EQ(store.HeldBytes(), sum);
  }
}

// Bytes that reach a record after the store removed it are neither kept nor counted as held: with
// the record gone, nothing would ever subtract them again.
TEST(ConversationStore, ARemovedRecordTakesNoMoreBytes) {
  enum class Removal { kClear, kTrim, kLog };
  for (const Removal removal : {Removal::kClear, Removal::kTrim, Removal::kLog}) {
    SCOPED_TRACE(static_cast<int>(removal));
    rw::testing::TempDir dir;
    ConversationStore store;
    store.SetLogDir(dir.path().string());
    store.SetMaxMB(0);  // any held byte is over the limit
    auto record = Add(store, 2, 100, 100);
    switch (removal) {
      case Removal::kClear:
        store.Clear();
        break;
      case Removal::kTrim:
        store.TrimToLimit();
        break;
      case Removal::kLog:
        ASSERT_TRUE(store.WriteLogs(true));
        break;
    }
    ASSERT_TRUE(Ids(store).empty());
    const std::string late = "late bytes";
    record->AddRequestData(late.data(), static_cast<int32_t>(late.size()));
    record->AddResponseData(late.data(), static_cast<int32_t>(late.size()));
    EXPECT_EQ(store.HeldBytes(), 0);
    EXPECT_EQ(record->RequestDataSize(), 0);
    EXPECT_EQ(record->ResponseDataSize(), 0);
    EXPECT_EQ(record->ResponseText(), kDataGoneText);
  }
}

TEST(ConversationStore, PageTextShowsTheNewestRecordsThatFitTheBudget) {
  struct Row {
    const char* name;
    std::vector<int64_t> requestSizes;  // oldest first
    std::vector<int32_t> shown;         // ids, counting from 2
  };
  const Row rows[] = {
      {"two of 30000: only the newer", {30000, 30000}, {3}},
      {"three of 10000: all", {10000, 10000, 10000}, {2, 3, 4}},
      {"exactly the budget", {5000, 25000, 30000}, {3, 4}},
      {"empty records cost nothing", {0, 55000, 0}, {2, 3, 4}},
      // The newest alone is over the budget: show just it, not the whole store.
      {"newest over the budget", {100, 200, 60000}, {4}},
      {"oldest over the budget", {60000, 100, 200}, {3, 4}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ConversationStore store;
    int32_t id = 2;
    for (const int64_t size : row.requestSizes) {
      Add(store, id++, size, 7);
    }
    std::string expected;
    for (const int32_t shown : row.shown) {
      expected += std::string(static_cast<size_t>(row.requestSizes[shown - 2]), 'q');
      expected += Separator(shown);
    }
    EXPECT_EQ(WithoutTimes(store.GetNewRequestData()), expected);
  }
}

// Connections that capture nothing never reach the byte limit; their number is bounded too.
TEST(ConversationStore, RecordCountIsCappedByTrimmingOrLogging) {
  constexpr size_t kCap = ConversationStore::kMaxConversations;
  for (const bool autoLog : {false, true}) {
    SCOPED_TRACE(autoLog ? "logged" : "trimmed");
    testing::TempDir dir;
    ConversationStore store;
    store.SetLogDir(dir.path().string());
    auto open = Add(store, 2, 0, 0, false);
    for (int32_t id = 3; id < static_cast<int32_t>(kCap) + 13; ++id) {
      Add(store, id, 0, 0);
    }
    ASSERT_EQ(store.Snapshot().size(), kCap + 11);
    if (autoLog) {
      ASSERT_TRUE(store.WriteLogs(false));
      const std::string csv = testing::ReadFile(store.CsvLogName());
      EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 11);  // heading and 11 rows
    } else {
      store.TrimToLimit();
    }
    const std::vector<int32_t> ids = Ids(store);
    ASSERT_EQ(ids.size(), kCap);
    // The open record stays; the oldest complete ones went.
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 14);
    EXPECT_EQ(ids.back(), static_cast<int32_t>(kCap) + 12);
  }
}

// Traffic can outrun the timer: at twice the limit the store asks for its upkeep once, and again
// only after an upkeep (trim or log pass) has run.
TEST(ConversationStore, AsksForAnEarlyUpkeepOncePerUpkeepAtTwiceTheLimit) {
  for (const bool autoLog : {false, true}) {
    SCOPED_TRACE(autoLog ? "logged" : "trimmed");
    testing::TempDir dir;
    FakeCaptureNotifier notifier;
    ConversationStore store;
    store.SetLogDir(dir.path().string());
    store.SetNotifier(&notifier);
    store.SetMaxMB(4);
    store.SetAutoLog(autoLog);
    int32_t id = 2;
    // 139 records of 60000 bytes stay below 8 MB; the 140th reaches it.
    for (; id < 141; ++id) {
      Add(store, id, 30000, 30000);
    }
    EXPECT_EQ(notifier.UpkeepCount(), 0);
    Add(store, id++, 30000, 30000);
    EXPECT_EQ(notifier.UpkeepCount(), 1);
    Add(store, id++, 30000, 30000);
    EXPECT_EQ(notifier.UpkeepCount(), 1);  // already asked
    if (autoLog) {
      ASSERT_TRUE(store.WriteLogs(false));  // writes a little over half the limit
    } else {
      store.TrimToLimit();
    }
    EXPECT_LT(store.HeldBytes(), 8 * kMB);
    while (store.HeldBytes() < 8 * kMB) {
      Add(store, id++, 30000, 30000);
    }
    EXPECT_EQ(notifier.UpkeepCount(), 2);
  }
}

// Open records alone over the mark: an early upkeep frees nothing, so asking again at the next
// byte would run upkeeps back to back. The next ask waits for a further limit's worth of held
// bytes, or for the timer's upkeep.
TEST(ConversationStore, EarlyUpkeepThatFreedNothingIsNotAskedForAgainAtOnce) {
  for (const bool autoLog : {false, true}) {
    SCOPED_TRACE(autoLog ? "logged" : "trimmed");
    testing::TempDir dir;
    FakeCaptureNotifier notifier;
    ConversationStore store;
    store.SetLogDir(dir.path().string());
    store.SetNotifier(&notifier);
    store.SetMaxMB(1);
    store.SetAutoLog(autoLog);
    auto earlyUpkeep = [&] {
      if (autoLog) {
        ASSERT_TRUE(store.WriteLogs(false));
      } else {
        store.TrimToLimit();
      }
      store.AfterEarlyUpkeep();
    };
    std::vector<std::shared_ptr<Conversation>> open;
    int32_t id = 2;
    while (store.HeldBytes() < 2 * kMB) {
      open.push_back(Add(store, id++, 50000, 50000, false));
    }
    ASSERT_EQ(notifier.UpkeepCount(), 1);
    earlyUpkeep();
    const int64_t heldAfterUpkeep = store.HeldBytes();
    EXPECT_GE(heldAfterUpkeep, 2 * kMB);  // nothing could be freed
    // Just short of a further limit's worth: no new ask.
    while (store.HeldBytes() + 100000 < heldAfterUpkeep + kMB) {
      open.push_back(Add(store, id++, 50000, 50000, false));
    }
    EXPECT_EQ(notifier.UpkeepCount(), 1);
    open.push_back(Add(store, id++, 50000, 50000, false));
    open.push_back(Add(store, id++, 50000, 50000, false));
    EXPECT_EQ(notifier.UpkeepCount(), 2);
    earlyUpkeep();
    open.push_back(Add(store, id++, 100, 100, false));
    EXPECT_EQ(notifier.UpkeepCount(), 2);
    // The timer's upkeep puts the usual mark back: the next bytes ask at once.
    store.TrimToLimit();
    store.AfterTickUpkeep();
    open.push_back(Add(store, id++, 100, 100, false));
    EXPECT_EQ(notifier.UpkeepCount(), 3);
    for (const auto& conversation : open) {
      conversation->MarkComplete();
    }
  }
}

// Records that capture nothing ask for an upkeep by their number.
TEST(ConversationStore, AsksForAnEarlyUpkeepAtTwiceTheRecordCap) {
  FakeCaptureNotifier notifier;
  ConversationStore store;
  store.SetNotifier(&notifier);
  const auto mark =
      static_cast<int32_t>(ConversationStore::kUpkeepMark * ConversationStore::kMaxConversations);
  for (int32_t id = 1; id < mark; ++id) {
    Add(store, id, 0, 0);
  }
  EXPECT_EQ(notifier.UpkeepCount(), 0);
  Add(store, mark, 0, 0);
  EXPECT_EQ(notifier.UpkeepCount(), 1);
  store.TrimToLimit();
  EXPECT_EQ(store.Snapshot().size(), ConversationStore::kMaxConversations);
}

// A page text walks a bounded number of records, however many hold nothing.
TEST(ConversationStore, PageTextLooksAtTheNewestRecordsOnly) {
  ConversationStore store;
  const int32_t last = static_cast<int32_t>(ConversationStore::kPageRecords) + 501;
  for (int32_t id = 2; id <= last; ++id) {
    Add(store, id, 0, 0);
  }
  const std::string text = WithoutTimes(store.GetNewRequestData());
  const std::string oldestShown =
      Separator(last - static_cast<int32_t>(ConversationStore::kPageRecords) + 1);
  EXPECT_EQ(text.substr(0, oldestShown.size()), oldestShown);
  EXPECT_EQ(text.find(Separator(last - static_cast<int32_t>(ConversationStore::kPageRecords))),
            std::string::npos);
  size_t blocks = 0;
  for (size_t at = text.find(" T ("); at != std::string::npos; at = text.find(" T (", at + 1)) {
    ++blocks;
  }
  EXPECT_EQ(blocks, ConversationStore::kPageRecords);
}

TEST(ConversationStore, PageTextNotesOmittedBytesAndShowsMalformedTextAsQuestionMarks) {
  ConversationStore store;
  EXPECT_EQ(store.GetNewRequestData(), "");
  EXPECT_EQ(store.GetNewResponseData(), "");

  auto a = Add(store, 2, 0, 0);
  const std::string binary("\0\0\0\0\0", 5);
  a->AddRequestData(binary.data(), 5);
  auto b = Add(store, 3, 0, 0, false);
  const std::string big(70000, 'x');
  b->AddResponseData(big.data(), static_cast<int32_t>(big.size()));
  // Bytes that are not well-formed UTF-8 come back as "?" on the page, not in the raw text.
  const std::string odd = "ok \xC3\x28 \xE2\x82\xAC";
  b->AddRequestData(odd.data(), static_cast<int32_t>(odd.size()));

  EXPECT_EQ(WithoutTimes(store.GetNewRequestData()),
            "\r\n(5 bytes not shown)\r\n" + Separator(2) + "ok ?( \xE2\x82\xAC" + Separator(3));
  const std::string responses = WithoutTimes(store.GetNewResponseData());
  // The newest response alone is over the budget, so it is all the page shows.
  const std::string expected =
      std::string(60000, 'x') + "\r\n(10000 bytes not shown)\r\n" + Separator(3);
  EXPECT_EQ(responses.size(), expected.size());
  EXPECT_TRUE(responses == expected) << responses.substr(0, 80);
  EXPECT_EQ(b->RequestText(), odd);
  // Nothing happened in between: the same text again.
  EXPECT_EQ(store.GetNewRequestData(), store.GetNewRequestData());
  EXPECT_TRUE(
      std::regex_search(store.GetNewRequestData(),
                        std::regex(R"(--------------- \d\d:\d\d:\d\d \(3\) -{15}\r\n\r\n$)")));
}

TEST(ConversationStore, ExhaustedMemoryIsReportedAfterLocksAreReleased) {
  FakeCaptureNotifier notifier;
  ConversationStore store;
  store.SetNotifier(&notifier);
  auto lost = std::make_shared<Conversation>(2, store);
  {
    FailNextAllocation failure(1);
    EXPECT_FALSE(store.AddConversation(lost));
  }
  Add(store, 3, 40000, 40000);
  {
    FailNextAllocation failure(30000);
    store.GetNewRequestData();
    EXPECT_TRUE(failure.Fired());
  }
  {
    FailNextAllocation failure(30000);
    store.GetNewResponseData();
    EXPECT_TRUE(failure.Fired());
  }
  EXPECT_EQ(notifier.FatalErrors(),
            (std::vector<std::string>{"Error in AddConversation", "Error in GetNewRequestData",
                                      "Error in GetNewResponseData"}));
  // The notifier ran with no lock held: the store is usable afterwards.
  EXPECT_EQ(Ids(store), (std::vector<int32_t>{3}));
}

}  // namespace
}  // namespace rw::capture
