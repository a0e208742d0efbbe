#include "capture/conversation_side.h"

#include <gtest/gtest.h>

#include <string>

#include "capture/conversation_store.h"
#include "capture/text_rendering.h"
#include "capture_test_support.h"

namespace rw::capture {
namespace {

std::shared_ptr<Conversation> AddExchange(ConversationStore& store, int32_t id) {
  auto c = std::make_shared<Conversation>(id, store);
  store.AddConversation(c);
  const std::string request = "GET /x HTTP/1.1\nHost: a\r\n\r\n";
  const std::string response = "HTTP/1.1 200 OK\r\nA: b\nc";
  c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  const std::string binary("\0\0\0", 3);
  c->AddResponseData(binary.data(), 3);
  c->MarkComplete();
  return c;
}

TEST(ConversationSide, RendersItsSide) {
  ConversationStore store;
  auto c = AddExchange(store, 2);
  const ConversationSide request(Direction::kRequest, c);
  const ConversationSide response(Direction::kResponse, c);
  EXPECT_EQ(request.FirstLine(), "GET /x HTTP/1.1");
  EXPECT_EQ(request.FullText(true), "GET /x HTTP/1.1\r\nHost: a\r\n\r\n\r\n");
  EXPECT_EQ(request.FullText(false), "GET /x HTTP/1.1\nHost: a\r\n\r\n\r\n");
  EXPECT_EQ(response.FirstLine(), "HTTP/1.1 200 OK");
  EXPECT_EQ(response.FullText(true), "HTTP/1.1 200 OK\r\nA: b\r\nc\r\n\r\n(3 bytes not shown)\r\n");
  EXPECT_EQ(request.Side(), Direction::kRequest);
}

// A row's handle must read as gone after its conversation was dropped by any removal, even while
// the engine (or anyone else) still holds the record itself.
TEST(ConversationSide, ReadsAsGoneAfterRemoval) {
  enum class Removal { kClear, kTrim, kLog, kStoreDestroyed };
  for (const Removal removal :
       {Removal::kClear, Removal::kTrim, Removal::kLog, Removal::kStoreDestroyed}) {
    SCOPED_TRACE(static_cast<int>(removal));
    testing::TempDir dir;
    auto store = std::make_unique<ConversationStore>();
    store->SetLogDir(dir.path().string());
    store->SetMaxMB(0);  // any held byte is over the limit
    std::shared_ptr<Conversation> engineHeld = AddExchange(*store, 2);
    const ConversationSide response(Direction::kResponse, engineHeld);
    ASSERT_EQ(response.FirstLine(), "HTTP/1.1 200 OK");
    switch (removal) {
      case Removal::kClear:
        store->Clear();
        break;
      case Removal::kTrim:
        store->TrimToLimit();
        break;
      case Removal::kLog:
        ASSERT_TRUE(store->WriteLogs(true));
        break;
      case Removal::kStoreDestroyed:
        store.reset();
        break;
    }
    EXPECT_EQ(response.Get(), nullptr);
    EXPECT_EQ(response.FirstLine(), "");
    EXPECT_EQ(response.FullText(true), kDataGoneText);
    EXPECT_EQ(engineHeld->ResponseText(), kDataGoneText);
    EXPECT_EQ(engineHeld->ResponseDataSize(), 0);

    engineHeld.reset();
    EXPECT_EQ(response.FirstLine(), "");
    EXPECT_EQ(response.FullText(false), kDataGoneText);
  }
}

// Exhausted memory while rendering is reported to the store's notifier; a page may hold a
// conversation past the store's end, and then the report goes nowhere instead of into a freed
// store.
TEST(ConversationSide, ExhaustedMemoryIsReportedOnlyWhileTheStoreLives) {
  testing::FakeCaptureNotifier notifier;
  auto store = std::make_unique<ConversationStore>();
  store->SetNotifier(&notifier);
  // Never added, so the store's end does not release it and its text is still rendered.
  auto held = std::make_shared<Conversation>(3, *store);
  const std::string request = "GET /held HTTP/1.1\r\n\r\n" + std::string(5000, 'x');
  held->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  const ConversationSide side(Direction::kRequest, held);
  {
    testing::FailNextAllocation failure(4000);
    EXPECT_EQ(side.FullText(true), "");
    EXPECT_TRUE(failure.Fired());
  }
  EXPECT_EQ(notifier.FatalErrors(), std::vector<std::string>{"Error in ConvertArrayToString"});

  store.reset();
  {
    testing::FailNextAllocation failure(4000);
    EXPECT_EQ(side.FullText(true), "");
    EXPECT_TRUE(failure.Fired());
  }
  EXPECT_EQ(notifier.FatalErrors().size(), 1u);
  EXPECT_EQ(side.FullText(false), request + "\r\n");
}

}  // namespace
}  // namespace rw::capture
