// Connection threads append and count while the user-interface side clears, trims, logs and
// renders. Meant for ThreadSanitizer as much as for its own checks; bounded by iteration counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/conversation_side.h"
#include "capture/conversation_store.h"
#include "capture_test_support.h"

namespace rw::capture {
namespace {

TEST(ConversationStoreStress, CountersCountEveryCall) {
  ConversationStore store;
  constexpr int kThreads = 8;
  constexpr int kCalls = 5000;
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int i = 0; i < kCalls; ++i) {
        store.IncrementConversationCount();
        store.AddRequestBytes(3);
        store.AddResponseBytes(1LL << 20);
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(store.ConversationCount(), kThreads * kCalls);
  EXPECT_EQ(store.RequestBytes(), 3LL * kThreads * kCalls);
  EXPECT_EQ(store.ResponseBytes(), (1LL << 20) * kThreads * kCalls);
}

TEST(ConversationStoreStress, EngineAndUserInterfaceTogether) {
  testing::TempDir dir;
  testing::FakeCaptureNotifier notifier;
  ConversationStore store;
  store.SetNotifier(&notifier);
  store.SetLogDir(dir.path().string());
  store.SetMaxMB(1);
  store.SetAutoLog(true);

  constexpr int kEngines = 4;
  constexpr int kConversationsEach = 400;
  std::atomic<int32_t> nextId{1};
  std::atomic<int> enginesDone{0};
  std::latch start(kEngines + 2);

  const std::string text =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<p>caf\xC3\xA9 \xE2\x80\x94 " +
      std::string(2500, 'x');
  const std::string binary = "HTTP/1.1 200 OK\r\n\r\n\x89PNG\r\n\x1a\n" + std::string(500, '\0');

  std::vector<std::thread> threads;
  for (int e = 0; e < kEngines; ++e) {
    threads.emplace_back([&, e] {
      start.arrive_and_wait();
      for (int k = 0; k < kConversationsEach; ++k) {
        auto c = std::make_shared<Conversation>(nextId.fetch_add(1) + 1, store);
        store.AddConversation(c);
        store.IncrementConversationCount();
        const std::string request =
            "GET /" + std::to_string(e) + "/" + std::to_string(k) + " HTTP/1.1\r\nHost: a\r\n\r\n";
        c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
        c->MarkConnectStart();
        c->MarkConnected();
        const std::string& body = (k % 5 == 0) ? binary : text;
        // Split unevenly so that UTF-8 sequences are cut between chunks now and then.
        for (size_t offset = 0; offset < body.size(); offset += 700 + k % 7) {
          const size_t n = std::min<size_t>(700 + k % 7, body.size() - offset);
          c->AddResponseData(body.data() + offset, static_cast<int32_t>(n));
        }
        c->MarkEnd();
        c->MarkComplete();
      }
      enginesDone.fetch_add(1);
    });
  }

  std::atomic<int64_t> lowestHeld{0};
  auto watchHeld = [&] {
    const int64_t held = store.HeldBytes();
    int64_t lowest = lowestHeld.load();
    while (held < lowest && !lowestHeld.compare_exchange_weak(lowest, held)) {
    }
  };
  // The user-interface thread: the timer's upkeep, Clear, Log and Clear, the pages.
  threads.emplace_back([&] {
    start.arrive_and_wait();
    for (int round = 0; enginesDone.load() < kEngines && round < 100000; ++round) {
      switch (round % 6) {
        case 0:
          store.TrimToLimit();
          break;
        case 1:
          store.WriteLogs(false);
          store.SetAutoLog(true);
          break;
        case 2:
          if (round % 60 == 2) {
            store.Clear();
          }
          break;
        case 3:
          if (round % 30 == 3) {
            store.WriteLogs(true);
          }
          break;
        default:
          store.GetNewRequestData();
          store.GetNewResponseData();
          break;
      }
      watchHeld();
    }
  });
  // A Detail page refreshing its rows and showing texts while records come and go.
  threads.emplace_back([&] {
    start.arrive_and_wait();
    std::vector<ConversationSide> rows;
    for (int round = 0; enginesDone.load() < kEngines && round < 100000; ++round) {
      if (round % 20 == 0) {
        rows.clear();
        for (const auto& c : store.Snapshot()) {
          rows.emplace_back(Direction::kRequest, c);
          rows.emplace_back(Direction::kResponse, c);
        }
      }
      for (const ConversationSide& row : rows) {
        const std::string first = row.FirstLine();
        EXPECT_TRUE(first.empty() || first.rfind("GET /", 0) == 0 || first.rfind("HTTP/", 0) == 0);
        row.FullText(round % 2 == 0);
      }
      watchHeld();
    }
  });
  for (std::thread& thread : threads) {
    thread.join();
  }

  EXPECT_GE(lowestHeld.load(), 0);
  EXPECT_TRUE(notifier.FatalErrors().empty());
  int64_t sum = 0;
  for (const auto& c : store.Snapshot()) {
    EXPECT_TRUE(c->IsComplete());
    sum += c->RequestDataSize() + c->ResponseDataSize();
  }
  // Records kept open through a Clear hold bytes that heldBytes no longer counts.
  EXPECT_LE(store.HeldBytes(), sum);

  // Everything is complete now: a forced pass empties the store, and no record was ever
  // written twice.
  ASSERT_TRUE(store.WriteLogs(true));
  EXPECT_TRUE(store.Snapshot().empty());
  EXPECT_EQ(store.HeldBytes(), 0);
  const std::string csv = testing::ReadFile(store.CsvLogName());
  std::multiset<std::string> ids;
  size_t start_of_line = 0;
  while (start_of_line < csv.size()) {
    const size_t end = csv.find("\r\n", start_of_line);
    ASSERT_NE(end, std::string::npos);
    const std::string line = csv.substr(start_of_line, end - start_of_line);
    const size_t idStart = line.find("\",\"") + 3;
    ids.insert(line.substr(idStart, line.find('"', idStart) - idStart));
    start_of_line = end + 2;
  }
  for (const std::string& id : ids) {
    EXPECT_EQ(ids.count(id), 1u) << "id " << id;
  }
}

}  // namespace
}  // namespace rw::capture
