#include "headless/exchange_printer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/conversation_store.h"

namespace rw::headless {
namespace {

std::shared_ptr<capture::Conversation> Exchange(capture::ConversationStore& store, int32_t id) {
  auto c = std::make_shared<capture::Conversation>(id, store);
  store.AddConversation(c);
  const std::string request = "GET http://a.test/" + std::to_string(id) + " HTTP/1.1\r\n\r\n";
  const std::string response = "HTTP/1.1 200 OK\r\n\r\n";
  c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  return c;
}

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, n);
  }
  return text;
}

TEST(ExchangePrinter, EveryLineWholeFromManyThreads) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  capture::ConversationStore store;
  ExchangePrinter printer(out, true);
  store.SetExchangeObserver(&printer);
  ASSERT_TRUE(printer.Start());
  constexpr int kThreads = 8;
  constexpr int kEach = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&store, t] {
      for (int i = 0; i < kEach; ++i) {
        auto c = Exchange(store, 2 + t * kEach + i);
        c->MarkEnd();
        c->MarkComplete();
      }
    });
  }
  // A connection that sent nothing is no exchange: no line, not counted.
  auto idle = std::make_shared<capture::Conversation>(1, store);
  idle->MarkComplete();
  for (std::thread& thread : threads) {
    thread.join();
  }
  printer.Stop();
  EXPECT_EQ(printer.Completed(), kThreads * kEach);
  EXPECT_EQ(printer.Dropped(), 0);

  std::istringstream lines(Contents(out));
  const std::regex shape(
      R"(\d\d:\d\d:\d\d\.\d{3} #(\d+) GET http://a\.test/(\d+) 200 req=\d+B rsp=19B \d+\.\d{3}s)");
  std::set<int> ids;
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    EXPECT_EQ(match[1], match[2]);
    ids.insert(std::stoi(match[1]));
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kThreads * kEach));
  std::fclose(out);
}

// A handshake the browser refused leaves an exchange with no request, named by its server and
// carrying the proxy's note: it gets its line, which an idle connection does not.
TEST(ExchangePrinter, RefusedHandshakeNoteGetsItsLine) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  capture::ConversationStore store;
  ExchangePrinter printer(out, true);
  store.SetExchangeObserver(&printer);
  ASSERT_TRUE(printer.Start());
  auto idle = std::make_shared<capture::Conversation>(1, store);
  store.AddConversation(idle);
  idle->MarkComplete();
  auto refused = std::make_shared<capture::Conversation>(2, store, "https://a.test:8443");
  store.AddConversation(refused);
  const std::string note = "TLS handshake with the browser failed: sslv3 alert certificate unknown";
  refused->AddResponseData(note.data(), static_cast<int32_t>(note.size()));
  refused->MarkEnd();
  refused->MarkComplete();
  printer.Stop();
  EXPECT_EQ(printer.Completed(), 1);
  const std::string text = Contents(out);
  EXPECT_NE(
      text.find(" #2 - https://a.test:8443 --- req=0B rsp=" + std::to_string(note.size()) + "B "),
      std::string::npos)
      << text;
  EXPECT_NE(text.find(note + "\n"), std::string::npos) << text;
  EXPECT_EQ(text.find(" #1 "), std::string::npos) << text;
  std::fclose(out);
}

TEST(ExchangePrinter, QuietCountsWithoutPrinting) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  capture::ConversationStore store;
  ExchangePrinter printer(out, false);
  store.SetExchangeObserver(&printer);
  EXPECT_FALSE(printer.Start());
  Exchange(store, 2)->MarkComplete();
  Exchange(store, 3)->MarkComplete();
  printer.Stop();
  EXPECT_EQ(printer.Completed(), 2);
  EXPECT_EQ(Contents(out), "");
  std::fclose(out);
}

TEST(ExchangePrinter, AStuckOutputNeverHoldsUpTheRelay) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::FILE* out = ::fdopen(fds[1], "w");
  ASSERT_NE(out, nullptr);
  capture::ConversationStore store;
  ExchangePrinter printer(out, true);
  store.SetExchangeObserver(&printer);
  ASSERT_TRUE(printer.Start());
  // Nobody reads the pipe yet: the writer blocks once it is full, and completions go on
  // regardless (were they to wait, this loop would never end).
  const int total = 3 * static_cast<int>(ExchangePrinter::kMaxBacklog);
  for (int i = 0; i < total; ++i) {
    Exchange(store, 2 + i)->MarkComplete();
    if (i % 1000 == 999) {
      store.Clear();  // keeps the store small; the printer holds copies, not records
    }
  }
  EXPECT_EQ(printer.Completed(), total);
  // At most the batch being written and kMaxBacklog waiting lines are held; the rest is dropped.
  EXPECT_GE(printer.Dropped(), total - 2 * static_cast<int>(ExchangePrinter::kMaxBacklog) - 2000);

  std::string read;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
      read.append(buffer, static_cast<size_t>(n));
    }
  });
  printer.Stop();
  std::fclose(out);
  reader.join();
  ::close(fds[0]);
  int64_t lines = 0;
  for (const char c : read) {
    lines += c == '\n' ? 1 : 0;
  }
  // Every exchange is either printed whole or counted as dropped.
  EXPECT_EQ(lines + printer.Dropped(), total);
}

}  // namespace
}  // namespace rw::headless
