#include "text/text_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rw::text {
namespace {

TEST(TextSteps, TrimRemovesEveryKindOfWhiteSpaceAtBothEndsOnly) {
  EXPECT_EQ(Trim(" \t\r\n\v\fa b\f\v\n\r\t "), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("x"), "x");
}

// Header values lose only the blanks and tabs around them: line ends and other controls stay.
TEST(TextSteps, TrimBlanksRemovesBlanksAndTabsAtBothEndsOnly) {
  EXPECT_EQ(TrimBlanks(" \t a \t b\t "), "a \t b");
  EXPECT_EQ(TrimBlanks("\ra\n"), "\ra\n");
  EXPECT_EQ(TrimBlanks(" \t "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

TEST(TextSteps, TokeniseGivesRunsOfNonSeparatorsUpToNulOrLineFeed) {
  struct Row {
    std::string text;
    std::string separators;
    std::vector<std::string> tokens;
  };
  const std::vector<Row> rows = {
      {"GET  http://a/ HTTP/1.1\r\n", " \r\n", {"GET", "http://a/", "HTTP/1.1"}},
      {"  a ", " ", {"a"}},
      {"", " ", {}},
      {"a b\nc d", " ", {"a", "b"}},
      {std::string("a b\0c", 5), " ", {"a", "b"}},
      {"host:8080", ":", {"host", "8080"}},
      {"host::1", ":", {"host", "1"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Tokenise(row.text, row.separators), row.tokens);
  }
}

TEST(TextSteps, MethodsAreCapitalTokensAndTunnelBytesAreNot) {
  for (const std::string word : {"GET", "CONNECT", "M-SEARCH", "VERSION_CONTROL"}) {
    EXPECT_TRUE(IsMethod(word)) << word;
  }
  const std::string notMethods[] = {"", "get", "G3T", "\x16\x03\x01", "GET/", std::string(33, 'A')};
  for (const std::string& word : notMethods) {
    EXPECT_FALSE(IsMethod(word)) << word;
  }
}

}  // namespace
}  // namespace rw::text
