#include "proxy/response_header_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "proxy/header_text.h"
#include "text/case_blind.h"

namespace rw::proxy {

using text::ToLower;
namespace {

ResponseHeaderInfo Examine(const std::vector<std::string>& lines) {
  ResponseHeaderInfo info;
  for (const std::string& line : lines) {
    info.ExamineLine(ToLower(line));
  }
  info.CompleteClass();
  return info;
}

TEST(ResponseHeaderInfo, ByContentType) {
  struct Row {
    std::string contentType;  // empty = no Content-Type line
    uint16_t contentClass;
  };
  const std::vector<Row> rows = {
      {"", kClassHtml | kClassText},
      {"Content-Type: text/html; charset=utf-8", kClassHtml | kClassText},
      {"Content-Type: application/javascript", kClassScript | kClassText},
      {"Content-Type: text/jscript", kClassScript | kClassText},
      {"Content-Type: text/plain", kClassText},
      {"Content-Type: text/css", kClassText},
      {"Content-Type: text/x-component", kClassOther},
      // A live feed that never ends: streamed, not held.
      {"Content-Type: text/event-stream", kClassOther},
      {"Content-Type: image/gif", kClassOther},
      {"Content-Type: application/octet-stream", kClassOther},
      {"Content-Type: application/xhtml+xml", kClassHtml | kClassText},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.contentType);
    std::vector<std::string> lines = {"HTTP/1.1 200 OK\r\n"};
    if (!row.contentType.empty()) {
      lines.push_back(row.contentType + "\r\n");
    }
    EXPECT_EQ(Examine(lines).contentClass, row.contentClass);
  }
}

TEST(ResponseHeaderInfo, LengthAndCodingOnlyFromLinesNamedSo) {
  struct Row {
    std::string line;
    int64_t contentLength;
    bool chunked;
  };
  const std::vector<Row> rows = {
      {"Content-Length: 1000\r\n", 1000, false},
      {"content-length:42\r\n", 42, false},
      {"Content-Length:    7 \r\n", 7, false},
      // Beyond 32 bits: read whole, not wrapped.
      {"Content-Length: 3000000000\r\n", 3000000000, false},
      // Other numbers than plain digits: NumberParsers.
      {"Content-Length:\r\n", -1, false},
      {"Access-Control-Expose-Headers: Content-Length, ETag\r\n", -1, false},
      {"X-Content-Length: 5\r\n", -1, false},
      {"Transfer-Encoding: chunked\r\n", -1, true},
      {"Transfer-Encoding: gzip, chunked\r\n", -1, true},
      {"X-Note: transfer-encoding chunked\r\n", -1, false},
      {"Transfer-Encoding: identity\r\n", -1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    ResponseHeaderInfo info = Examine({"HTTP/1.1 200 OK\r\n", row.line});
    EXPECT_EQ(info.contentLength, row.contentLength);
    EXPECT_EQ(info.chunked, row.chunked);
  }
}

}  // namespace
}  // namespace rw::proxy
