// The window over a real listener: Apply moves it to a new port and a real request goes through;
// a port another program holds is reported and the window still opens.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>
#include <thread>

#include "tests/ui/ui_fixture.h"
#include "ui/settings_page.h"

namespace rw::ui {
namespace {

using testing::Box;
using testing::UiFixture;

// An open descriptor on 127.0.0.1, listening when `listen` is set.
struct Socket {
  Socket() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  }
  ~Socket() { ::close(fd); }
  uint16_t Listen() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return 0;
    }
    return ntohs(address.sin_port);
  }
  bool Connect(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  std::string ReadToEnd() {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }
  int fd;
};

class RelayTest : public UiFixture {};

TEST_F(RelayTest, ApplyRestartsTheListenerAndARequestGoesThrough) {
  OpenWindow();
  const uint16_t oldPort = port;
  ASSERT_EQ(app->Listener().BoundPort(), oldPort);

  // One origin server answering one request.
  Socket origin;
  const uint16_t originPort = origin.Listen();
  ASSERT_NE(originPort, 0);
  std::thread server([&origin] {
    const int client = ::accept(origin.fd, nullptr, nullptr);
    if (client < 0) {
      return;
    }
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(client, &c, 1, 0) == 1) {
      head.push_back(c);
    }
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n"
        "Connection: close\r\n\r\nhello";
    ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    ::close(client);
  });

  const uint16_t newPort = testing::FreePort();
  const auto& c = testing::SettingsControls(*window->Settings());
  c.port->setText(QString::number(newPort));
  QTest::mouseClick(c.apply, Qt::LeftButton);
  EXPECT_EQ(app->Listener().BoundPort(), newPort);
  EXPECT_EQ(c.listening->text(), QString("127.0.0.1:%1").arg(newPort));
  EXPECT_FALSE(Socket().Connect(oldPort));

  Socket browser;
  ASSERT_TRUE(browser.Connect(newPort));
  const std::string request = "GET http://127.0.0.1:" + std::to_string(originPort) +
                              "/page HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(::send(browser.fd, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  const std::string reply = browser.ReadToEnd();
  server.join();
  EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(reply.substr(reply.size() - 5), "hello");

  // The exchange was captured and the Settings page counts it.
  window->Settings()->RefreshStatistics();
  EXPECT_EQ(c.sockets->text(), "1 ");
  EXPECT_TRUE(boxes.boxes.empty());
}

// A second instance started while the first holds the port: the listener's error box, and the
// window opens all the same.
TEST_F(RelayTest, ABusyPortIsReportedAndTheWindowStillOpens) {
  Socket first;
  const uint16_t busy = first.Listen();
  ASSERT_NE(busy, 0);
  backing.WriteValue("HttpPort", std::to_string(busy));
  OpenWindow();
  window->show();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kError);
  EXPECT_EQ(boxes.boxes[0].text, "Error creating listen socket.\n\nAddress already in use (port " +
                                     std::to_string(busy) + ")");
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(app->Listener().BoundPort(), 0);
  // Nothing listens, and the label says so; the port field keeps the choice for the next Apply.
  EXPECT_EQ(testing::SettingsControls(*window->Settings()).listening->text(), "None");
  EXPECT_EQ(testing::SettingsControls(*window->Settings()).port->text(), QString::number(busy));
}

}  // namespace
}  // namespace rw::ui
