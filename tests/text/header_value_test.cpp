#include "text/header_value.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace rw::text {
namespace {

TEST(HeaderValue, OnlyTheNamedFieldGivesItsTrimmedValue) {
  struct Row {
    std::string line;
    std::optional<std::string> value;
  };
  const std::vector<Row> rows = {
      {"Content-Length: 12\r\n", "12"},
      {"content-length:\t 12 \r\n", "12"},
      {"CONTENT-LENGTH:12", "12"},
      {"Content-Length:\r\n", ""},
      {"Content-Length : 12\r\n", std::nullopt},  // no blank before the colon
      {"Content-Length", std::nullopt},
      {"X-Content-Length: 12\r\n", std::nullopt},
      {"Access-Control-Expose-Headers: Content-Length\r\n", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const std::optional<std::string_view> value = HeaderLineValue(row.line, "content-length");
    EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, row.value);
  }
}

TEST(HeaderValue, ChunkedOnlyAsTheLastCoding) {
  struct Row {
    const char* codings;
    bool chunked;
  };
  const Row rows[] = {
      {"chunked", true},
      {"gzip, Chunked", true},
      {"gzip,chunked \r\n", true},
      {"chunked, gzip", false},
      {"gzip", false},
      {"x-chunked", false},
      {"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.codings);
    EXPECT_EQ(LastCodingIsChunked(row.codings), row.chunked);
  }
}

}  // namespace
}  // namespace rw::text
