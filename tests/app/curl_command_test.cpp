#include "app/curl_command.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

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
  EXPECT_EQ(command.command.rfind("curl --noproxy '*' 'https://a.test/a?b=1' ", 0), 0u)
      << command.command;
}

TEST(CurlCommand, RepeatsGetDirectOrThroughProxy) {
  const std::string request =
      "GET http://example.test:8080/a?b=1&c=2 HTTP/1.1\r\nHost: example.test:8080\r\n"
      "User-Agent: Mozilla/5.0 (X11; Linux)\r\nProxy-Connection: keep-alive\r\n"
      "Accept-Encoding: gzip\r\n\r\n";
  const CurlCommand direct = Build(request);
  ASSERT_TRUE(direct.ok) << direct.problem;
  EXPECT_EQ(direct.command,
            "curl --noproxy '*' 'http://example.test:8080/a?b=1&c=2' --header 'Host: "
            "example.test:8080' --header 'User-Agent: Mozilla/5.0 (X11; Linux)' --header "
            "'Accept-Encoding: gzip' --compressed");
  const CurlCommand proxied = Build(request, "127.0.0.1:8010");
  ASSERT_TRUE(proxied.ok);
  EXPECT_EQ(proxied.command.rfind("curl --proxy 'http://127.0.0.1:8010' 'http://example.test", 0),
            0u)
      << proxied.command;
}

TEST(CurlCommand, BodiesAndMethods) {
  const CurlCommand post = Build(
      "POST /form HTTP/1.1\nHost: h\nContent-Length: 9\nContent-Type: text/plain\n\nit's\r\nok\n");
  ASSERT_TRUE(post.ok) << post.problem;
  EXPECT_EQ(post.command,
            "curl --noproxy '*' --request 'POST' 'http://h/form' --header 'Host: h' --header "
            "'Content-Type: "
            "text/plain' --data-binary 'it'\\''s\r\nok\n'");

  const CurlCommand chunked = Build(
      "PUT http://h/x HTTP/1.1\r\nTransfer-Encoding: "
      "chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
  ASSERT_TRUE(chunked.ok) << chunked.problem;
  EXPECT_NE(chunked.command.find("--data-binary 'abcde'"), std::string::npos) << chunked.command;
  EXPECT_EQ(chunked.command.find("Transfer-Encoding"), std::string::npos);

  const CurlCommand head = Build("HEAD http://h/ HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(head.ok);
  EXPECT_EQ(head.command, "curl --noproxy '*' --head 'http://h/'");
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
  const std::string rows[] = {
      "plain",       "it's", "''", "$(touch /nonexistent)`x` \"q\" \\ ;|&", "line\nbreak\r\ttab",
      "\xC3\xA9\xFF"};
  for (const std::string& text : rows) {
    SCOPED_TRACE(text);
    const std::string script = "printf %s " + ShellQuote(text);
    FILE* pipe = popen(("/bin/sh -c " + ShellQuote(script)).c_str(), "r");
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

}  // namespace
}  // namespace rw::app
