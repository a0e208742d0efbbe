#include "proxy/request_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rw::proxy {
namespace {

TEST(RequestLine, ParsesAndRewritesToOriginForm) {
  struct Row {
    std::string line;
    std::string host;
    int32_t port;
    std::string originForm;  // empty when the host is empty
  };
  const std::vector<Row> rows = {
      {"GET http://example.com/a/b?x=1 HTTP/1.1\r\n", "example.com", 80,
       "GET /a/b?x=1 HTTP/1.1\r\n"},
      {"GET http://example.com:8080/ HTTP/1.1\r\n", "example.com", 8080, "GET / HTTP/1.1\r\n"},
      // Scheme compared ignoring case; the method keeps its case.
      {"get HTTP://Example.com/x HTTP/1.0\r\n", "Example.com", 80, "get /x HTTP/1.0\r\n"},
      // 80 whatever the scheme.
      {"GET https://secure.test/ HTTP/1.1\r\n", "secure.test", 80, "GET / HTTP/1.1\r\n"},
      {"GET http://example.com HTTP/1.1\r\n", "", 80, ""},
      {"GET /relative HTTP/1.1\r\n", "", 80, ""},
      {"GET ftp://x/ HTTP/1.1\r\n", "", 80, ""},
      {"GET http://a/ HTTP/1.1 extra\r\n", "", 80, ""},
      {"GET http://a/\r\n", "", 80, ""},
      {"HELLO\r\n", "", 80, ""},
      {"\r\n", "", 80, ""},
      {"GET http://a:0/ HTTP/1.1\r\n", "a", 0, "GET / HTTP/1.1\r\n"},
      {"GET http://a:99999/ HTTP/1.1\r\n", "a", -1, "GET / HTTP/1.1\r\n"},
      {"GET http://a:12ab/ HTTP/1.1\r\n", "a", 12, "GET / HTTP/1.1\r\n"},
      {"GET http://a:x/ HTTP/1.1\r\n", "a", 0, "GET / HTTP/1.1\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    RequestLine request = ParseRequestLine(row.line);
    EXPECT_FALSE(request.tunnel);
    EXPECT_EQ(request.host, row.host);
    if (!row.host.empty()) {
      EXPECT_EQ(request.port, row.port);
      EXPECT_EQ(OriginFormLine(request), row.originForm);
    }
  }
}

TEST(RequestLine, ConnectNamesHostAndPort) {
  struct Row {
    std::string line;
    std::string host;
    int32_t port;
  };
  const std::vector<Row> rows = {
      {"CONNECT secure.test:443 HTTP/1.1\r\n", "secure.test", 443},
      {"connect secure.test HTTP/1.1\r\n", "secure.test", 80},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    RequestLine request = ParseRequestLine(row.line);
    EXPECT_TRUE(request.tunnel);
    EXPECT_EQ(request.host, row.host);
    EXPECT_EQ(request.port, row.port);
  }
}

TEST(RequestLine, NineCharacterMethodTest) {
  struct Row {
    std::string line;
    bool bodyless;
  };
  const std::vector<Row> rows = {
      {"GET / HTTP/1.1\r\n", true},
      {"HEAD / HTTP/1.1\r\n", true},
      {"PUT /x HTTP/1.1\r\n", true},
      {"DELETE /x HTTP/1.1\r\n", true},
      {"get / HTTP/1.1\r\n", true},
      {"POST / HTTP/1.1\r\n", false},
      {"POST /GET HTTP/1.1\r\n", true},    // "GET" within the first nine characters
      {"POST /aGET HTTP/1.1\r\n", false},  // ... but not beyond them
      {"OPTIONS * HTTP/1.1\r\n", false},
      {"CONNECT a:443 HTTP/1.1\r\n", false},
      {"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(HasBodylessMethodPrefix(row.line), row.bodyless);
  }
}

}  // namespace
}  // namespace rw::proxy
