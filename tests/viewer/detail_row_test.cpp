#include "viewer/detail_row.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace rw::viewer {
namespace {

using capture::Conversation;
using capture::ConversationStore;

std::shared_ptr<Conversation> Add(ConversationStore& store, int32_t id, const std::string& request,
                                  const std::string& response, const std::string& origin = {}) {
  auto c = std::make_shared<Conversation>(id, store, origin);
  store.AddConversation(c);
  if (!request.empty()) {
    c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  }
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

TEST(DetailRows, RequestLineWithOrigin) {
  struct Case {
    const char* origin;
    const char* line;
    const char* shown;
  };
  const Case cases[] = {
      {"", "GET /a HTTP/1.1", "GET /a HTTP/1.1"},  // plain HTTP: as captured
      {"https://h.test", "GET /a?b=c HTTP/1.1", "GET https://h.test/a?b=c HTTP/1.1"},
      {"https://h.test:8443", "POST / HTTP/1.1", "POST https://h.test:8443/ HTTP/1.1"},
      {"https://h.test", "GET http://other.test/x HTTP/1.1", "GET http://other.test/x HTTP/1.1"},
      {"https://h.test", "OPTIONS * HTTP/1.1", "OPTIONS * HTTP/1.1"},
      {"https://h.test", "GARBAGE", "GARBAGE"},
      {"https://h.test", "GET ", "GET "},
      {"https://h.test", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.origin) + " | " + c.line);
    EXPECT_EQ(RequestLineWithOrigin(c.origin, c.line), c.shown);
  }
}

TEST(DetailRows, DecryptedRowsShowTheUrlAndAFailedHandshakeNamesItsHost) {
  ConversationStore store;
  const std::string request = "GET /p HTTP/1.1\r\nHost: h.test\r\n\r\n";
  Add(store, 7, request, "HTTP/1.1 200 OK\r\n\r\n", "https://h.test:8443");
  const std::string note = "TLS handshake with the browser failed: tlsv1 alert unknown ca";
  Add(store, 8, "", note, "https://bad.test");
  Add(store, 9, "", "", "https://quiet.test");  // nothing at all: still no row

  const std::vector<DetailRow> rows = BuildDetailRows(store);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].firstLine, "GET https://h.test:8443/p HTTP/1.1");
  // The captured bytes are untouched.
  EXPECT_EQ(rows[0].side.FullText(false).rfind(request, 0), 0u);
  EXPECT_EQ(rows[1].firstLine, "HTTP/1.1 200 OK");
  EXPECT_TRUE(rows[2].IsRequest());
  EXPECT_EQ(rows[2].firstLine, "TLS https://bad.test");
  EXPECT_EQ(rows[2].id, 8);
  EXPECT_EQ(rows[2].bytes, 0);
  EXPECT_EQ(rows[2].side.FullText(false), "");
  EXPECT_FALSE(rows[3].IsRequest());
  EXPECT_EQ(rows[3].firstLine, note);
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
}  // namespace rw::viewer
