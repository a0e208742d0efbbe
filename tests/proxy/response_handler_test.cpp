#include "proxy/response_handler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "proxy/fixed_replies.h"

namespace rw::proxy {
namespace {

class RecordingOutput : public ResponseOutput {
 public:
  void SendToBrowser(std::string_view bytes) override { sends.emplace_back(bytes); }
  void CaptureResponseBytes(std::string_view bytes) override { captured += bytes; }
  void ResponseEnded() override { ++ended; }

  std::string All() const {
    std::string all;
    for (const std::string& send : sends) {
      all += send;
    }
    return all;
  }

  std::vector<std::string> sends;
  std::string captured;
  int ended = 0;
};

// Feeds each piece as one server read, as the relay loop does.
class Feeder {
 public:
  Feeder() : handler(output) { handler.Reset(); }

  ServerDataOutcome Read(std::string_view piece) {
    handler.Buffer().Append(piece);
    return handler.HandleServerData();
  }

  RecordingOutput output;
  ResponseHandler handler;
};

TEST(ResponseHandler, TextWithLengthInThreeReadsGoesOutInOneSendAfterTheLast) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1000\r\n\r\n";
  const std::string body(1000, 'x');
  Feeder feeder;
  feeder.Read(header + body.substr(0, 300));
  feeder.Read(body.substr(300, 400));
  EXPECT_TRUE(feeder.output.sends.empty());
  feeder.Read(body.substr(700));
  ASSERT_EQ(feeder.output.sends.size(), 1u);
  EXPECT_EQ(feeder.output.sends[0], header + body);
  EXPECT_EQ(feeder.handler.Action(), BodyAction::kAwaitingHeader);
}

TEST(ResponseHandler, ChunkedTextIsDecodedWithALengthWhateverTheSplit) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Type: text/html\r\n\r\n";
  const std::string body = "5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n";
  const std::string expected =
      "HTTP/1.1 200 OK\r\nContent-Length: 8\nContent-Type: text/html\r\n\r\nhelloabc";
  const std::string response = header + body;
  for (size_t split = 1; split < response.size(); ++split) {
    SCOPED_TRACE(split);
    Feeder feeder;
    feeder.Read(response.substr(0, split));
    EXPECT_TRUE(feeder.output.sends.empty());
    feeder.Read(response.substr(split));
    EXPECT_EQ(feeder.output.All(), expected);
    EXPECT_EQ(feeder.handler.Action(), BodyAction::kAwaitingHeader);
  }
}

TEST(ResponseHandler, ChunkedImagePassesUnchanged) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nTransfer-Encoding: chunked\r\n\r\n";
  Feeder feeder;
  feeder.Read(header + "3\r\n\x89PN\r\n");
  feeder.Read("0\r\n\r\n");
  EXPECT_EQ(feeder.output.All(), header + "3\r\n\x89PN\r\n0\r\n\r\n");
}

TEST(ResponseHandler, InterimThenFinalInOneReadIsHandledAtOnce) {
  const std::string final =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok";
  // 103 Early Hints precedes the real response just as 100 Continue does.
  for (std::string interim :
       {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n"}) {
    SCOPED_TRACE(interim);
    Feeder feeder;
    // The final response has begun, so the browser's next bytes are a new request, not a body.
    EXPECT_EQ(feeder.Read(interim + final), ServerDataOutcome::kContinue);
    EXPECT_EQ(feeder.output.sends, (std::vector<std::string>{interim, final}));
    // Alone in its read, the interim response lets the request body flow.
    Feeder alone;
    EXPECT_EQ(alone.Read(interim), ServerDataOutcome::kInterimForwarded);
    EXPECT_EQ(alone.Read(final), ServerDataOutcome::kContinue);
    EXPECT_EQ(alone.output.sends, (std::vector<std::string>{interim, final}));
  }
}

TEST(ResponseHandler, SwitchingProtocolsIsFinalAndBecomesATunnel) {
  const std::string header =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n";
  const std::string frame = "\x81\x05hello";
  Feeder feeder;
  EXPECT_EQ(feeder.Read(header + frame), ServerDataOutcome::kSwitchedToTunnel);
  EXPECT_EQ(feeder.output.sends, (std::vector<std::string>{header, frame}));
  // Whatever follows is passed on as it comes, even when it looks like a header.
  const std::string later = "HTTP/1.1 200 OK\r\n\r\n";
  EXPECT_EQ(feeder.Read(later), ServerDataOutcome::kContinue);
  EXPECT_EQ(feeder.output.sends.back(), later);
  feeder.handler.Reset();
  EXPECT_EQ(feeder.handler.Action(), BodyAction::kTunnel);
}

TEST(ResponseHandler, ResponsesWithoutABodyToHoldGoOutAtTheirHeader) {
  struct Row {
    std::string header;
    bool head;
  };
  const std::vector<Row> rows = {
      {"HTTP/1.1 204 No Content\r\n\r\n", false},
      {"HTTP/1.1 304 Not Modified\r\nContent-Type: text/html\r\n\r\n", false},
      // A coding on a response without a body: there are no chunks to wait for.
      {"HTTP/1.1 204 No Content\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n",
       false},
      {"HTTP/1.1 304 Not Modified\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n",
       false},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5000\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.header);
    Feeder feeder;
    feeder.handler.SetHeadRequest(row.head);
    feeder.Read(row.header);
    EXPECT_EQ(feeder.output.All(), row.header);
  }
}

TEST(ResponseHandler, DecodedChunkedTextNamesOneLengthAndNoCoding) {
  struct Row {
    std::string name;
    std::string lines;     // between the status line and the coding
    std::string expected;  // the same place in what the browser gets
  };
  const std::vector<Row> rows = {
      // Only the line named Transfer-Encoding is replaced, not the first that mentions it.
      {"exposed", "Access-Control-Expose-Headers: Transfer-Encoding, ETag\r\n",
       "Access-Control-Expose-Headers: Transfer-Encoding, ETag\r\n"},
      // The coding overrides a length sent beside it: that length must not reach the browser.
      {"length beside the coding", "Content-Length: 99\r\n", ""},
      {"named in another field, and a length beside",
       "Access-Control-Expose-Headers: Transfer-Encoding, ETag\r\nContent-Length: 99\r\n",
       "Access-Control-Expose-Headers: Transfer-Encoding, ETag\r\n"},
      // The first coding line becomes the length; a repeated one must not survive beside it.
      {"coding named twice", "Transfer-Encoding: chunked\r\n", ""},
      {"coding named twice around a length",
       "Transfer-Encoding: chunked\r\nContent-Length: 7\r\nTRANSFER-ENCODING: chunked\r\n", ""},
      {"none", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Feeder feeder;
    feeder.Read("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + row.lines +
                "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    EXPECT_EQ(feeder.output.All(), "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + row.expected +
                                       "Content-Length: 5\r\n\r\nhello");
  }
}

// Only a body that is just chunked is de-chunked: under a further coding the browser must get the
// codings it is told of, so such a page goes through unchanged.
TEST(ResponseHandler, TextUnderAFurtherCodingStreamsUnchanged) {
  for (const std::string codings : {"gzip, chunked", "x-custom,chunked"}) {
    SCOPED_TRACE(codings);
    Feeder feeder;
    const std::string response =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: " + codings +
        "\r\n\r\n3\r\n\x1f\x8b\x08\r\n0\r\n\r\n";
    feeder.Read(response);
    EXPECT_EQ(feeder.output.All(), response);
  }
}

TEST(ResponseHandler, LengthOnAnInterimResponseDoesNotCutTheFinalOne) {
  Feeder feeder;
  const std::string interim = "HTTP/1.1 100 Continue\r\nContent-Length: 3\r\n\r\n";
  feeder.Read(interim);
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
  feeder.Read(header + "<p>");
  feeder.Read("held</p>");
  feeder.handler.Finish();  // the server closed: the page is held whole until then
  EXPECT_EQ(feeder.output.sends, (std::vector<std::string>{interim, header + "<p>held</p>"}));
}

TEST(ResponseHandler, HeaderlessMarkupSentUnchangedAtClose) {
  Feeder feeder;
  feeder.Read(" \r\n<html>hi");
  feeder.Read("</html>");
  EXPECT_TRUE(feeder.output.sends.empty());
  feeder.handler.Finish();
  EXPECT_EQ(feeder.output.All(), " \r\n<html>hi</html>");
  EXPECT_TRUE(feeder.output.captured.empty());
}

TEST(ResponseHandler, UnendedHeaderGetsALineEndAtClose) {
  Feeder feeder;
  feeder.Read("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n");
  feeder.handler.Finish();
  EXPECT_EQ(feeder.output.captured, "\r\n");
  EXPECT_EQ(feeder.output.All(), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
}

TEST(ResponseHandler, TextReclassifiedByABinaryByteInTheHeaderRead) {
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";
  for (char binary : {'\x01', '\x80'}) {
    SCOPED_TRACE(static_cast<int>(binary));
    Feeder feeder;
    feeder.Read(header + "ab" + binary + "c");
    EXPECT_EQ(feeder.output.All(), header + "ab" + binary + "c");
    EXPECT_EQ(feeder.handler.ContentClass(), kClassOther);
  }
  // Only the first pass after the header looks: a later binary byte changes nothing.
  Feeder feeder;
  feeder.Read(header + "ab");
  feeder.Read("\x01");
  EXPECT_TRUE(feeder.output.sends.empty());
  EXPECT_EQ(feeder.handler.ContentClass(), kClassText);
}

TEST(ResponseHandler, ServerCloseMidChunkedTextSendsHeaderDecodedPartAndRawRest) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
  Feeder feeder;
  feeder.Read(header + "5\r\nhello\r\n3\r\nab");
  feeder.handler.Finish();
  // The decoded part is one chunk, so this happens to be the bytes as received.
  EXPECT_EQ(feeder.output.All(), header + "5\r\nhello" + "\r\n3\r\nab");
  EXPECT_FALSE(feeder.handler.HoldsResponse());
}

TEST(ResponseHandler, ResetForgetsAHalfDecodedBody) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
  Feeder feeder;
  feeder.Read(header + "5\r\nhello\r\n");
  feeder.handler.Buffer().Clear();
  feeder.handler.Reset();
  feeder.Read("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  EXPECT_EQ(feeder.output.All(), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
}

TEST(ResponseHandler, UnendedHeaderBeyondTheCapStreamsAsReceived) {
  Feeder feeder;
  std::string junk(kMaxResponseHeaderBytes, 'h');
  feeder.Read(junk);
  EXPECT_TRUE(feeder.output.sends.empty());
  feeder.Read("more");
  EXPECT_EQ(feeder.output.All(), junk + "more");
  feeder.Read("tail");
  EXPECT_EQ(feeder.output.sends.back(), "tail");
}

TEST(ResponseHandler, HeldTextBeyondTheCapStopsBeingHeld) {
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";
  const std::string piece(1024 * 1024, 't');
  Feeder feeder;
  feeder.Read(header);
  size_t fed = 0;
  while (feeder.output.sends.empty()) {
    ASSERT_LE(fed, kMaxHeldResponseBytes);
    feeder.Read(piece);
    fed += piece.size();
  }
  EXPECT_GT(fed, kMaxHeldResponseBytes);
  EXPECT_EQ(feeder.output.sends[0].size(), header.size() + fed);
  feeder.Read("rest");
  EXPECT_EQ(feeder.output.sends.back(), "rest");
}

TEST(ResponseHandler, HeldChunkedTextBeyondTheCapSendsOriginalHeaderAndOneChunk) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string data(1024 * 1024, 'c');
  const std::string chunk = "100000\r\n" + data + "\r\n";
  Feeder feeder;
  feeder.Read(header);
  size_t chunks = 0;
  while (feeder.output.sends.empty()) {
    ASSERT_LE(chunks * data.size(), kMaxHeldResponseBytes);
    feeder.Read(chunk);
    ++chunks;
  }
  EXPECT_EQ(feeder.output.ended, 0);
  feeder.Read("0\r\n\r\n");
  EXPECT_EQ(feeder.output.ended, 1);  // the chunks passed on still show where the body ends
  // One chunk holding everything decoded, closed by the server's own line end, then the rest.
  char size[32];
  std::snprintf(size, sizeof(size), "%zx\r\n", chunks * data.size());
  std::string expected = header + size;
  for (size_t i = 0; i < chunks; ++i) {
    expected += data;
  }
  expected += "\r\n0\r\n\r\n";
  EXPECT_TRUE(feeder.output.All() == expected);
  EXPECT_EQ(feeder.output.sends.back(), "0\r\n\r\n");
}

// Each response reports its end exactly once, with its last byte and not before: the exchange
// ends there, not when the browser's next request comes.
TEST(ResponseHandler, ResponseEndsWithItsLastByteWhateverItsFraming) {
  struct Row {
    std::string name;
    std::string response;
    bool head = false;
  };
  const std::string image = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n";
  const std::string chunks = "5\r\nhello\r\n3;x=1\r\nabc\r\n0\r\nTrailer: t\r\n\r\n";
  const std::vector<Row> rows = {
      {"held text by length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"},
      {"held chunked text",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks},
      {"streamed by length", image + "Content-Length: 5\r\n\r\n\x89PNG!"},
      {"streamed chunked", image + "Transfer-Encoding: chunked\r\n\r\n" + chunks},
      // The coding decides: the length beside it would end the body after three bytes.
      {"streamed chunked with a length",
       image + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks},
      {"chunked error page",
       "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n" +
           chunks},
      {"no content", "HTTP/1.1 204 No Content\r\nContent-Length: 12\r\n\r\n"},
      // Its length describes the cached resource; no body follows.
      {"not modified", "HTTP/1.1 304 Not Modified\r\nContent-Length: 12\r\n\r\n"},
      {"head", "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n", true},
  };
  for (const Row& row : rows) {
    // Every split into two reads: the end is found wherever the last read begins.
    for (size_t at = 1; at < row.response.size(); ++at) {
      SCOPED_TRACE(row.name + " split at " + std::to_string(at));
      Feeder feeder;
      feeder.handler.SetHeadRequest(row.head);
      feeder.Read(row.response.substr(0, at));
      ASSERT_EQ(feeder.output.ended, 0);
      feeder.Read(row.response.substr(at));
      ASSERT_EQ(feeder.output.ended, 1);
      if (row.name.find("streamed") != std::string::npos) {
        EXPECT_EQ(feeder.output.All(), row.response);  // relayed unchanged
      }
      EXPECT_EQ(feeder.handler.Action(), BodyAction::kAwaitingHeader);
    }
  }
}

// A streamed chunked body moved without being looked at may run only to the end of a chunk's
// data: the framing after it must be read to find the body's end.
TEST(ResponseHandler, StreamedChunkedBodyBoundsWhatMayPassUnseen) {
  Feeder feeder;
  feeder.Read(
      "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 9\r\n"
      "Transfer-Encoding: chunked\r\n\r\n1000\r\nab");
  EXPECT_EQ(feeder.handler.RemainingBodyBytes(), 0x1000 - 2);
  ASSERT_TRUE(feeder.handler.StreamsUnchanged());
  feeder.handler.AccountStreamedBytes(0x1000 - 2);
  EXPECT_EQ(feeder.handler.RemainingBodyBytes(), 0);
  EXPECT_EQ(feeder.output.ended, 0);
  feeder.Read("\r\n0\r\n\r\n");
  EXPECT_EQ(feeder.output.ended, 1);
}

}  // namespace
}  // namespace rw::proxy
