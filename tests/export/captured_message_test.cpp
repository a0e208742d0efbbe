#include "export/captured_message.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace rw::capture {
namespace {

TEST(CapturedMessage, HeaderBlockAndBody) {
  const std::string bytes =
      "POST /form HTTP/1.1\r\nHost: example.test\r\nX-Long: one\r\n  two\r\n"
      "Content-Type:text/plain \r\n\r\nbody";
  const CapturedMessage message = ParseCapturedMessage(bytes);
  EXPECT_EQ(message.startLine, "POST /form HTTP/1.1");
  ASSERT_TRUE(message.headerComplete);
  EXPECT_EQ(message.headerSize, bytes.size() - 4);
  EXPECT_EQ(message.body, "body");
  EXPECT_EQ(message.Header("host"), "example.test");
  EXPECT_EQ(message.Header("x-long"), "one two");  // a folded line continues the value
  EXPECT_EQ(message.Header("Content-Type"), "text/plain");
  EXPECT_EQ(message.Header("Cookie"), std::nullopt);
}

TEST(CapturedMessage, BareLineFeedsAndCutHeaders) {
  const CapturedMessage lf = ParseCapturedMessage("GET / HTTP/1.0\nA: 1\n\nrest");
  EXPECT_TRUE(lf.headerComplete);
  EXPECT_EQ(lf.headerSize, 21u);
  EXPECT_EQ(lf.body, "rest");

  // Capture stopped inside the header block: what is there is read, there is no body.
  const CapturedMessage cut = ParseCapturedMessage("HTTP/1.1 200 OK\r\nA: 1\r\nB: 2");
  EXPECT_FALSE(cut.headerComplete);
  EXPECT_EQ(cut.startLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(cut.headers.size(), 1u);
  EXPECT_TRUE(cut.body.empty());

  EXPECT_EQ(ParseCapturedMessage("GET / HTTP/1.1").startLine, "GET / HTTP/1.1");
}

TEST(CapturedMessage, FinalResponseSkipsInterimOnes) {
  const std::string bytes =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
      "HTTP/1.1 201 Created\r\nLocation: /x\r\n\r\nok";
  const CapturedMessage final = ParseFinalResponse(bytes);
  EXPECT_EQ(final.startLine, "HTTP/1.1 201 Created");
  EXPECT_EQ(final.Header("Location"), "/x");
  EXPECT_EQ(final.body, "ok");
  // A 101 is the answer itself: what follows is another protocol.
  EXPECT_EQ(ParseFinalResponse("HTTP/1.1 101 Switching Protocols\r\n\r\nxyz").startLine,
            "HTTP/1.1 101 Switching Protocols");
}

TEST(CapturedMessage, StartLineParts) {
  const StartLineParts status = SplitStartLine("HTTP/1.1 404 Not Found");
  EXPECT_EQ(status.first, "HTTP/1.1");
  EXPECT_EQ(status.second, "404");
  EXPECT_EQ(status.rest, "Not Found");
  const StartLineParts bare = SplitStartLine("HTTP/1.1 200");
  EXPECT_EQ(bare.second, "200");
  EXPECT_EQ(bare.rest, "");
}

// The chunk steps themselves (extensions, trailers, sizes) are the engine's, tested with it.
TEST(CapturedMessage, DecodeChunkedBody) {
  struct Row {
    const char* name;
    std::string body;
    std::optional<std::string> decoded;
  };
  const Row rows[] = {
      {"two chunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world"},
      {"empty body", "0\r\n\r\n", ""},
      {"no last chunk", "3\r\nabc\r\n", std::nullopt},
      {"data longer than its size", "2\r\nabc\r\n0\r\n\r\n", std::nullopt},
      {"size that is not hex", "zz\r\nabc\r\n0\r\n\r\n", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DecodeChunkedBody(row.body), row.decoded);
  }
}

}  // namespace
}  // namespace rw::capture
