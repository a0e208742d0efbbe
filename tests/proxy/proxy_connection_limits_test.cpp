// The engine's time limits and bounds on loopback: connect and browser time-outs, the cap on
// connection threads, an upstream proxy that is this proxy, and the budget of held pages.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "loopback_support.h"
#include "proxy/fixed_replies.h"
#include "proxy/server_connector.h"

namespace rw::proxy {
namespace {

using testing::ConnectLoopback;
using testing::Gate;
using testing::OriginPeer;
using testing::ReadAtLeast;
using testing::ReadToClose;
using testing::ScriptedOrigin;
using testing::SendText;
using testing::TestEngine;

using std::chrono::milliseconds;

const std::string kPage =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok";

std::string Get(uint16_t port) {
  return "GET http://127.0.0.1:" + std::to_string(port) + "/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// A listener whose queue is full: further connects to it are neither accepted nor refused, as
// with a server that never answers.
class SilentServer {
 public:
  SilentServer() {
    listening = std::move(platform::CreateTcpSocket().value);
    if (!platform::BindIPv4(listening, INADDR_LOOPBACK, 0).Ok() ||
        !platform::Listen(listening, 0).Ok()) {
      std::abort();
    }
    port = static_cast<uint16_t>(platform::LocalPort(listening).value);
    filler = ConnectLoopback(port);  // takes the queue's one place
  }
  platform::Socket listening;
  platform::Socket filler;
  uint16_t port = 0;
};

// True when the proxy ended the connection in order without sending anything; false on bytes or
// when the read time-out (10 s) passed first.
bool ClosedWithoutAnswer(const platform::Socket& socket) {
  char byte;
  return platform::Recv(socket, &byte, 1).value == 0;
}

// Waits (bounded) until `done` holds; for states the engine reaches on its own threads.
template <typename Condition>
bool Eventually(Condition done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

void LimitReads(const platform::Socket& socket, milliseconds limit) {
  timeval value{0, static_cast<suseconds_t>(limit.count() * 1000)};
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof(value));
}

TEST(ServerConnector, ConnectEndsAtItsTimeOutOrWhenShutDown) {
  SilentServer silent;
  HostCache hosts;
  {
    SCOPED_TRACE("time-out");
    BegunConnection begun = BeginServerConnection(hosts, "127.0.0.1", silent.port, 0);
    ASSERT_TRUE(begun.socket.Valid());
    EXPECT_FALSE(FinishServerConnection(begun.socket, milliseconds(50)));
  }
  {
    SCOPED_TRACE("shut down by another thread");
    BegunConnection begun = BeginServerConnection(hosts, "127.0.0.1", silent.port, 0);
    ASSERT_TRUE(begun.socket.Valid());
    std::thread stopper([&] {
      std::this_thread::sleep_for(milliseconds(50));
      (void)platform::Shutdown(begun.socket.Fd());
    });
    // Far longer than the test waits: only the shutdown can end it.
    EXPECT_FALSE(FinishServerConnection(begun.socket, std::chrono::minutes(5)));
    stopper.join();
  }
}

TEST(ServerConnector, OwnListenerIsNotConnectedToUnderAnyName) {
  ScriptedOrigin origin([](OriginPeer& peer) { peer.ReadSome(1); });
  HostCache hosts;
  struct Row {
    const char* name;
    uint16_t listeningPort;
    bool ownListener;
  };
  const Row rows[] = {
      {"127.0.0.1", origin.Port(), true},
      {"localhost", origin.Port(), true},
      {"2130706433", origin.Port(), true},  // 127.0.0.1 as one number
      {"127.0.0.1", 0, false},              // not listening
      {"127.0.0.1", static_cast<uint16_t>(origin.Port() + 1), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " listening on " + std::to_string(row.listeningPort));
    BegunConnection begun =
        BeginServerConnection(hosts, row.name, origin.Port(), row.listeningPort);
    EXPECT_EQ(begun.ownListener, row.ownListener);
    EXPECT_EQ(begun.socket.Valid(), !row.ownListener);
  }
}

TEST(ProxyLimits, ServerThatNeverAnswersGetsTheFailurePageAtTheConnectTimeOut) {
  SilentServer silent;
  TestEngine engine(EngineLimits{.connectTimeout = milliseconds(100)});
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, Get(silent.port));
  EXPECT_EQ(ReadToClose(browser), kConnectFailurePage);
}

// A stop reaches a thread still connecting: it ends at once, its exchange complete (so the last
// log pass writes it), instead of outlasting the stop's wait.
TEST(ProxyLimits, StopEndsAPendingConnectAtOnce) {
  SilentServer silent;
  TestEngine engine;  // the full connect time-out
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  SendText(browser, Get(silent.port));
  ASSERT_TRUE(Eventually([&] {
    auto conversations = engine.store.Snapshot();
    return !conversations.empty() && conversations[0]->RequestDataSize() > 0;
  }));
  engine.listener.StopListening();
  ASSERT_TRUE(engine.context.StopConnections(std::chrono::seconds(5)));
  auto conversations = engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_TRUE(conversations[0]->IsComplete());
  EXPECT_EQ(conversations[0]->ResponseText(), kConnectFailurePage);
}

TEST(ProxyLimits, BrowserThatStaysSilentIsClosedButASlowServerIsWaitedFor) {
  const EngineLimits shortLimits{.headerTimeout = milliseconds(50),
                                 .idleTimeout = milliseconds(50)};
  ScriptedOrigin origin([](OriginPeer& peer) {
    while (peer.ReadRequest().size() > 0) {
      // Longer than both time-outs: waiting for the server is not the browser being idle.
      std::this_thread::sleep_for(milliseconds(300));
      peer.Send(kPage);
    }
  });
  {
    SCOPED_TRACE("part of a header, then nothing");
    TestEngine engine(shortLimits);
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    SendText(browser, "GET http://127.0.0.1/ HTTP/1.1\r\nHo");
    EXPECT_TRUE(ClosedWithoutAnswer(browser));
  }
  {
    SCOPED_TRACE("connected, nothing sent");
    TestEngine engine(shortLimits);
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    EXPECT_TRUE(ClosedWithoutAnswer(browser));
  }
  {
    SCOPED_TRACE("idle after an exchange");
    TestEngine engine(shortLimits);
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    SendText(browser, Get(origin.Port()));
    EXPECT_EQ(ReadAtLeast(browser, kPage.size()), kPage);
    SendText(browser, Get(origin.Port()));
    EXPECT_EQ(ReadAtLeast(browser, kPage.size()), kPage);
    EXPECT_TRUE(ClosedWithoutAnswer(browser));
  }
}

TEST(ProxyLimits, ConnectionsPastTheCapWaitToBeAccepted) {
  ScriptedOrigin origin([](OriginPeer& peer) {
    while (!peer.ReadRequest().empty()) {
      peer.Send(kPage);
    }
  });
  TestEngine engine(EngineLimits{.maxConnectionThreads = 2});
  ASSERT_TRUE(engine.Start());
  platform::Socket first = engine.Browser();
  platform::Socket second = engine.Browser();
  for (const platform::Socket* browser : {&first, &second}) {
    SendText(*browser, Get(origin.Port()));
    ASSERT_EQ(ReadAtLeast(*browser, kPage.size()), kPage);
  }
  platform::Socket third = engine.Browser();  // in the listen queue
  ASSERT_TRUE(third.Valid());
  SendText(third, Get(origin.Port()));
  LimitReads(third, milliseconds(300));
  EXPECT_EQ(ReadAtLeast(third, 1), "");  // not served while two connections run
  EXPECT_EQ(engine.context.ActiveConnections(), 2);
  first.Close();
  testing::BoundReads(third);
  EXPECT_EQ(ReadAtLeast(third, kPage.size()), kPage);
}

// The upstream proxy is this proxy under a name the settings did not catch: the request is
// answered with the loop page instead of going round until descriptors run out.
TEST(ProxyLimits, UpstreamThatIsThisProxyEndsWithTheLoopPage) {
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  engine.context.PublishUpstream(
      UpstreamProxy{.use = true, .address = "localhost", .port = engine.listener.BoundPort()});
  platform::Socket browser = engine.Browser();
  SendText(browser, "GET http://example.invalid/ HTTP/1.1\r\nHost: example.invalid\r\n\r\n");
  const std::string answer = ReadToClose(browser);
  EXPECT_EQ(answer, kProxyLoopPage);
  ASSERT_TRUE(engine.Drain());
  auto conversations = engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 1u);  // the browser's exchange only
  EXPECT_EQ(conversations[0]->ResponseText(), kProxyLoopPage);
}

// Decodes a chunked body that ends with its last chunk; empty when it is malformed.
std::string Dechunk(std::string_view body) {
  std::string decoded;
  for (;;) {
    const size_t lineEnd = body.find("\r\n");
    if (lineEnd == std::string_view::npos) {
      return {};
    }
    const size_t size = std::stoul(std::string(body.substr(0, lineEnd)), nullptr, 16);
    body.remove_prefix(lineEnd + 2);
    if (size == 0) {
      return decoded;
    }
    if (body.size() < size + 2) {
      return {};
    }
    decoded.append(body.substr(0, size));
    body.remove_prefix(size + 2);
  }
}

// A text page that would take the held pages past their budget streams as it arrives, chunked
// still chunked, and is captured all the same.
TEST(ProxyLimits, TextPagePastTheHeldBudgetStreamsAsItArrives) {
  const std::string firstPart(150000, 'a');
  const std::string lastPart(1000, 'b');
  struct Row {
    const char* name;
    std::string header;
    std::string first;  // sent before the test lets the rest go
    std::string rest;
    bool chunked;
  };
  char chunkSize[16];
  std::snprintf(chunkSize, sizeof(chunkSize), "%zx\r\n", firstPart.size());
  const Row rows[] = {
      {"length",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(firstPart.size() + lastPart.size()) + "\r\n\r\n",
       firstPart, lastPart, false},
      {"chunked",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n",
       chunkSize + firstPart + "\r\n", "3e8\r\n" + lastPart + "\r\n0\r\n\r\n", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Gate rest;
    ScriptedOrigin origin([&](OriginPeer& peer) {
      if (peer.ReadRequest().empty()) {
        return;
      }
      peer.Send(row.header + row.first);
      rest.Wait();
      peer.Send(row.rest);
    });
    TestEngine engine(EngineLimits{.minHeldPageBudget = 100000});
    engine.store.SetMaxMB(0);  // the budget is the floor alone
    ASSERT_TRUE(engine.Start());
    platform::Socket browser = engine.Browser();
    SendText(browser, Get(origin.Port()));
    // Before the rest is sent: the header and what came so far are already at the browser.
    std::string received = ReadAtLeast(browser, row.header.size() + firstPart.size());
    rest.Open();
    ASSERT_GE(received.size(), row.header.size() + firstPart.size());
    const size_t headerEnd = received.find("\r\n\r\n") + 4;
    EXPECT_EQ(received.substr(0, headerEnd), row.header);
    if (row.chunked) {
      while (received.find("\r\n0\r\n\r\n") == std::string::npos) {
        const std::string more = ReadAtLeast(browser, 1);
        if (more.empty()) {
          break;
        }
        received += more;
      }
      EXPECT_EQ(Dechunk(std::string_view(received).substr(headerEnd)), firstPart + lastPart);
    } else {
      received +=
          ReadAtLeast(browser, headerEnd + firstPart.size() + lastPart.size() - received.size());
      EXPECT_EQ(received.substr(headerEnd), firstPart + lastPart);
    }
    browser.Close();
    ASSERT_TRUE(engine.Drain());
    auto conversations = engine.store.Snapshot();
    ASSERT_FALSE(conversations.empty());
    EXPECT_EQ(conversations[0]->ResponseText().substr(0, row.header.size()), row.header);
    EXPECT_EQ(engine.context.HeldPages().Held(), 0);
  }
}

// The budget is for all connections together: a page that fits alone streams when another
// connection's held page already takes most of it.
TEST(ProxyLimits, HeldBudgetIsSharedByAllConnections) {
  const std::string part(60000, 'x');
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(2 * part.size()) + "\r\n\r\n";
  Gate rest;
  ScriptedOrigin origin([&](OriginPeer& peer) {
    if (peer.ReadRequest().empty()) {
      return;
    }
    peer.Send(header + part);
    rest.Wait();
    peer.Send(part);
  });
  TestEngine engine(EngineLimits{.minHeldPageBudget = 100000});
  engine.store.SetMaxMB(0);
  ASSERT_TRUE(engine.Start());
  platform::Socket holding = engine.Browser();
  SendText(holding, Get(origin.Port()));
  ASSERT_TRUE(Eventually(
      [&] { return engine.context.HeldPages().Held() >= static_cast<int64_t>(part.size()); }));
  platform::Socket streaming = engine.Browser();
  SendText(streaming, Get(origin.Port()));
  const std::string early = ReadAtLeast(streaming, header.size() + part.size());
  rest.Open();
  EXPECT_EQ(early, header + part);
  EXPECT_EQ(ReadAtLeast(holding, header.size() + 2 * part.size()), header + part + part);
  EXPECT_EQ(ReadAtLeast(streaming, part.size()), part);
}

}  // namespace
}  // namespace rw::proxy
