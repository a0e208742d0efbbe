#include "capture/conversation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/conversation_store.h"
#include "capture_test_support.h"

namespace rw::capture {
namespace {

using testing::FailNextAllocation;
using testing::FakeCaptureNotifier;
using testing::ManualTicks;

void AddRequest(Conversation& c, const std::string& chunk) {
  c.AddRequestData(chunk.data(), static_cast<int32_t>(chunk.size()));
}

void AddResponse(Conversation& c, const std::string& chunk) {
  c.AddResponseData(chunk.data(), static_cast<int32_t>(chunk.size()));
}

// A read moved without copying is shown only up to the byte that ends its text; the capture must
// come out as if every byte had been given.
TEST(Conversation, ReadSeenUpToItsTextEndCapturesAsAWholeRead) {
  struct Row {
    const char* name;
    std::string before;  // an earlier read of the same response
    std::string read;
    size_t seen;
  };
  const std::string tail(5000, 'z');
  const Row rows[] = {
      {"stop byte first", "", std::string("\0abc", 4) + tail, 1},
      {"text then a stop byte", "", "HTTP/1.1 200 OK\r\n\r\nab" + std::string("\x01", 1) + tail,
       22},
      {"a sequence carried from the earlier read", "caf\xC3",
       "\xA9!" + std::string("\x02", 1) + tail, 3},
      {"all of it seen", "", "no stop at all", 14},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ConversationStore store;
    Conversation whole(2, store);
    Conversation seen(3, store);
    AddResponse(whole, row.before);
    AddResponse(seen, row.before);
    AddResponse(whole, row.read);
    // Only the seen bytes exist: a read past them is an error under AddressSanitizer.
    const std::vector<char> view(row.read.begin(),
                                 row.read.begin() + static_cast<std::ptrdiff_t>(row.seen));
    seen.AddResponseDataSeen(view.data(), static_cast<int32_t>(row.seen),
                             static_cast<int32_t>(row.read.size()));
    EXPECT_EQ(seen.ResponseText(), whole.ResponseText());
    EXPECT_EQ(seen.ResponseTotal(), whole.ResponseTotal());
  }
}

TEST(Conversation, CaptureOfChunks) {
  const std::string header = "HTTP/1.1 200 OK\r\n\r\n";
  struct Row {
    const char* name;
    std::vector<std::string> chunks;
    int64_t captured;
    int64_t total;
  };
  const Row rows[] = {
      {"empty chunk", {""}, 0, 0},
      {"binary first byte", {std::string("\0abcd", 5)}, 0, 5},
      {"70000 text bytes", {std::string(70000, 'a')}, 60000, 70000},
      {"cap reached within a chunk",
       {std::string(59990, 'a'), std::string(100, 'b')},
       60000,
       60090},
      {"past the cap only the total grows",
       {std::string(60000, 'a'), "more", std::string(10, 'c')},
       60000,
       60014},
      {"header then PNG", {header + "\x89PNG\r\n\x1a\n"}, 19, 27},
      {"tab, e-acute, NBSP", {"a\tb \xE9 \xA0 c"}, 9, 9},
      {"UTF-8 page split inside a sequence", {"it\xE2\x80", "\x99s"}, 6, 6},
      {"text after a binary chunk", {std::string("\x01zz", 3), "text"}, 4, 7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ConversationStore store;
    Conversation request(2, store);
    Conversation response(3, store);
    for (const std::string& chunk : row.chunks) {
      AddRequest(request, chunk);
      AddResponse(response, chunk);
    }
    EXPECT_EQ(request.RequestDataSize(), row.captured);
    EXPECT_EQ(request.RequestTotal(), row.total);
    EXPECT_EQ(request.ResponseTotal(), 0);
    EXPECT_EQ(response.ResponseDataSize(), row.captured);
    EXPECT_EQ(response.ResponseTotal(), row.total);
    EXPECT_EQ(store.RequestBytes(), row.total);
    EXPECT_EQ(store.ResponseBytes(), row.total);
    EXPECT_EQ(store.HeldBytes(), 2 * row.captured);
  }
}

TEST(Conversation, FullTextCarriesOmissionNote) {
  ConversationStore store;
  Conversation c(2, store);
  EXPECT_EQ(c.RequestText(), "");
  AddRequest(c, std::string(70000, 'a'));
  AddResponse(c, std::string("\0\0\0\0\0", 5));
  const std::string text = c.RequestText();
  EXPECT_EQ(text.size(), 60000u + 27u);
  EXPECT_EQ(text.substr(60000), "\r\n(10000 bytes not shown)\r\n");
  EXPECT_EQ(c.ResponseText(), "\r\n(5 bytes not shown)\r\n");
}

TEST(Conversation, TimingTexts) {
  ManualTicks ticks;
  // Also across a wrap of the 32-bit counter.
  const struct {
    uint32_t start, connectStart, connected, end;
    const char *connect, *retrieve, *total;
  } rows[] = {
      {1000, 1007, 1063, 62241, "0.056", "61.178", "61.241"},
      {5, 5, 5, 5, "0.000", "0.000", "0.000"},
      {0xFFFFFF00u, 0xFFFFFFF0u, 0x10u, 0x100u, "0.032", "0.240", "0.512"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.connect);
    ConversationStore store;
    ticks.Set(row.start);
    Conversation c(2, store);
    ticks.Set(row.connectStart);
    c.MarkConnectStart();
    ticks.Set(row.connected);
    c.MarkConnected();
    ticks.Set(row.end);
    c.MarkEnd();
    EXPECT_EQ(c.ConnectTimeText(), row.connect);
    EXPECT_EQ(c.RetrieveTimeText(), row.retrieve);
    EXPECT_EQ(c.TotalTimeText(), row.total);
  }
}

TEST(Conversation, CompletionIsObservedOnceWhileTheRecordIsStillOpen) {
  struct Observer : ExchangeObserver {
    void ExchangeCompleted(const Conversation& c) override {
      calls.push_back(c.GetId());
      completeAtCall = c.IsComplete();
      requestLine = c.Summary().requestLine;
    }
    std::vector<int32_t> calls;
    bool completeAtCall = true;
    std::string requestLine;
  } observer;
  ConversationStore store;
  store.SetExchangeObserver(&observer);
  Conversation c(4, store);
  AddRequest(c, "GET http://a.test/ HTTP/1.1\r\n\r\n");
  c.MarkComplete();
  c.MarkComplete();
  EXPECT_EQ(observer.calls, std::vector<int32_t>{4});
  EXPECT_FALSE(observer.completeAtCall);
  EXPECT_EQ(observer.requestLine, "GET http://a.test/ HTTP/1.1");
  EXPECT_TRUE(c.IsComplete());
}

TEST(Conversation, RecordCopyKeepsFirstResponseByteTime) {
  ManualTicks ticks;
  ConversationStore store;
  ticks.Set(100);
  Conversation c(3, store);
  AddRequest(c, "GET http://a.test/ HTTP/1.1\r\n\r\n");
  ticks.Set(110);
  c.MarkConnectStart();
  ticks.Set(120);
  c.MarkConnected();
  EXPECT_FALSE(c.CopyRecord().responseStarted);
  ticks.Set(150);
  AddResponse(c, "HTTP/1.1 200 OK\r\n\r\n");
  ticks.Set(170);
  AddResponse(c, "more");  // later bytes do not move the first-byte time
  ticks.Set(200);
  c.MarkEnd();
  const ConversationRecord record = c.CopyRecord();
  EXPECT_TRUE(record.responseStarted);
  EXPECT_EQ(record.firstResponseTick, 150u);
  EXPECT_EQ(record.lastTick, 200u);
  EXPECT_EQ(record.response, "HTTP/1.1 200 OK\r\n\r\nmore");
  EXPECT_EQ(record.responseTotal, 23);
  const ExchangeSummary summary = c.Summary();
  EXPECT_EQ(summary.requestLine, "GET http://a.test/ HTTP/1.1");
  EXPECT_EQ(summary.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(summary.totalMilliseconds, 100);
  EXPECT_EQ(summary.startMilliseconds / 1000, c.StartTime().seconds);

  // A tunnel is answered by the proxy itself; that reply is captured after the request.
  Conversation tunnel(4, store);
  AddRequest(tunnel,
             "CONNECT a.test:443 HTTP/1.1\r\n\r\nHTTP/1.0 200 Connection established\r\n\r\n");
  AddResponse(tunnel, "\x16");
  EXPECT_EQ(tunnel.Summary().statusLine, "HTTP/1.0 200 Connection established");
}

// A byte 0x00-0x08 ends a read's captured text: a start line cut there must not be completed by a
// later read's bytes, which did not follow on from it.
TEST(Conversation, SummaryReadsStartLinesOnlyBeforeACut) {
  ConversationStore store;
  Conversation c(5, store);
  AddRequest(c, std::string("GET http://a.test/ HTTP/1.1\r\nX: \x01", 33) + "rest");
  AddRequest(c, "Host: b\r\n\r\n");
  AddResponse(c, std::string("HTTP/1.1 2\x01", 11) + "00 OK");
  AddResponse(c, "99 Spliced\r\n\r\n");
  const ExchangeSummary summary = c.Summary();
  EXPECT_EQ(summary.requestLine, "GET http://a.test/ HTTP/1.1");
  EXPECT_EQ(summary.statusLine, "HTTP/1.1 2");
}

TEST(Conversation, ExhaustedMemoryIsReportedPerDirection) {
  FakeCaptureNotifier notifier;
  ConversationStore store;
  store.SetNotifier(&notifier);
  Conversation c(2, store);
  const std::string chunk(5000, 'a');
  {
    FailNextAllocation failure(4000);
    AddRequest(c, chunk);
    EXPECT_TRUE(failure.Fired());
  }
  {
    FailNextAllocation failure(4000);
    AddResponse(c, chunk);
    EXPECT_TRUE(failure.Fired());
  }
  EXPECT_EQ(notifier.FatalErrors(),
            (std::vector<std::string>{"Error in AddRequestData", "Error in AddResponseData"}));
  // Totals still count the bytes; nothing unstored is counted as held.
  EXPECT_EQ(c.RequestTotal(), 5000);
  EXPECT_EQ(c.ResponseTotal(), 5000);
  EXPECT_EQ(store.HeldBytes(), 0);
  AddRequest(c, chunk);
  {
    FailNextAllocation failure(4000);
    EXPECT_EQ(c.RequestText(), "");
    EXPECT_TRUE(failure.Fired());
  }
  EXPECT_EQ(notifier.FatalErrors().back(), "Error in ConvertArrayToString");
}

}  // namespace
}  // namespace rw::capture
