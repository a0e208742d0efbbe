#include "app/detail_row.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace rw::app {
namespace {

using capture::Conversation;
using capture::ConversationStore;

std::shared_ptr<Conversation> Add(ConversationStore& store, int32_t id, const std::string& request,
                                  const std::string& response) {
  auto c = std::make_shared<Conversation>(id, store);
  store.AddConversation(c);
  c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  if (!response.empty()) {
    c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  }
  return c;
}

TEST(DetailRows, OneRowPerCapturedSideInStoreOrder) {
  ConversationStore store;
  Add(store, 4, "GET http://a/ HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\nhi");
  auto open = Add(store, 5, "POST http://b/ HTTP/1.1\r\n\r\n", "");
  auto binary = std::make_shared<Conversation>(6, store);  // neither side captured: no row
  store.AddConversation(binary);
  const std::string zero("\0", 1);
  binary->AddRequestData(zero.data(), 1);

  std::vector<DetailRow> rows = BuildDetailRows(store);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0].IsRequest());
  EXPECT_EQ(rows[0].firstLine, "GET http://a/ HTTP/1.1");
  EXPECT_EQ(rows[0].id, 4);
  EXPECT_EQ(rows[0].bytes, 35);
  EXPECT_FALSE(rows[1].IsRequest());
  EXPECT_EQ(rows[1].firstLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(rows[1].bytes, 21);
  EXPECT_FALSE(rows[1].totalTime.empty());
  EXPECT_EQ(rows[2].firstLine, "POST http://b/ HTTP/1.1");
  EXPECT_TRUE(rows[2].connectTime.empty());

  // Once the response of the open exchange arrives, its row follows its request row.
  const std::string late = "HTTP/1.1 204 No Content\r\n\r\n";
  open->AddResponseData(late.data(), static_cast<int32_t>(late.size()));
  rows = BuildDetailRows(store);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3].firstLine, "HTTP/1.1 204 No Content");
  EXPECT_FALSE(rows[3].IsRequest());
}

TEST(DetailRows, RowsOutliveCleared) {
  ConversationStore store;
  auto c = Add(store, 1, "GET http://a/ HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n");
  c->MarkComplete();
  const std::vector<DetailRow> rows = BuildDetailRows(store);
  store.Clear();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].firstLine, "HTTP/1.1 200 OK");  // the columns keep what was read
  EXPECT_EQ(rows[1].side.FullText(false), "\r\nData no longer in Relaywatch Buffers.\r\n");
  EXPECT_TRUE(BuildDetailRows(store).empty());
}

}  // namespace
}  // namespace rw::app
