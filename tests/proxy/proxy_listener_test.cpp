#include "proxy/proxy_listener.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loopback_support.h"
#include "platform/threads.h"

namespace rw::proxy {
namespace {

using testing::ConnectLoopback;
using testing::OriginPeer;
using testing::PeerClosed;
using testing::ReadAtLeast;
using testing::ScriptedOrigin;
using testing::SendText;
using testing::TestEngine;

const std::string kPage =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok";

ScriptedOrigin::Script OkOrigin() {
  return [](OriginPeer& peer) {
    while (!peer.ReadRequest().empty()) {
      peer.Send(kPage);
    }
  };
}

std::string Get(uint16_t port) {
  return "GET http://127.0.0.1:" + std::to_string(port) + "/ HTTP/1.1\r\n\r\n";
}

bool ExchangeOk(const platform::Socket& browser, uint16_t originPort) {
  return SendText(browser, Get(originPort)) && ReadAtLeast(browser, kPage.size()) == kPage;
}

TEST(ProxyListener, ConnectionWithoutDataLeavesOneEmptyConversationWithIdTwo) {
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  EXPECT_NE(engine.listener.BoundPort(), 0);
  platform::Socket browser = engine.Browser();
  ::shutdown(browser.Fd(), SHUT_WR);
  EXPECT_TRUE(PeerClosed(browser));  // the connection saw the end and closed its side
  ASSERT_TRUE(engine.Drain());
  auto conversations = engine.store.Snapshot();
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_EQ(conversations[0]->GetId(), 2);
  EXPECT_TRUE(conversations[0]->IsComplete());
  EXPECT_EQ(conversations[0]->RequestTotal(), 0);
}

TEST(ProxyListener, UnusablePortsFailNamingTheirCause) {
  // A port another socket listens on cannot be bound again, even with SO_REUSEADDR.
  platform::SocketResult busy = platform::CreateTcpSocket();
  ASSERT_TRUE(platform::BindIPv4(busy.value, INADDR_LOOPBACK, 0).Ok());
  ASSERT_TRUE(platform::Listen(busy.value, 1).Ok());
  const int32_t busyPort = static_cast<int32_t>(platform::LocalPort(busy.value).value);
  const struct {
    int32_t port;
    std::string cause;
  } rows[] = {
      {busyPort, "Address already in use (port " + std::to_string(busyPort) + ")"},
      {0, "No port is set: enter a port from 1 to 65535."},
      {-1, "The port -1 is not between 1 and 65535."},
      {65536, "The port 65536 is not between 1 and 65535."},
      {70000, "The port 70000 is not between 1 and 65535."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.port);
    TestEngine engine;
    engine.settings.listenPort = row.port;
    EXPECT_FALSE(engine.listener.StartListening());
    EXPECT_EQ(engine.errors.errors,
              (std::vector<std::string>{"Error creating listen socket.\n\n" + row.cause}));
    EXPECT_EQ(engine.listener.BoundPort(), 0);
  }
}

TEST(ProxyListener, RestartOnTheSamePortKeepsRunningConnections) {
  ScriptedOrigin origin(OkOrigin());
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  const uint16_t port = engine.listener.BoundPort();
  platform::Socket early = engine.Browser();
  ASSERT_TRUE(ExchangeOk(early, origin.Port()));

  engine.settings.listenPort = port;
  ASSERT_TRUE(engine.listener.StartListening());
  EXPECT_EQ(engine.listener.BoundPort(), port);
  ASSERT_TRUE(engine.listener.StartListening());  // applied twice in a row
  EXPECT_TRUE(engine.errors.errors.empty());

  EXPECT_TRUE(ExchangeOk(early, origin.Port()));
  platform::Socket late = ConnectLoopback(port);
  EXPECT_TRUE(ExchangeOk(late, origin.Port()));
}

TEST(ProxyListener, StopConnectionsEndsLiveConnectionsAndCompletesTheirConversations) {
  ScriptedOrigin origin(OkOrigin());
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  std::vector<platform::Socket> browsers;
  for (int i = 0; i < 4; ++i) {
    browsers.push_back(engine.Browser());
    ASSERT_TRUE(ExchangeOk(browsers.back(), origin.Port()));  // then idle, kept alive
  }
  engine.listener.StopListening();
  EXPECT_TRUE(engine.context.StopConnections(std::chrono::seconds(10)));
  for (const platform::Socket& browser : browsers) {
    EXPECT_TRUE(PeerClosed(browser));
  }
  auto conversations = engine.store.Snapshot();
  EXPECT_EQ(conversations.size(), 4u);
  for (const auto& conversation : conversations) {
    EXPECT_TRUE(conversation->IsComplete());
  }
}

TEST(ProxyListener, ThreadThatCannotStartClosesItsSocketAndTheListenerGoesOn) {
  ScriptedOrigin origin(OkOrigin());
  TestEngine engine;
  std::atomic<int> calls{0};
  engine.context.SetThreadStarterForTest([&calls](std::function<void()> body) {
    if (calls.fetch_add(1) == 0) {
      return platform::ThreadStartResult{.errorNumber = EAGAIN};
    }
    return platform::StartThread({.kind = platform::ThreadKind::kDetached}, std::move(body));
  });
  ASSERT_TRUE(engine.Start());
  platform::Socket refused = engine.Browser();
  EXPECT_TRUE(PeerClosed(refused));
  platform::Socket served = engine.Browser();
  EXPECT_TRUE(ExchangeOk(served, origin.Port()));
  EXPECT_EQ(calls.load(), 2);
}

// A connection thread that has been started but has not yet begun must count: an owner told
// "drained" frees the store and the context, and the thread would then use them.
TEST(ProxyListener, StartedThreadCountsBeforeItRunsSoStopWaitsForIt) {
  auto store = std::make_unique<capture::ConversationStore>();
  auto context = std::make_unique<EngineContext>(*store);
  ProxySettings settings;
  testing::RecordingErrorSink errors;
  testing::Gate started;
  testing::Gate release;
  std::thread connectionThread;
  context->SetThreadStarterForTest([&](std::function<void()> body) {
    connectionThread = std::thread([&release, body = std::move(body)] {
      release.Wait();
      body();
    });
    started.Open();
    return platform::ThreadStartResult{};
  });
  auto listener = std::make_unique<ProxyListener>(*context, settings, errors);
  ASSERT_TRUE(listener->StartListeningOnEphemeralPortForTest());
  platform::Socket browser = ConnectLoopback(listener->BoundPort());
  ASSERT_TRUE(started.Wait());
  listener->StopListening();
  EXPECT_EQ(context->ActiveConnections(), 1);
  const bool drainedEarly = context->StopConnections(std::chrono::milliseconds(0));
  EXPECT_FALSE(drainedEarly);
  if (drainedEarly) {
    // What an owner does when told that no connection remains.
    listener.reset();
    context.reset();
    store.reset();
  }
  release.Open();
  if (!drainedEarly) {
    EXPECT_TRUE(context->StopConnections(std::chrono::seconds(10)));
    EXPECT_EQ(context->ActiveConnections(), 0);
  }
  connectionThread.join();
}

// Descriptors above 1023 would overrun a select set; the relay loop must serve them all the same.
TEST(ProxyListener, ServesConnectionsWhoseDescriptorsPass1023) {
  std::vector<platform::Socket> filler;
  for (int i = 0; i < 1100; ++i) {
    platform::SocketResult created = platform::CreateTcpSocket();
    if (!created.value.Valid()) {
      GTEST_SKIP() << "open-file limit too low for this test";
    }
    filler.push_back(std::move(created.value));
  }
  ScriptedOrigin origin(OkOrigin());
  TestEngine engine;
  ASSERT_TRUE(engine.Start());
  platform::Socket browser = engine.Browser();
  ASSERT_GT(browser.Fd(), 1023);
  EXPECT_TRUE(ExchangeOk(browser, origin.Port()));
  EXPECT_TRUE(ExchangeOk(browser, origin.Port()));
}

}  // namespace
}  // namespace rw::proxy
