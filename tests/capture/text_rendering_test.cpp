#include "capture/text_rendering.h"

#include <gtest/gtest.h>

#include <string>

namespace rw::capture {
namespace {

TEST(CaptureTextRendering, FormatMilliseconds) {
  const struct {
    int32_t milliseconds;
    const char* text;
  } rows[] = {{0, "0.000"},   {7, "0.007"},    {56, "0.056"},     {234, "0.234"},
              {999, "0.999"}, {1000, "1.000"}, {61234, "61.234"}, {2147483647, "2147483.647"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.milliseconds);
    EXPECT_EQ(FormatMilliseconds(row.milliseconds), row.text);
  }
}

TEST(CaptureTextRendering, FirstLineOf) {
  const struct {
    const char* name;
    std::string bytes;
    std::string line;
  } rows[] = {
      {"empty", "", ""},
      {"request line with CR LF", "GET / HTTP/1.1\r\nHost: a\r\n\r\n", "GET / HTTP/1.1"},
      {"bare LF", "HTTP/1.1 200 OK\nX: y", "HTTP/1.1 200 OK"},
      {"no line end", "partial", "partial"},
      // A break at position 0 does not cut; a later CR still does.
      {"leading LF", "\nabc\rdef", "\nabc"},
      {"leading CR LF", "\r\nabc", "\r"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FirstLineOf(row.bytes), row.line);
  }
}

TEST(CaptureTextRendering, ConvertArrayToDisplayText) {
  const struct {
    const char* name;
    std::string bytes;
    bool repair;
    std::string text;
  } rows[] = {
      {"empty gets no line end", "", true, ""},
      {"repair bare LF", "a\nb\r\nc", true, "a\r\nb\r\nc\r\n"},
      {"no repair", "a\nb\r\nc", false, "a\nb\r\nc\r\n"},
      {"leading LF repaired", "\n", true, "\r\n\r\n"},
      {"LF LF", "\n\n", true, "\r\n\r\n\r\n"},
      {"NUL kept", std::string("a\0b", 3), true, std::string("a\0b\r\n", 5)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ConvertArrayToDisplayText(row.bytes, row.repair), row.text);
  }
}

}  // namespace
}  // namespace rw::capture
