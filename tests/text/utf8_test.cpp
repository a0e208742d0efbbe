#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace rw::text {
namespace {

TEST(Utf8, RoundTripKeepsWellFormedUtf8AndReplacesTheRest) {
  struct Row {
    const char* name;
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"ascii", "GET / HTTP/1.1\r\n", "GET / HTTP/1.1\r\n"},
      {"two-byte", "gr\xC3\xBC\xC3\x9F", "gr\xC3\xBC\xC3\x9F"},
      {"three-byte quote", "it\xE2\x80\x99s", "it\xE2\x80\x99s"},
      {"four-byte", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"latin-1 byte alone", "caf\xE9", "caf?"},
      {"stray continuation", "a\x80z", "a?z"},
      {"overlong slash", "\xC0\xAF", "??"},
      {"overlong three-byte", "\xE0\x80\xAF", "???"},
      {"surrogate", "\xED\xA0\x80", "???"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"truncated at end", "ok\xE2\x82", "ok??"},
      {"lead then ascii", "\xC3(", "?("},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RoundTripCodePage(row.in), row.out);
  }
}

TEST(Utf8, SequenceLengthNeedsTheWholeSequence) {
  const auto* euro = reinterpret_cast<const unsigned char*>("\xE2\x82\xAC");
  EXPECT_EQ(Utf8SequenceLength(euro, 3), 3u);
  EXPECT_EQ(Utf8SequenceLength(euro, 2), 0u);
  EXPECT_EQ(Utf8SequenceLength(euro, 0), 0u);
}

}  // namespace
}  // namespace rw::text
