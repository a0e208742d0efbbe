#include "text/case_blind.h"

#include <gtest/gtest.h>

namespace rw::text {
namespace {

TEST(CaseBlind, CaseIsIgnoredForAsciiLettersOnly) {
  EXPECT_EQ(ToLower("Content-TYPE: Text/HTML\xC3\x84"), "content-type: text/html\xC3\x84");
  EXPECT_TRUE(EqualsIgnoringCase("CONNECT", "connect"));
  EXPECT_FALSE(EqualsIgnoringCase("CONNECT", "connec"));
  EXPECT_FALSE(EqualsIgnoringCase("[", "{"));  // differ by the case bit, but are not letters
  EXPECT_TRUE(StartsWithIgnoringCase("HTTP://host/", "http://"));
  EXPECT_FALSE(StartsWithIgnoringCase("gzip, Chunked", "chunked"));
  EXPECT_TRUE(ContainsIgnoringCase("gzip, Chunked", "chunked"));
  EXPECT_FALSE(ContainsIgnoringCase("chunk", "chunked"));
  EXPECT_FALSE(ContainsIgnoringCase("\xC3\x84", "\xC3\xA4"));
}

}  // namespace
}  // namespace rw::text
