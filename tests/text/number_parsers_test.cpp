#include "text/number_parsers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace rw::text {
namespace {

TEST(NumberParsers, LeadingIntegerReadsTheNumberBeforeAnyOtherText) {
  EXPECT_EQ(LeadingInteger("42"), 42);
  EXPECT_EQ(LeadingInteger("  42abc"), 42);
  EXPECT_EQ(LeadingInteger("\t-17 MB"), -17);
  EXPECT_EQ(LeadingInteger("+8"), 8);
  for (const char* none : {"abc", "", "-", "- 5"}) {
    EXPECT_EQ(LeadingInteger(none), 0) << none;
  }
  EXPECT_EQ(LeadingInteger("2147483647"), INT32_MAX);
  EXPECT_EQ(LeadingInteger("2147483648"), INT32_MAX);
  EXPECT_EQ(LeadingInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(LeadingInteger("-2147483649"), INT32_MIN);
  EXPECT_EQ(LeadingInteger("99999999999999999999999"), INT32_MAX);  // saturates, not wrapped
}

TEST(NumberParsers, HexDigitsOfEitherCase) {
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

TEST(NumberParsers, LeadingDecimalSaturatesFarBeyondThirtyTwoBits) {
  EXPECT_EQ(LeadingDecimal(" 8080x"), 8080);
  EXPECT_EQ(LeadingDecimal("-12"), -12);
  EXPECT_EQ(LeadingDecimal("4294967296"), int64_t{4294967296});
  EXPECT_EQ(LeadingDecimal("99999999999999999999999"), int64_t{1} << 40);
  EXPECT_EQ(LeadingDecimal("-99999999999999999999999"), -(int64_t{1} << 40));
}

TEST(NumberParsers, StatusCodeOfLineFollowsHttpAndASpace) {
  EXPECT_EQ(StatusCodeOfLine("http/1.1 200 ok\r\n"), 200);
  EXPECT_EQ(StatusCodeOfLine("HTTP/1.1 404 Not Found\r\n"), 404);
  EXPECT_EQ(StatusCodeOfLine("http/1.0 304 not modified\r\n"), 304);
  EXPECT_EQ(StatusCodeOfLine("http/1.1 100 continue\r\n"), 100);
  EXPECT_EQ(StatusCodeOfLine("http/1.1\r\n"), 0);
  EXPECT_EQ(StatusCodeOfLine("xyz 200 ok\r\n"), 0);
  EXPECT_EQ(StatusCodeOfLine("http/1.1 abc\r\n"), 0);
  EXPECT_EQ(StatusCodeOfLine("http/1.1 99999999999999999 x\r\n"), 0);
}

TEST(NumberParsers, StrictDecimalsLengthsAndThreeDigitStatus) {
  EXPECT_EQ(ParseContentLengthValue(" 0000000000000000000005\r\n"), 5);
  EXPECT_EQ(ParseContentLengthValue("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseContentLengthValue("9223372036854775808"), -1);  // one past 63 bits
  for (const char* bad : {"99999999999999999999", "abc", "", "-5", "+1", "12x", "1 2"}) {
    EXPECT_EQ(ParseContentLengthValue(bad), -1) << bad;
  }
  EXPECT_EQ(ThreeDigitStatus("007"), 7);
  for (const char* bad : {"20", "2000", "2x0", " 20"}) {
    EXPECT_FALSE(ThreeDigitStatus(bad)) << bad;
  }
}

}  // namespace
}  // namespace rw::text
