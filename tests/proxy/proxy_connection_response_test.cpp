// Responses through the engine on loopback whose handling changes what the connection does next:
// decoded pages, interim responses, protocol switches and event streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "loopback_support.h"
#include "proxy/proxy_connection.h"

namespace rw::proxy {
namespace {

using testing::Gate;
using testing::OriginPeer;
using testing::ReadAtLeast;
using testing::ScriptedOrigin;
using testing::SendText;
using testing::TestEngine;

std::string Url(uint16_t port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::string Page(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Pages larger than one send: held whole, then sent in several portions with the header first;
// a chunked one with chunks of many sizes is decoded in place.
TEST(ProxyConnection, LargeHeldPagesArriveWholeAndDecoded) {
  std::string body;
  for (size_t i = 0; body.size() < 3 * 1024 * 1024 + 17; ++i) {
    body += "<p>line " + std::to_string(i) + "</p>\r\n";
  }
  const std::string lengthPage = Page(body);
  std::string chunked =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::vector<size_t> sizes = {1, 70000, 3, 200000, 16, 1000000, 5000};
  std::string decoded;
  for (size_t at = 0, i = 0; at < body.size(); ++i) {
    const std::string part = body.substr(at, sizes[i % sizes.size()]);
    char size[32];
    std::snprintf(size, sizeof(size), "%zx\r\n", part.size());
    chunked += size + part + "\r\n";
    decoded += part;
    at += part.size();
  }
  chunked += "0\r\n\r\n";
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send(lengthPage);
    peer.ReadRequest();
    // In pieces that split chunk sizes and data anywhere.
    for (size_t at = 0; at < chunked.size(); at += 40000) {
      peer.Send(chunked.substr(at, 40000));
    }
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, "GET " + Url(origin.Port(), "/length") + " HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(ReadAtLeast(browser, lengthPage.size()) == lengthPage);  // no 3 MiB diff
  SendText(browser, "GET " + Url(origin.Port(), "/chunked") + " HTTP/1.1\r\n\r\n");
  const std::string expected = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(decoded.size()) + "\r\n\r\n" + decoded;
  EXPECT_TRUE(ReadAtLeast(browser, expected.size()) == expected);
}

// Answers every request on a connection with a page naming it, so a request that reached the
// wrong server shows.
ScriptedOrigin::Script NamedOrigin(std::string name) {
  return [name](OriginPeer& peer) {
    for (;;) {
      std::string request = peer.ReadRequest();
      if (request.empty()) {
        return;
      }
      peer.Send(Page(name + ": " + request.substr(0, request.find('\r'))));
    }
  };
}

TEST(ProxyConnection, InterimAndFinalInOneWriteLeaveTheNextRequestToItsOwnServer) {
  struct Row {
    std::string name;
    std::string request;  // to the first origin, after the method and before the version
    std::string interim;
  };
  const std::vector<Row> rows = {
      {"100 Continue to a POST",
       "POST /up HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\nabc",
       "HTTP/1.1 100 Continue\r\n\r\n"},
      {"103 Early Hints to a GET", "GET /page HTTP/1.1\r\n\r\n",
       "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string final = Page("first");
    ScriptedOrigin first([&](OriginPeer& peer) {
      peer.ReadRequest();
      peer.Send(row.interim + final);
      // Anything more on this connection went to the wrong server; it gets a page saying so.
      NamedOrigin("wrong server")(peer);
    });
    ScriptedOrigin second(NamedOrigin("second"));
    TestEngine engine;
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    const std::string method = row.request.substr(0, row.request.find(' ') + 1);
    const std::string rest = row.request.substr(row.request.find(' ') + 1);
    SendText(browser, method + Url(first.Port(), "") + rest);
    EXPECT_EQ(ReadAtLeast(browser, row.interim.size() + final.size()), row.interim + final);
    SendText(browser,
             "GET " + Url(second.Port(), "/next") + " HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n");
    // Origin form and no gzip offer: rewritten as any new request is.
    const std::string expected = Page("second: GET /next HTTP/1.1");
    EXPECT_EQ(ReadAtLeast(browser, expected.size()), expected);
  }
}

TEST(ProxyConnection, SwitchingProtocolsRelaysBothWaysUnchanged) {
  const std::string switched =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n";
  const std::string greeting = "\x81\x05hello";
  std::string fromBrowser;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    // The first frame comes in the same write as the switch.
    peer.Send(switched + greeting);
    fromBrowser = peer.ReadExactly(6);
    peer.Send("\x81\x04pong");
    // Looks like a header, but after the switch it is just bytes.
    peer.Send("HTTP/1.1 200 OK\r\n\r\n");
    peer.ReadExactly(1);
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, "GET " + Url(origin.Port(), "/socket") +
                        " HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n");
  EXPECT_EQ(ReadAtLeast(browser, switched.size() + greeting.size()), switched + greeting);
  SendText(browser, "\x81\x04ping");
  const std::string replies = std::string("\x81\x04pong") + "HTTP/1.1 200 OK\r\n\r\n";
  EXPECT_EQ(ReadAtLeast(browser, replies.size()), replies);
  SendText(browser, "x");
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  EXPECT_EQ(fromBrowser, "\x81\x04ping");
}

TEST(ProxyConnection, EventStreamReachesTheBrowserEventByEventAndIsCaptured) {
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::vector<std::string> events = {"9\r\ndata: 1\n\n\r\n", "9\r\ndata: 2\n\n\r\n"};
  Gate firstSeen;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    peer.ReadRequest();
    peer.Send(header + events[0]);
    // The feed stays open: the next event comes only once the browser has the first.
    if (firstSeen.Wait()) {
      peer.Send(events[1]);
    }
    peer.ReadRequest();
  });
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, "GET " + Url(origin.Port(), "/feed") + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(ReadAtLeast(browser, header.size() + events[0].size()), header + events[0]);
  firstSeen.Open();
  EXPECT_EQ(ReadAtLeast(browser, events[1].size()), events[1]);
  browser.Close();
  ASSERT_TRUE(engine.Drain());
  auto conversations = engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_EQ(conversations[0]->ResponseText(), header + events[0] + events[1]);
}

}  // namespace
}  // namespace rw::proxy
