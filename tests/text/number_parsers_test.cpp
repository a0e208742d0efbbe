#include "text/number_parsers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace rw::text {
namespace {

TEST(NumberParsers, LeadingIntegerReadsTheNumberBeforeAnyOtherText) {
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
  struct Row {
    std::string line;
    int32_t status;
  };
  const std::vector<Row> rows = {
      {"http/1.1 200 ok\r\n", 200},
      {"HTTP/1.1 404 Not Found\r\n", 404},
      {"http/1.0 304 not modified\r\n", 304},
      {"http/1.1 100 continue\r\n", 100},
      {"http/1.1\r\n", 0},
      {"xyz 200 ok\r\n", 0},
      {"http/1.1 abc\r\n", 0},
      {"http/1.1 99999999999999999 x\r\n", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(StatusCodeOfLine(row.line), row.status);
  }
}

TEST(NumberParsers, StrictDecimalsLengthsAndThreeDigitStatus) {
  struct Row {
    std::string text;
    int64_t contentLength;  // -1: not a length
    int status;             // 0: not a three-digit status
  };
  const std::vector<Row> rows = {
      {"200", 200, 200},
      {"007", 7, 7},
      {" 12\r\n", 12, 0},
      {"", -1, 0},
      {"-1", -1, 0},
      {"+1", -1, 0},
      {"2x0", -1, 0},
      {"1 2", -1, 0},
      {"9223372036854775807", INT64_MAX, 0},
      {"9223372036854775808", -1, 0},  // one past 63 bits
      {"0000000000000000000005", 5, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ParseContentLengthValue(row.text), row.contentLength);
    EXPECT_EQ(ThreeDigitStatus(row.text).value_or(0), row.status);
  }
}

}  // namespace
}  // namespace rw::text
