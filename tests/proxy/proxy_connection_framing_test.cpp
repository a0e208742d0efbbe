// Where exchanges end on a kept-alive browser connection, through the engine on loopback: a
// response ends by its own framing, the exchange with it, and the next request waits its turn.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "capture/exchange_observer.h"
#include "loopback_support.h"
#include "proxy/fixed_replies.h"
#include "proxy/proxy_connection.h"

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
  return method + " http://127.0.0.1:" + std::to_string(port) + path + " HTTP/1.1\r\n\r\n";
}

std::string Page(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Answers every request on a connection with a page naming this origin and the request line.
ScriptedOrigin::Script NamedOrigin(const std::string& name) {
  return [name](OriginPeer& peer) {
    for (;;) {
      const std::string request = peer.ReadRequest();
      if (request.empty()) {
        return;
      }
      peer.Send(Page(name + ": " + request.substr(0, request.find('\r'))));
    }
  };
}

// Counts completed exchanges as the store reports them.
class CompletionWaiter : public capture::ExchangeObserver {
 public:
  void ExchangeCompleted(const capture::Conversation& conversation) override {
    std::lock_guard<std::mutex> lock(waiterLock);
    ids.push_back(conversation.GetId());
    changed.notify_all();
  }
  // False when fewer than `count` came within 10 s (a failed test, not a timing check).
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(waiterLock);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return ids.size() >= count; });
  }
  std::vector<int32_t> Ids() {
    std::lock_guard<std::mutex> lock(waiterLock);
    return ids;
  }

 private:
  std::mutex waiterLock;  // leaf
  std::condition_variable changed;
  std::vector<int32_t> ids;  // guarded by waiterLock
};

TEST(ProxyConnection, KeptAliveExchangeCompletesWithItsResponse) {
  struct Row {
    std::string name;
    std::string method;
    std::string response;
    std::string delivered{};  // what the browser gets, when not the response itself
  };
  const std::string chunks = "5\r\nhello\r\n0\r\n\r\n";
  const std::vector<Row> rows = {
      {"held by length", "GET", Page("hello")},
      {"held chunked", "GET",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks,
       "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello"},
      {"streamed by length", "GET",
       "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 3\r\n\r\nGIF"},
      {"streamed chunked", "GET",
       "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks},
      {"head", "HEAD", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\n\r\n"},
      {"no content", "GET", "HTTP/1.1 204 No Content\r\n\r\n"},
      {"not modified", "GET", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedOrigin origin([&](OriginPeer& peer) {
      peer.ReadRequest();
      peer.Send(row.response);
      NamedOrigin("next")(peer);
    });
    CompletionWaiter completed;
    TestEngine engine;
    engine.store.SetExchangeObserver(&completed);
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/first", row.method)));
    const std::string& delivered = row.delivered.empty() ? row.response : row.delivered;
    EXPECT_EQ(ReadAtLeast(browser, delivered.size()), delivered);
    // The browser keeps the connection open and sends nothing: the exchange is over all the same.
    ASSERT_TRUE(completed.WaitFor(1));
    auto conversations = engine.store.Snapshot();
    ASSERT_EQ(conversations.size(), 1u);
    EXPECT_EQ(completed.Ids(), (std::vector<int32_t>{2}));
    EXPECT_EQ(conversations[0]->ResponseTotal(), static_cast<int64_t>(row.response.size()));

    // The next request on the same connection is an exchange of its own.
    const std::string next = Page("next: GET /second HTTP/1.1");
    ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/second")));
    EXPECT_EQ(ReadAtLeast(browser, next.size()), next);
    ASSERT_TRUE(completed.WaitFor(2));
    conversations = engine.store.Snapshot();
    ASSERT_EQ(conversations.size(), 2u);
    EXPECT_EQ(conversations[1]->RequestFirstLine(),
              "GET http://127.0.0.1:" + std::to_string(origin.Port()) + "/second HTTP/1.1");
    EXPECT_EQ(conversations[1]->ResponseTotal(), static_cast<int64_t>(next.size()));
    EXPECT_EQ(completed.Ids(), (std::vector<int32_t>{2, 3}));
    EXPECT_TRUE(conversations[0]->IsComplete());
    browser.Close();
    ASSERT_TRUE(engine.Drain());
    // Closing an idle connection adds no empty exchange.
    EXPECT_EQ(engine.store.Snapshot().size(), 2u);
  }
}

// A streamed response whose rest comes once its head has reached the browser: its own framing
// says where it ends, so the rest goes on unchanged and is not taken for the next response.
TEST(ProxyConnection, StreamedResponseRestGoesOnAtOnce) {
  struct Row {
    std::string name;
    std::string method;
    std::string head;
    std::string rest;
  };
  const std::vector<Row> rows = {
      // The chunks decide, not the length beside them.
      {"chunked with a length", "GET",
       "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 4\r\n"
       "Transfer-Encoding: chunked\r\n\r\n4\r\nGIF8\r\n",
       "3\r\n9a!\r\n0\r\n\r\n"},
      // Methods are case-sensitive: "head" is not HEAD, and its answer has a body.
      {"lower-case head", "head",
       "HTTP/1.1 405 Method Not Allowed\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\n",
       "no!\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Gate headSeen;
    ScriptedOrigin origin([&](OriginPeer& peer) {
      peer.ReadRequest();
      peer.Send(row.head);
      if (headSeen.Wait()) {
        peer.Send(row.rest);
      }
      NamedOrigin("next")(peer);
    });
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/image", row.method)));
    EXPECT_EQ(ReadAtLeast(browser, row.head.size()), row.head);
    headSeen.Open();
    EXPECT_EQ(ReadAtLeast(browser, row.rest.size()), row.rest);  // unchanged, and at once
    const std::string next = Page("next: GET /after HTTP/1.1");
    ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/after")));
    EXPECT_EQ(ReadAtLeast(browser, next.size()), next);
  }
}

// Framed by its coding, forwarded without the length beside it, so that the server cannot
// read another end into it; the request after it is parsed where the chunks end.
TEST(ProxyConnection, RequestWithLengthAndCodingGoesOnWithoutTheLength) {
  const std::string body = "4\r\nabcd\r\n0\r\n\r\n";
  std::string header;
  std::string received;
  std::string next;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    header = peer.ReadHeader();
    received = peer.ReadExactly(body.size());
    peer.Send(Page("stored"));
    next = peer.ReadRequest();
    peer.Send(Page("next"));
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  ASSERT_TRUE(SendText(browser, "POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                                    "/up HTTP/1.1\r\nContent-Length: 6\r\nTransfer-Encoding: "
                                    "chunked\r\nContent-Length: 6\r\n\r\n" +
                                    body));
  EXPECT_EQ(ReadAtLeast(browser, Page("stored").size()), Page("stored"));
  ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/next")));
  EXPECT_EQ(ReadAtLeast(browser, Page("next").size()), Page("next"));
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(header, "POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
  EXPECT_EQ(received, body);
  EXPECT_EQ(next, "GET /next HTTP/1.1\r\n\r\n");
}

// Requests sent back to back without waiting, for servers that change from one to the next:
// each is answered by the server it names, in the order asked.
TEST(ProxyConnection, PipelinedRequestsToDifferentServersAreAnsweredInOrder) {
  ScriptedOrigin first(NamedOrigin("first"));
  ScriptedOrigin second(NamedOrigin("second"));
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  ASSERT_TRUE(SendText(
      browser, Get(first.Port(), "/a") + Get(second.Port(), "/b") + Get(first.Port(), "/c")));
  const std::string expected = Page("first: GET /a HTTP/1.1") + Page("second: GET /b HTTP/1.1") +
                               Page("first: GET /c HTTP/1.1");
  EXPECT_EQ(ReadAtLeast(browser, expected.size()), expected);
}

// A browser that shuts its sending side after the request still gets the whole response, and
// then the connection ends.
TEST(ProxyConnection, HalfClosedBrowserGetsTheWholeResponse) {
  const std::vector<std::string> responses = {
      Page("held page"),
      "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 6\r\n\r\nGIF89a",
  };
  for (const std::string& response : responses) {
    SCOPED_TRACE(response);
    ScriptedOrigin origin([&](OriginPeer& peer) {
      peer.ReadRequest();
      // Answers only after the proxy has had time to see the browser's end; a proxy that
      // closed on it shows here as the server side closing first.
      pollfd watched{peer.Socket().Fd(), POLLIN, 0};
      if (::poll(&watched, 1, 300) == 0) {
        peer.Send(response);
      }
      peer.ReadRequest();
    });
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    ASSERT_TRUE(SendText(browser, Get(origin.Port(), "/")));
    ASSERT_EQ(::shutdown(browser.Fd(), SHUT_WR), 0);
    EXPECT_EQ(ReadToClose(browser), response);
  }
}

// A browser that shuts its sending side of a tunnel: the server reads that end, and what it says
// after it still reaches the browser.
TEST(ProxyConnection, HalfClosedTunnelPassesItsEndOnAndCarriesTheReply) {
  ScriptedOrigin origin([](OriginPeer& peer) {
    char byte = 0;
    if (peer.ReadExactly(4) == "ping" && ::recv(peer.Socket().Fd(), &byte, 1, 0) == 0) {
      peer.Send("pong");
    }
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  const std::string authority = "127.0.0.1:" + std::to_string(origin.Port());
  ASSERT_TRUE(SendText(browser, "CONNECT " + authority + " HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(ReadAtLeast(browser, kTunnelReply.size()), kTunnelReply);
  ASSERT_TRUE(SendText(browser, "ping"));
  ASSERT_EQ(::shutdown(browser.Fd(), SHUT_WR), 0);
  EXPECT_EQ(ReadToClose(browser), "pong");
}

// A tunnel has no responses to end its exchange: turn after turn, it is one exchange until it
// closes.
TEST(ProxyConnection, TunnelStaysOneExchangeUntilItCloses) {
  ScriptedOrigin origin([](OriginPeer& peer) {
    for (const char* reply : {"pong", "back"}) {
      if (peer.ReadExactly(4).size() != 4) {
        return;
      }
      peer.Send(reply);
    }
    peer.ReadSome(1);
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  const std::string authority = "127.0.0.1:" + std::to_string(origin.Port());
  ASSERT_TRUE(
      SendText(browser, "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
  EXPECT_EQ(ReadAtLeast(browser, kTunnelReply.size()), kTunnelReply);
  ASSERT_TRUE(SendText(browser, "ping"));
  EXPECT_EQ(ReadAtLeast(browser, 4), "pong");
  ASSERT_TRUE(SendText(browser, "more"));
  EXPECT_EQ(ReadAtLeast(browser, 4), "back");
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  auto conversations = engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_EQ(conversations[0]->ResponseTotal(), 8);
}

}  // namespace
}  // namespace rw::proxy
