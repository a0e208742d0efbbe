#include "export/curl_command.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os_sys_calls.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"

namespace rw::app {
namespace {

CurlCommand Build(const std::string& captured, const std::string& proxy = "") {
  return BuildCurlCommand(captured, static_cast<int64_t>(captured.size()), proxy);
}

TEST(CurlCommand, ExchangeTakenOutOfTlsRepeatsItsHttpsUrl) {
  const std::string request = "GET /a?b=1 HTTP/1.1\r\nHost: other.test\r\n\r\n";
  const CurlCommand command =
      BuildCurlCommand(request, static_cast<int64_t>(request.size()), "", "https://a.test");
  ASSERT_TRUE(command.ok) << command.problem;
  EXPECT_EQ(command.command.rfind("curl --noproxy '*' --globoff 'https://a.test/a?b=1' ", 0), 0u)
      << command.command;
}

TEST(CurlCommand, RepeatsGetDirectOrThroughProxy) {
  const std::string request =
      "GET http://example.test:8080/a?b=1&c=2 HTTP/1.1\r\nHost: example.test:8080\r\n"
      // A folded line (obs-fold) continues the User-Agent field: curl gets it whole.
      "User-Agent: Mozilla/5.0\r\n\t (X11;\r\n Linux)\r\nProxy-Connection: keep-alive\r\n"
      "Accept-Encoding: gzip\r\n\r\n";
  const CurlCommand direct = Build(request);
  ASSERT_TRUE(direct.ok) << direct.problem;
  EXPECT_EQ(direct.command,
            "curl --noproxy '*' --globoff 'http://example.test:8080/a?b=1&c=2' --header 'Host: "
            "example.test:8080' --header 'User-Agent: Mozilla/5.0 (X11; Linux)' --header "
            "'Accept-Encoding: gzip' --compressed");
  const CurlCommand proxied = Build(request, "127.0.0.1:8010");
  ASSERT_TRUE(proxied.ok);
  EXPECT_EQ(proxied.command.rfind(
                "curl --proxy 'http://127.0.0.1:8010' --globoff 'http://example.test", 0),
            0u)
      << proxied.command;
}

TEST(CurlCommand, BodiesAndMethods) {
  const CurlCommand post = Build(
      "POST /form HTTP/1.1\nHost: h\nContent-Length: 9\nContent-Type: text/plain\n\nit's\r\nok\n");
  ASSERT_TRUE(post.ok) << post.problem;
  EXPECT_EQ(post.command,
            "curl --noproxy '*' --request 'POST' --globoff 'http://h/form' --header 'Host: h' "
            "--header 'Content-Type: text/plain' --data-raw $'it\\'s\\r\\nok\\n'");

  const CurlCommand chunked = Build(
      "PUT http://h/x HTTP/1.1\r\nTransfer-Encoding: "
      "chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
  ASSERT_TRUE(chunked.ok) << chunked.problem;
  EXPECT_NE(chunked.command.find("--data-raw 'abcde'"), std::string::npos) << chunked.command;
  EXPECT_EQ(chunked.command.find("Transfer-Encoding"), std::string::npos);

  const CurlCommand head = Build("HEAD http://h/ HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(head.ok);
  EXPECT_EQ(head.command, "curl --noproxy '*' --head --globoff 'http://h/'");
}

TEST(CurlCommand, RefusesWhatItCannotRepeat) {
  const struct {
    std::string captured;
    int64_t total;
  } rows[] = {
      {"GET http://h/ HTTP/1.1\r\nHost: h\r\n", 30},  // header cut off
      {"POST http://h/ HTTP/1.1\r\n\r\nabc", 100},    // body not captured
      {"CONNECT h:443 HTTP/1.1\r\n\r\n", 26},         // tunnel
      {"GET /x HTTP/1.1\r\n\r\n", 19},                // no host at all
      {"PUT http://h/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 57},  // bad chunk
      {"GARBAGE\r\n\r\n", 11},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.captured);
    const CurlCommand result = BuildCurlCommand(row.captured, row.total, "");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.problem.empty());
  }
}

// What the shell reads back from the quoted text is the text itself, whatever bytes it holds.
TEST(CurlCommand, ShellQuotingRoundTrips) {
  const std::string rows[] = {"plain",
                              "it's",
                              "''",
                              "$(touch /nonexistent)`x` \"q\" \\ ;|&",
                              "line\nbreak\r\ttab",
                              "\xC3\xA9\xFF",
                              "\x01\x1b[201~\x7f\xe2\x82",
                              "\\x41 \\' \\\\ $'x'"};
  for (const std::string& text : rows) {
    SCOPED_TRACE(text);
    const std::string script = "printf %s " + ShellQuote(text);
    FILE* pipe = popen(("/bin/bash -c " + ShellQuote(script)).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string echoed;
    char buffer[256];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
      echoed.append(buffer, got);
    }
    EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 0);
    EXPECT_EQ(echoed, text);
  }
}

// The arguments curl receives when bash runs `command`: a stand-in curl first on PATH writes
// each of them, NUL-terminated, to a file.
std::vector<std::string> ArgumentsCurlGets(const std::string& command) {
  const rw::testing::TempDir dir;
  const std::string bin = dir.path().string();
  {
    std::ofstream fake(bin + "/curl");
    fake << "#!/bin/bash\nprintf '%s\\0' \"$@\" > \"$CURL_ARGS\"\n";
  }
  {
    std::ofstream script(bin + "/run.sh", std::ios::binary);
    script << "PATH=" << ShellQuote(bin) << ":\"$PATH\"\n"
           << "CURL_ARGS=" << ShellQuote(bin + "/args") << "\nexport CURL_ARGS\n"
           << command << "\n";
  }
  const std::string run =
      "chmod 700 " + ShellQuote(bin + "/curl") + " && /bin/bash " + ShellQuote(bin + "/run.sh");
  EXPECT_EQ(std::system(run.c_str()), 0) << command;
  const std::string written = rw::testing::ReadFile(bin + "/args");
  std::vector<std::string> arguments;
  for (size_t pos = 0; pos < written.size();) {
    const size_t end = written.find('\0', pos);
    arguments.push_back(written.substr(pos, end - pos));
    pos = end + 1;
  }
  return arguments;
}

// What a page chose (body, URL, header bytes) reaches curl as exactly those bytes, and only as
// data: nothing is read as a file name, a glob or an option.
TEST(CurlCommand, CurlGetsThePagesBytesAsData) {
  using namespace std::string_literals;
  const std::string body = "@/etc/passwd\n\xFF\x01'\\x41\" $(id) \xC3\xA9\r\n"s;
  const std::string request =
      "POST http://h.test/a[1-2]{x,y}?q=%ff HTTP/1.1\r\nHost: h.test\r\n"
      "X-Raw: caf\xE9\tend\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  const CurlCommand result = Build(request);
  ASSERT_TRUE(result.ok) << result.problem;
  EXPECT_EQ(result.command.find('\n'), std::string::npos) << "one line";
  // Printable UTF-8 throughout, so the clipboard carries it unchanged.
  const auto* bytes = reinterpret_cast<const unsigned char*>(result.command.data());
  for (size_t i = 0; i < result.command.size();) {
    const size_t n = bytes[i] >= 0x80
                         ? text::Utf8SequenceLength(bytes + i, result.command.size() - i)
                         : static_cast<size_t>(bytes[i] >= 0x20 && bytes[i] != 0x7F);
    ASSERT_GT(n, 0u) << "byte " << i << " of " << result.command;
    i += n;
  }
  const std::vector<std::string> expected = {"--noproxy",  "*",
                                             "--request",  "POST",
                                             "--globoff",  "http://h.test/a[1-2]{x,y}?q=%ff",
                                             "--header",   "Host: h.test",
                                             "--header",   "X-Raw: caf\xE9\tend",
                                             "--data-raw", body};
  EXPECT_EQ(ArgumentsCurlGets(result.command), expected);
}

// One HTTP request taken on 127.0.0.1 (any free port) and answered with an empty 200: what a real
// curl sends when bash runs the command.
class OneRequestServer {
 public:
  OneRequestServer() {
    platform::SocketResult created = platform::CreateTcpSocket();
    listener = std::move(created.value);
    if (platform::BindLoopback(listener, 0).Ok() && platform::Listen(listener, 1).Ok()) {
      port = static_cast<int>(platform::LocalPort(listener).value);
    }
    taker = std::thread([this] { received = Take(); });
  }
  ~OneRequestServer() { Join(); }

  // The request as it arrived; waits for it.
  const std::string& Request() {
    Join();
    return received;
  }
  int Port() const { return port; }

 private:
  void Join() {
    if (taker.joinable()) {
      taker.join();
    }
  }
  std::string Take() {
    pollfd ready{listener.Fd(), POLLIN, 0};
    if (port <= 0 || ::poll(&ready, 1, 20000) != 1) {
      return {};
    }
    const platform::SocketResult accepted = platform::Accept(listener);
    const timeval limit{20, 0};
    ::setsockopt(accepted.value.Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string data;
    char buffer[4096];
    for (;;) {
      const size_t end = data.find("\r\n\r\n");
      if (end != std::string::npos) {
        const size_t length = data.find("Content-Length: ");
        const size_t body =
            length == std::string::npos || length > end ? 0 : std::stoul(data.substr(length + 16));
        if (data.size() >= end + 4 + body) {
          break;
        }
      }
      const platform::SysCallResult got = platform::Recv(accepted.value, buffer, sizeof buffer);
      if (got.value <= 0) {
        break;
      }
      data.append(buffer, static_cast<size_t>(got.value));
    }
    const std::string_view reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    (void)platform::Send(accepted.value, reply.data(), reply.size());
    return data;
  }

  platform::Socket listener;
  int port = 0;
  std::string received;
  std::thread taker;
};

// The command run by bash and a real curl sends the request line's target and the body exactly
// as captured.
TEST(CurlCommand, RealCurlSendsTheCapturedBytes) {
  using namespace std::string_literals;
  OneRequestServer server;
  ASSERT_GT(server.Port(), 0);
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  const std::string body = "@/etc/passwd\n\xFF\x01'\\x41\" $(id) \xC3\xA9\r\n"s;
  const std::string request =
      "POST /a[1-2]{x,y}?q=%ff HTTP/1.1\r\nHost: " + host +
      "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\n\r\n" + body;
  const CurlCommand result = Build(request);
  ASSERT_TRUE(result.ok) << result.problem;
  const std::string run =
      "/bin/bash -c " + ShellQuote(result.command + " --silent --output /dev/null --max-time 20");
  EXPECT_EQ(std::system(run.c_str()), 0) << result.command;
  const std::string& sent = server.Request();
  EXPECT_EQ(sent.rfind("POST /a[1-2]{x,y}?q=%ff HTTP/1.1\r\n", 0), 0u) << sent;
  const size_t end = sent.find("\r\n\r\n");
  ASSERT_NE(end, std::string::npos) << sent;
  EXPECT_EQ(sent.substr(end + 4), body);
}

TEST(CurlCommand, RefusesANulAndAHeaderCurlWouldReadAsAFile) {
  using namespace std::string_literals;
  const struct {
    std::string captured;
    std::string problem;
  } rows[] = {
      {"POST http://h/ HTTP/1.1\r\nContent-Length: 3\r\n\r\na\0b"s, "NUL"},
      {"GET http://h/ HTTP/1.1\r\n@/etc/passwd: x\r\n\r\n", "file name"},
      {"GET http://h/ HTTP/1.1\r\n @/etc/passwd: x\r\n\r\n", "file name"},  // white space first
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.captured);
    const CurlCommand result = Build(row.captured);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.problem.find(row.problem), std::string::npos) << result.problem;
  }
}

TEST(CurlCommand, OriginFormTargetThatHoldsASchemeInItsQuery) {
  const CurlCommand result = Build("GET /go?to=http://b.test/ HTTP/1.1\r\nHost: a.test\r\n\r\n");
  ASSERT_TRUE(result.ok) << result.problem;
  EXPECT_NE(result.command.find("'http://a.test/go?to=http://b.test/'"), std::string::npos)
      << result.command;
}

}  // namespace
}  // namespace rw::app
