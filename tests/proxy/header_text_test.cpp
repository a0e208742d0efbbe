#include "proxy/header_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "proxy/header_end_scanner.h"
#include "tests/support/buffer_of.h"

namespace rw::proxy {

namespace {

using testing::BufferOf;

TEST(HeaderText, StopsExactlyWhereTheEndTestFindsTheEnd) {
  struct Row {
    std::string bytes;
    std::vector<std::string> lines;
    std::string rest;
  };
  const std::vector<Row> rows = {
      {"GET / HTTP/1.1\r\nAccept: */*\r\n\r\nBODY",
       {"GET / HTTP/1.1\r\n", "Accept: */*\r\n\r\n"},
       "BODY"},
      {"GET / HTTP/1.1\n\nX", {"GET / HTTP/1.1\n\n"}, "X"},
      {"A\n\r\nB", {"A\n\r\n"}, "B"},
      // Several carriage returns before the final line feed still end the header at that line.
      {"A\r\nB\n\r\r\nC", {"A\r\n", "B\n\r\r\n"}, "C"},
      {"A\n\rB\n\n", {"A\n", "\rB\n\n"}, ""},
      {"\n\nrest", {"\n\n"}, "rest"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    ByteBuffer buffer = BufferOf(row.bytes);
    LineList lines;
    ASSERT_TRUE(SplitRequestHeader(buffer, GzipOffers::kDrop, lines));
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(std::string(buffer.View()), row.rest);
    EXPECT_EQ(row.bytes.size() - row.rest.size(), HeaderEndLength(row.bytes));
  }
}

TEST(HeaderText, IncompleteHeaderLeavesBufferAndNoLines) {
  for (std::string bytes : {"", "A", "A\r\n", "A\r\nB\r\n\r", "A\n\r"}) {
    SCOPED_TRACE(bytes);
    ByteBuffer buffer = BufferOf(bytes);
    LineList lines = {"stale"};
    EXPECT_FALSE(SplitRequestHeader(buffer, GzipOffers::kDrop, lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(std::string(buffer.View()), bytes);
  }
}

TEST(HeaderText, DropsLinesOfferingGzipUnlessTunnelling) {
  const std::string header =
      "GET / HTTP/1.1\r\nAccept-Encoding: gzip, deflate\r\nAccept-Encoding: deflate\r\n\r\n";
  ByteBuffer buffer = BufferOf(header);
  LineList lines;
  ASSERT_TRUE(SplitRequestHeader(buffer, GzipOffers::kDrop, lines));
  EXPECT_EQ(lines, (LineList{"GET / HTTP/1.1\r\n", "Accept-Encoding: deflate\r\n\r\n"}));

  buffer = BufferOf(header);
  ASSERT_TRUE(SplitRequestHeader(buffer, GzipOffers::kKeep, lines));
  EXPECT_EQ(lines.size(), 3u);
}

TEST(HeaderText, GzipRuleDropsOnlyTheAcceptEncodingField) {
  struct Row {
    std::string line;
    bool kept;
  };
  const std::vector<Row> rows = {
      {"Accept-Encoding: gzip, br\r\n", false},
      {"ACCEPT-ENCODING:gzip\r\n", false},
      {"Accept-Encoding: br\r\n", true},
      // Values that happen to mention the field and gzip are other fields' business.
      {"Referer: http://x/?h=accept-encoding:gzip\r\n", true},
      {"Cookie: seen=accept-encoding: gzip\r\n", true},
      {"X-Accept-Encoding: gzip\r\n", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    ByteBuffer buffer = BufferOf("GET / HTTP/1.1\r\n" + row.line + "Host: x\r\n\r\n");
    LineList lines;
    ASSERT_TRUE(SplitRequestHeader(buffer, GzipOffers::kDrop, lines));
    EXPECT_EQ(std::find(lines.begin(), lines.end(), row.line) != lines.end(), row.kept);
    EXPECT_EQ(lines.size(), row.kept ? 3u : 2u);
  }
}

TEST(TerminateHeaderText, EndsInExactlyOneBlankLine) {
  struct Row {
    std::string text;
    std::string terminated;
  };
  const std::vector<Row> rows = {
      {"", ""},
      {"A\r\nB\r\n\r\n", "A\r\nB\r\n\r\n"},
      {"A\r\nB\n\n", "A\r\nB\r\n\r\n"},
      {"A\r\nB", "A\r\nB\r\n\r\n"},
      {"A\n\r\n\r\n\n", "A\r\n\r\n"},
      {"\r\n", "\r\r\n\r\n"},  // the first character is never removed
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::string text = row.text;
    TerminateHeaderText(text);
    EXPECT_EQ(text, row.terminated);
  }
  EXPECT_EQ(JoinLines({"a\r\n", "b\r\n\r\n"}), "a\r\nb\r\n\r\n");
}

}  // namespace
}  // namespace rw::proxy
