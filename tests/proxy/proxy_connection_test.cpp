// Whole exchanges through the engine on loopback: a test browser, the proxy and a scripted origin.
#include "proxy/proxy_connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback_support.h"
#include "platform/process_setup.h"
#include "proxy/fixed_replies.h"

namespace rw::proxy {
namespace {

using testing::Gate;
using testing::OriginPeer;
using testing::ReadAtLeast;
using testing::ReadToClose;
using testing::ScriptedOrigin;
using testing::SendText;
using testing::TestEngine;

std::string Get(uint16_t port, const std::string& path, const std::string& method = "GET") {
  return method + " http://127.0.0.1:" + std::to_string(port) + path +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Encoding: gzip, deflate\r\n\r\n";
}

std::vector<std::shared_ptr<capture::Conversation>> Conversations(TestEngine& engine) {
  return engine.store.Snapshot();
}

TEST(ProxyConnection, TextInThreeReadsReachesTheBrowserWholeAndRewritten) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 30\r\n\r\n";
  const std::string body = "0123456789abcdefghijklmnopqrst";
  std::string received;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    received = peer.ReadRequest();
    peer.Send(header + body.substr(0, 10));
    peer.Send(body.substr(10, 10));
    peer.Send(body.substr(20));
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  const std::string request = Get(origin.Port(), "/a/b?x=1");
  ASSERT_TRUE(SendText(browser, request));
  EXPECT_EQ(ReadAtLeast(browser, header.size() + body.size()), header + body);
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  // Origin form, gzip offer dropped.
  EXPECT_EQ(received, "GET /a/b?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  auto conversations = Conversations(engine);
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_EQ(conversations[0]->GetId(), 2);
  EXPECT_TRUE(conversations[0]->IsComplete());
  // Captured as received, before any rewriting.
  EXPECT_EQ(conversations[0]->RequestText(), request);
  EXPECT_EQ(conversations[0]->ResponseText(), header + body);
}

TEST(ProxyConnection, ChunkedTextIsDecodedForTheBrowserButCapturedAsReceived) {
  const std::string response =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n";
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send(response.substr(0, response.size() - 12));
    peer.Send(response.substr(response.size() - 12));
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/")));
  const std::string expected =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\nhelloabc";
  EXPECT_EQ(ReadAtLeast(browser, expected.size()), expected);
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(Conversations(engine)[0]->ResponseText(), response);
}

// Each piece must reach the browser before the origin sends the next: a held response would stall.
TEST(ProxyConnection, StreamedResponsesGoOutReadByRead) {
  struct Row {
    std::string name;
    std::string header;
    std::vector<std::string> pieces;
  };
  const std::vector<Row> rows = {
      {"image",
       "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 9\r\n\r\n",
       {"GIF", "89a", "xyz"}},
      // A byte 0x01 in the first body bytes turns text into a streamed response.
      {"text reclassified",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n",
       {std::string("ab\x01", 3), "cd", "ef"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::unique_ptr<Gate>> gates;
    for (size_t i = 0; i < row.pieces.size(); ++i) {
      gates.push_back(std::make_unique<Gate>());
    }
    ScriptedOrigin origin([&](OriginPeer& peer) {
      peer.ReadRequest();
      peer.Send(row.header + row.pieces[0]);
      for (size_t i = 1; i < row.pieces.size(); ++i) {
        if (!gates[i - 1]->Wait()) {
          return;
        }
        peer.Send(row.pieces[i]);
      }
      peer.ReadRequest();
    });
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/img")));
    std::string expected = row.header;
    std::string all;
    for (size_t i = 0; i < row.pieces.size(); ++i) {
      expected += row.pieces[i];
      all += ReadAtLeast(browser, expected.size() - all.size());
      EXPECT_EQ(all, expected);  // before the origin sends the next piece
      gates[i]->Open();
    }
  }
}

std::string TextResponse(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Answers every request on a connection with a page naming the request's path.
ScriptedOrigin::Script EchoPathOrigin(Gate* closed = nullptr) {
  return [closed](OriginPeer& peer) {
    for (;;) {
      std::string request = peer.ReadRequest();
      if (request.empty()) {
        break;
      }
      std::string path = request.substr(request.find(' ') + 1);
      path.resize(path.find(' '));
      peer.Send(TextResponse("page " + path));
    }
    if (closed != nullptr) {
      closed->Open();
    }
  };
}

std::string Exchange(const platform::Socket& browser, const std::string& request,
                     const std::string& body) {
  SendText(browser, request);
  std::string expected = TextResponse(body);
  return ReadAtLeast(browser, expected.size());
}

TEST(ProxyConnection, InterimResponseLetsTheBodyFlowAndTheFinalFollows) {
  const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
  const std::string final = TextResponse("done");
  std::string body;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadHeader();
    peer.Send(interim);
    body = peer.ReadExactly(6);
    peer.Send(final);
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  ASSERT_TRUE(SendText(browser, "POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                                    "/up HTTP/1.1\r\nExpect: 100-continue\r\n"
                                    "Content-Length: 6\r\n\r\n"));
  EXPECT_EQ(ReadAtLeast(browser, interim.size()), interim);
  SendText(browser, "abc");
  SendText(browser, "def");
  EXPECT_EQ(ReadAtLeast(browser, final.size()), final);
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(body, "abcdef");
  // The body came after response bytes were captured, so it began a second conversation.
  auto conversations = Conversations(engine);
  ASSERT_EQ(conversations.size(), 2u);
  EXPECT_EQ(conversations[1]->RequestText(), "abcdef");
}

TEST(ProxyConnection, PostBodyInSeveralReadsIsPassedThrough) {
  std::string received;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    received = peer.ReadRequest();
    peer.Send(TextResponse("ok"));
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  const std::string header = "POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                             "/form HTTP/1.1\r\nContent-Length: 7\r\n\r\n";
  // A single body byte in the same read as the header goes right after it.
  SendText(browser, header + "a");
  SendText(browser, "bcd");
  SendText(browser, "efg");
  EXPECT_EQ(ReadAtLeast(browser, TextResponse("ok").size()), TextResponse("ok"));
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(received, "POST /form HTTP/1.1\r\nContent-Length: 7\r\n\r\nabcdefg");
  auto conversations = Conversations(engine);
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_EQ(conversations[0]->RequestText(), header + "abcdefg");
}

// A body that comes in a later read than its header is forwarded as a body whatever the method,
// even when it holds a blank line, and the request after it is parsed as a request.
TEST(ProxyConnection, RequestBodiesAreFramedForEveryMethod) {
  struct Row {
    std::string method;
    std::string framing;  // the header field that frames the body
    std::string body;
  };
  const std::string text = "line one\r\n\r\nGET http://x/ HTTP/1.1\r\n\r\n";
  const std::vector<Row> rows = {
      // A method that rarely carries a body is framed as any other: the framer's table has the
      // rest.
      {"GET", "Content-Length: " + std::to_string(text.size()), text},
      {"PUT", "Transfer-Encoding: chunked", "4\r\nab\r\n\r\n3\r\n\r\n\r\r\n0\r\n\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.method + " with " + row.framing);
    Gate headerArrived;
    std::string header;
    std::string body;
    std::string next;
    ScriptedOrigin origin([&](OriginPeer& peer) {
      header = peer.ReadHeader();
      headerArrived.Open();
      body = peer.ReadExactly(row.body.size());
      peer.Send(TextResponse("stored"));
      next = peer.ReadRequest();
      peer.Send(TextResponse("next"));
      peer.ReadRequest();
    });
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    ASSERT_TRUE(SendText(browser, row.method +
                                      " http://127.0.0.1:" + std::to_string(origin.Port()) +
                                      "/r HTTP/1.1\r\n" + row.framing + "\r\n\r\n"));
    ASSERT_TRUE(headerArrived.Wait());
    SendText(browser, row.body);
    EXPECT_EQ(ReadAtLeast(browser, TextResponse("stored").size()), TextResponse("stored"));
    EXPECT_EQ(Exchange(browser, Get(origin.Port(), "/next"), "next"), TextResponse("next"));
    browser.Close();
    ASSERT_TRUE(engine.Drain());
    EXPECT_EQ(header, row.method + " /r HTTP/1.1\r\n" + row.framing + "\r\n\r\n");
    EXPECT_EQ(body, row.body);
    EXPECT_EQ(next, "GET /next HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  }
}

// The end of a body and the next request in one read: each goes its own way.
TEST(ProxyConnection, RequestAfterABodyInTheSameReadIsParsed) {
  std::vector<std::string> received;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    for (;;) {
      std::string request = peer.ReadRequest();
      if (request.empty()) {
        break;
      }
      received.push_back(request);
      peer.Send(TextResponse("ok"));
    }
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  const std::string put = "PUT http://127.0.0.1:" + std::to_string(origin.Port()) +
                          "/a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
  ASSERT_TRUE(SendText(browser, put + Get(origin.Port(), "/b")));
  EXPECT_EQ(ReadAtLeast(browser, 2 * TextResponse("ok").size()),
            TextResponse("ok") + TextResponse("ok"));
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(received, (std::vector<std::string>{"PUT /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc",
                                                "GET /b HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"}));
}

// The request side tells the response side of a HEAD request; the statuses without a body are
// the response handler's table.
TEST(ProxyConnection, ResponsesWithoutBodyGoOutAtOnce) {
  // Its Content-Length describes the resource, not this response.
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5000\r\n\r\n";
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send(header);
    // The connection stays open: the browser must not wait for it to close.
    peer.ReadRequest();
    peer.Send(TextResponse("next"));
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, Get(origin.Port(), "/", "HEAD"));
  EXPECT_EQ(ReadAtLeast(browser, header.size()), header);
  EXPECT_EQ(Exchange(browser, Get(origin.Port(), "/next"), "next"), TextResponse("next"));
}

TEST(ProxyConnection, HeaderlessMarkupIsSentUnchangedWhenTheServerCloses) {
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send("<html>no header</html>");
    peer.Close();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, Get(origin.Port(), "/"));
  EXPECT_EQ(ReadToClose(browser), "<html>no header</html>");
}

TEST(ProxyConnection, KeptAliveConnectionReusesTheServerUntilANewHostOrPort) {
  Gate firstClosed;
  ScriptedOrigin first(EchoPathOrigin(&firstClosed));
  ScriptedOrigin second(EchoPathOrigin());
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  EXPECT_EQ(Exchange(browser, Get(first.Port(), "/1"), "page /1"), TextResponse("page /1"));
  EXPECT_EQ(Exchange(browser, Get(first.Port(), "/2"), "page /2"), TextResponse("page /2"));
  EXPECT_EQ(Exchange(browser, Get(second.Port(), "/3"), "page /3"), TextResponse("page /3"));
  EXPECT_TRUE(firstClosed.Wait());  // the new host closed the first server connection
  // Another name on the same port is another server, even where it reaches the same address.
  const std::string otherName =
      "GET http://127.1:" + std::to_string(second.Port()) + "/4 HTTP/1.1\r\n\r\n";
  EXPECT_EQ(Exchange(browser, otherName, "page /4"), TextResponse("page /4"));
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(first.Accepted(), 1);
  EXPECT_EQ(second.Accepted(), 2);
  auto conversations = Conversations(engine);
  ASSERT_EQ(conversations.size(), 4u);
  for (size_t i = 0; i < conversations.size(); ++i) {
    EXPECT_EQ(conversations[i]->GetId(), static_cast<int32_t>(i) + 2);
    EXPECT_TRUE(conversations[i]->IsComplete());
  }
  EXPECT_EQ(conversations[2]->RequestFirstLine(),
            "GET http://127.0.0.1:" + std::to_string(second.Port()) + "/3 HTTP/1.1");
}

TEST(ProxyConnection, UnreachableServerGetsTheFailurePage) {
  // A bound socket that does not listen: its port refuses connections.
  platform::SocketResult closed = platform::CreateTcpSocket();
  ASSERT_TRUE(platform::BindIPv4(closed.value, INADDR_LOOPBACK, 0).Ok());
  const std::string closedPort = std::to_string(platform::LocalPort(closed.value).value);
  const std::vector<std::string> requests = {
      "GET http://nowhere.invalid/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1:" + closedPort + "/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1:70000/ HTTP/1.1\r\n\r\n",
      "GET http://127.0.0.1:0/ HTTP/1.1\r\n\r\n",
      "GET http://0.0.0.0:" + closedPort + "/ HTTP/1.1\r\n\r\n",
      // Never a 200 before the failure.
      "CONNECT 127.0.0.1:" + closedPort + " HTTP/1.1\r\n\r\n",
  };
  for (const std::string& request : requests) {
    SCOPED_TRACE(request);
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    SendText(browser, request);
    EXPECT_EQ(ReadToClose(browser), kConnectFailurePage);
    ASSERT_TRUE(engine.Drain());
    auto conversations = Conversations(engine);
    ASSERT_EQ(conversations.size(), 1u);
    EXPECT_EQ(conversations[0]->ResponseText(), kConnectFailurePage);
  }
}

TEST(ProxyConnection, MalformedRequestsGetThe400Literal) {
  // Which request lines name no host is the request line's table; here, the refusal's wiring.
  const std::vector<std::string> requests = {
      "GET /relative HTTP/1.1\r\nHost: a\r\n\r\n",
      std::string(kMaxRequestHeaderBytes + 1, 'a'),  // no header end within 64 KiB
  };
  for (const std::string& request : requests) {
    SCOPED_TRACE(request.substr(0, 40));
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    SendText(browser, request);
    EXPECT_EQ(ReadToClose(browser), "HTTP/1.0 400 Invalid header received from browser\n\n");
  }
}

// The header cap holds whether the header arrives in one read or several, and the gzip rule looks
// at header lines only, never at the request line.
TEST(ProxyConnection, RequestHeaderRulesHoldWhateverTheReads) {
  struct Row {
    std::string name;
    std::string path;
    size_t firstWrite;  // bytes of the request in the first write; the rest follows
    bool forwarded;
  };
  const std::string longPath = "/" + std::string(70 * 1000, 'a');
  const std::string fitPath = "/" + std::string(60 * 1000, 'b');
  const std::vector<Row> rows = {
      {"70 KB target in one write", longPath, std::string::npos, false},
      {"70 KB target in two writes", longPath, 40000, false},
      {"60 KB target in one write", fitPath, std::string::npos, true},
      {"60 KB target in two writes", fitPath, 30000, true},
      {"query naming the gzip offer", "/find?q=accept-encoding:gzip", std::string::npos, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string received;
    ScriptedOrigin origin([&](OriginPeer& peer) {
      received = peer.ReadRequest();
      if (!received.empty()) {
        peer.Send(TextResponse("ok"));
      }
      peer.ReadRequest();
    });
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    const std::string request = Get(origin.Port(), row.path);
    const size_t first = std::min(row.firstWrite, request.size());
    ASSERT_TRUE(SendText(browser, request.substr(0, first)));
    SendText(browser, request.substr(first));
    if (row.forwarded) {
      EXPECT_EQ(ReadAtLeast(browser, TextResponse("ok").size()), TextResponse("ok"));
      browser.Close();
      ASSERT_TRUE(engine.Drain());
      EXPECT_EQ(received, "GET " + row.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    } else {
      EXPECT_EQ(ReadToClose(browser), kBadRequestReply);
      browser.Close();
      ASSERT_TRUE(engine.Drain());
      EXPECT_EQ(origin.Accepted(), 0);
    }
  }
}

TEST(ProxyConnection, LaterRequestWithoutHostIsRefusedNotSentToTheEarlierServer) {
  ScriptedOrigin origin(EchoPathOrigin());
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  EXPECT_EQ(Exchange(browser, Get(origin.Port(), "/1"), "page /1"), TextResponse("page /1"));
  SendText(browser, "GET /2 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(ReadToClose(browser), kBadRequestReply);
}

TEST(ProxyConnection, UpstreamProxyReceivesTheRequestUnchanged) {
  std::vector<std::string> received;
  std::mutex receivedLock;
  ScriptedOrigin upstream([&](OriginPeer& peer) {
    std::string request = peer.ReadRequest();
    {
      std::lock_guard<std::mutex> lock(receivedLock);
      received.push_back(request);
    }
    peer.Send(TextResponse("via upstream"));
    peer.ReadRequest();
  });
  ScriptedOrigin direct(EchoPathOrigin());
  TestEngine engine;
  engine.settings.proxyAddress = "127.0.0.1";
  engine.settings.proxyPort = upstream.Port();
  ASSERT_TRUE(engine.Start());
  const std::string request =
      "GET http://example.invalid/x?y HTTP/1.1\r\nHost: example.invalid\r\n\r\n";
  {
    platform::Socket browser = engine.Browser();
    EXPECT_EQ(Exchange(browser, request, "via upstream"), TextResponse("via upstream"));
  }
  // Settings changed but not applied: connections keep the upstream published at the start.
  engine.settings.proxyAddress.clear();
  {
    platform::Socket browser = engine.Browser();
    EXPECT_EQ(Exchange(browser, request, "via upstream"), TextResponse("via upstream"));
  }
  ASSERT_TRUE(engine.Start());
  {
    platform::Socket browser = engine.Browser();
    EXPECT_EQ(Exchange(browser, Get(direct.Port(), "/d"), "page /d"), TextResponse("page /d"));
  }
  ASSERT_TRUE(engine.Drain());
  std::lock_guard<std::mutex> lock(receivedLock);
  EXPECT_EQ(received, (std::vector<std::string>{request, request}));
}

TEST(ProxyConnection, LargeBinaryBodyStreamsExactlyAndEndsAtItsLength) {
  const size_t size = 3 * 1024 * 1024 + 17;
  std::string body(size, '\0');
  for (size_t i = 0; i < size; i += 7) {
    body[i] = static_cast<char>(0x81 + i % 30);  // 0x00 and 0x81-0x9E: never captured as text
  }
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
      "Content-Length: " +
      std::to_string(size) + "\r\n\r\n";
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nafter\r\n0\r\n\r\n";
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send(header.substr(0, 20));
    peer.Send(header.substr(20) + body.substr(0, 1000));
    peer.Send(body.substr(1000));
    peer.ReadRequest();
    peer.Send(chunked);
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, Get(origin.Port(), "/big.bin"));
  std::string received = ReadAtLeast(browser, header.size() + size);
  EXPECT_TRUE(received == header + body);  // not EXPECT_EQ: a 3 MiB diff helps nobody
  // Decoded, so it was parsed as a response of its own: the body ended at its length.
  SendText(browser, Get(origin.Port(), "/next"));
  const std::string decoded =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nafter";
  EXPECT_EQ(ReadAtLeast(browser, decoded.size()), decoded);
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  auto conversations = Conversations(engine);
  ASSERT_EQ(conversations.size(), 2u);
  EXPECT_EQ(conversations[0]->ResponseTotal(), static_cast<int64_t>(header.size() + size));
  // Every read of the body starts with a non-text byte: only the header is captured.
  EXPECT_EQ(conversations[0]->ResponseText(),
            header + "\r\n(" + std::to_string(size) + " bytes not shown)\r\n");
  EXPECT_EQ(conversations[1]->ResponseText(), chunked);
}

// A browser that reads slowly leaves bytes in the pipe while more of the body arrives; runs of
// text (read the ordinary way) and of binary (spliced) must still reach it in order.
TEST(ProxyConnection, StreamedBodyKeepsItsOrderWhenTheBrowserReadsSlowly) {
  const size_t size = 6 * 1024 * 1024 + 5;
  std::string body(size, 'a');
  for (size_t i = 0; i < size; ++i) {
    const size_t run = i / 20000;
    if (run % 3 != 0) {
      body[i] = static_cast<char>(i % 251);  // binary runs carry their position
    }
  }
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
      std::to_string(size) + "\r\n\r\n";
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send(header + body);
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, Get(origin.Port(), "/slow.bin"));
  std::string received;
  char buffer[32768];
  while (received.size() < header.size() + size) {
    if (received.size() < 2 * 1024 * 1024) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the pipe fills meanwhile
    }
    const platform::SysCallResult result = platform::Recv(browser, buffer, sizeof(buffer));
    if (result.value <= 0) {
      break;
    }
    received.append(buffer, static_cast<size_t>(result.value));
  }
  EXPECT_TRUE(received == header + body);  // not EXPECT_EQ: a 6 MiB diff helps nobody
  browser.Close();
  ASSERT_TRUE(engine.Drain());
}

// Each upload byte comes back twice, as itself and inverted.
std::string Doubled(std::string_view bytes) {
  std::string doubled;
  doubled.reserve(2 * bytes.size());
  for (char c : bytes) {
    doubled.push_back(c);
    doubled.push_back(static_cast<char>(~c));
  }
  return doubled;
}

// An origin that answers a large upload while it reads it, with more bytes than it reads: the
// proxy must keep relaying the answer while the server is not taking more of the upload, or the
// proxy, the server and the browser all wait on one another.
TEST(ProxyConnection, UploadAndDownloadAtOnceDoNotStall) {
  const size_t size = 16 * 1024 * 1024;
  // No byte below 9 in the answer: it is streamed read by read, not moved in large splices.
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>('a' + (i * 7) % 26);
  }
  const std::string responseHeader =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
      std::to_string(2 * size) + "\r\n\r\n";
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadHeader();
    if (!peer.Send(responseHeader)) {
      return;
    }
    size_t echoed = 0;
    while (echoed < size) {
      const std::string piece = peer.ReadSome(std::min<size_t>(64 * 1024, size - echoed));
      if (piece.empty() || !peer.Send(Doubled(piece))) {
        return;
      }
      echoed += piece.size();
    }
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  const std::string request = "POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                              "/echo HTTP/1.1\r\nContent-Length: " + std::to_string(size) +
                              "\r\n\r\n";
  std::thread uploader([&] { SendText(browser, request + body); });
  const std::string received = ReadAtLeast(browser, responseHeader.size() + 2 * size);
  ::shutdown(browser.Fd(), SHUT_RDWR);  // ends a stalled upload rather than waiting for it
  uploader.join();
  EXPECT_EQ(received.size(), responseHeader.size() + 2 * size);
  EXPECT_TRUE(received == responseHeader + Doubled(body));  // not EXPECT_EQ: 32 MiB diffs
}

int64_t ResidentBytes() {
  platform::ReleaseFreeMemory();
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0;
  int64_t resident = 0;
  statm >> pages >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

// Kept-alive connections that have fetched a binary body hold no large buffers while idle.
TEST(ProxyConnection, IdleConnectionsGiveTheirBuffersBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers keep freed memory resident";
#endif
  constexpr int kConnections = 100;
  std::string png(64 * 1024, '\0');
  for (size_t i = 0; i < png.size(); i += 3) {
    png[i] = static_cast<char>(0x80 + i % 100);
  }
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                             std::to_string(png.size()) + "\r\n\r\n";
  // The body follows once the browser has the header, as a server sending a file does: it then
  // takes the streamed path.
  std::vector<std::unique_ptr<Gate>> headerSeen;
  for (int i = 0; i <= kConnections; ++i) {
    headerSeen.push_back(std::make_unique<Gate>());
  }
  ScriptedOrigin origin([&](OriginPeer& peer) {
    for (;;) {
      const std::string request = peer.ReadRequest();
      if (request.empty()) {
        return;
      }
      const size_t at = request.find("/img/") + 5;
      const int index = std::stoi(request.substr(at));
      peer.Send(header);
      if (!headerSeen[static_cast<size_t>(index)]->Wait()) {
        return;
      }
      peer.Send(png);
    }
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  std::vector<platform::Socket> browsers;
  auto fetch = [&](int index) {
    browsers.push_back(engine.Browser());
    SendText(browsers.back(), Get(origin.Port(), "/img/" + std::to_string(index)));
    EXPECT_EQ(ReadAtLeast(browsers.back(), header.size()), header);
    headerSeen[static_cast<size_t>(index)]->Open();
    EXPECT_EQ(ReadAtLeast(browsers.back(), png.size()).size(), png.size());
  };
  // The first connection's thread and pipe are set up before the count starts.
  fetch(0);
  const int64_t before = ResidentBytes();
  for (int i = 1; i <= kConnections; ++i) {
    fetch(i);
  }
  const int64_t perConnection = (ResidentBytes() - before) / kConnections;
  // The origin's threads and the test's own buffers are in this figure too.
  EXPECT_LT(perConnection, 192 * 1024);
  RecordProperty("residentBytesPerIdleConnection", std::to_string(perConnection));
}

TEST(ProxyConnection, BrowserLeavingMidDownloadEndsTheConnectionQuietly) {
  const size_t size = 16 * 1024 * 1024;
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n"
      "Content-Length: " +
      std::to_string(size) + "\r\n\r\n";
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send(header);
    std::string block(64 * 1024, '\x01');
    for (size_t sent = 0; sent < size; sent += block.size()) {
      if (!peer.Send(block)) {
        break;  // the proxy closed its server side
      }
    }
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  {
    platform::Socket browser = engine.Browser();
    SendText(browser, Get(origin.Port(), "/file.zip"));
    EXPECT_EQ(ReadAtLeast(browser, 1024 * 1024).substr(0, header.size()), header);
  }
  // Writes to the closed browser fail (and raise SIGPIPE, which must not end the process).
  ASSERT_TRUE(engine.Drain());
  const auto conversations = engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_TRUE(conversations[0]->IsComplete());
  EXPECT_TRUE(engine.errors.errors.empty());
}

}  // namespace
}  // namespace rw::proxy
