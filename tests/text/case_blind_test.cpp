#include "text/case_blind.h"

#include <gtest/gtest.h>

namespace rw::text {
namespace {

TEST(CaseBlind, CaseIsIgnoredForAsciiLettersOnly) {
  EXPECT_EQ(ToLower("Content-TYPE: Text/HTML\xC3\x84"), "content-type: text/html\xC3\x84");
  EXPECT_TRUE(EqualsIgnoringCase("CONNECT", "connect"));
  EXPECT_FALSE(EqualsIgnoringCase("CONNECT", "connec"));
  EXPECT_FALSE(EqualsIgnoringCase("[", "{"));  // differ by the case bit, but are not letters
}

TEST(CaseBlind, StartsWithAndContains) {
  struct Row {
    const char* text;
    const char* part;
    bool startsWith;
    bool contains;
  };
  const Row rows[] = {
      {"HTTP://host/", "http://", true, true},
      {"gzip, Chunked", "chunked", false, true},
      {"chunk", "chunked", false, false},
      {"", "", true, true},
      {"x", "", true, true},
      {"\xC3\x84", "\xC3\xA4", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(StartsWithIgnoringCase(row.text, row.part), row.startsWith);
    EXPECT_EQ(ContainsIgnoringCase(row.text, row.part), row.contains);
  }
}

}  // namespace
}  // namespace rw::text
