#include "text/text_steps.h"

#include <gtest/gtest.h>

#include <climits>
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

TEST(TextSteps, LeadingIntegerReadsTheNumberBeforeAnyOtherText) {
  struct Row {
    const char* text;
    int32_t value;
  };
  const Row rows[] = {
      {"42", 42},
      {"  42abc", 42},
      {"\t-17 MB", -17},
      {"+8", 8},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"- 5", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"99999999999999999999999", INT32_MAX},  // saturates instead of wrapping
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(LeadingInteger(row.text), row.value);
  }
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

TEST(TextSteps, HexDigitsOfEitherCase) {
  const std::string digits = "0123456789abcdefABCDEF";
  const int values[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                        11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < digits.size(); ++i) {
    EXPECT_EQ(HexDigitValue(digits[i]), values[i]) << digits[i];
  }
  for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0'}) {
    EXPECT_EQ(HexDigitValue(c), -1) << static_cast<int>(c);
  }
}

TEST(TextSteps, LeadingDecimalSaturatesFarBeyondThirtyTwoBits) {
  EXPECT_EQ(LeadingDecimal(" 8080x"), 8080);
  EXPECT_EQ(LeadingDecimal("-12"), -12);
  EXPECT_EQ(LeadingDecimal("4294967296"), int64_t{4294967296});
  EXPECT_EQ(LeadingDecimal("99999999999999999999999"), int64_t{1} << 40);
  EXPECT_EQ(LeadingDecimal("-99999999999999999999999"), -(int64_t{1} << 40));
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
