#include "headless/exchange_line.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/local_time.h"

namespace rw::headless {
namespace {

capture::ExchangeSummary Summary(std::string requestLine, std::string statusLine) {
  capture::ExchangeSummary summary;
  summary.id = 12;
  summary.startMilliseconds = 1765233301123;
  summary.requestLine = std::move(requestLine);
  summary.statusLine = std::move(statusLine);
  summary.requestTotal = 312;
  summary.responseTotal = 24123;
  summary.totalMilliseconds = 1234;
  return summary;
}

TEST(ExchangeLine, Fields) {
  const std::string time = platform::FormatLocalTimeOfDay(1765233301123);
  ASSERT_TRUE(std::regex_match(time, std::regex(R"(\d\d:\d\d:01\.123)"))) << time;
  struct Row {
    const char* name;
    std::string requestLine;
    std::string statusLine;
    std::string expected;  // after the time
  };
  const Row rows[] = {
      {"page", "GET http://a.test/x?y=1 HTTP/1.1", "HTTP/1.1 404 Not Found",
       " #12 GET http://a.test/x?y=1 404 req=312B rsp=24123B 1.234s"},
      {"tunnel", "CONNECT a.test:443 HTTP/1.1", "HTTP/1.0 200 Connection established",
       " #12 CONNECT a.test:443 200 req=312B rsp=24123B 1.234s"},
      {"no response", "POST http://a.test/ HTTP/1.1", "",
       " #12 POST http://a.test/ --- req=312B rsp=24123B 1.234s"},
      {"not a status line", "GET http://a.test/ HTTP/1.1", "\x16\x03",
       " #12 GET http://a.test/ --- req=312B rsp=24123B 1.234s"},
      {"control bytes and malformed UTF-8", "GET http://a.test/\x1b[2J\xff HTTP/1.1",
       "HTTP/1.1 200 OK", " #12 GET http://a.test/?[2J? 200 req=312B rsp=24123B 1.234s"},
      {"no request line captured", "", "", " #12 - - --- req=312B rsp=24123B 1.234s"},
      {"bytes a tunnel carries on with", "\x17\x03 x", "\x17",
       " #12 - - --- req=312B rsp=24123B 1.234s"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FormatExchangeLine(Summary(row.requestLine, row.statusLine)), time + row.expected);
  }
}

TEST(ExchangeLine, ExchangesTakenOutOfTlsAreNamedByTheirOrigin) {
  const std::string time = platform::FormatLocalTimeOfDay(1765233301123);
  capture::ExchangeSummary inside = Summary("GET /x?y=1 HTTP/1.1", "HTTP/1.1 502 Bad Gateway");
  inside.origin = "https://a.test:8443";
  EXPECT_EQ(FormatExchangeLine(inside),
            time + " #12 GET https://a.test:8443/x?y=1 502 req=312B rsp=24123B 1.234s");

  // A handshake that failed: no request, and the proxy's note as the response.
  capture::ExchangeSummary failed =
      Summary("", "TLS handshake with the browser failed: tlsv1 alert unknown ca");
  failed.origin = "https://a.test";
  failed.requestTotal = 0;
  failed.responseTotal = 61;
  EXPECT_EQ(FormatExchangeLine(failed),
            time +
                " #12 - https://a.test --- req=0B rsp=61B 1.234s TLS handshake with the browser "
                "failed: tlsv1 alert unknown ca");
}

TEST(ExchangeLine, LongUrlIsCutAndEmptyConnectionsMakeNoLine) {
  const std::string line =
      FormatExchangeLine(Summary("GET http://a.test/" + std::string(5000, 'a') + " HTTP/1.1", ""));
  EXPECT_LT(line.size(), 2100u);
  EXPECT_NE(line.find("aaa... ---"), std::string::npos);

  capture::ExchangeSummary empty = Summary("", "");
  empty.requestTotal = 0;
  empty.responseTotal = 0;
  EXPECT_EQ(FormatExchangeLine(empty), "");
}

}  // namespace
}  // namespace rw::headless
