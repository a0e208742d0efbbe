#include "proxy/text_steps.h"

#include <gtest/gtest.h>

#include <climits>

namespace rw::proxy {
namespace {

TEST(TextSteps, TrimRemovesEveryKindOfWhiteSpaceAtBothEndsOnly) {
  EXPECT_EQ(Trim(" \t\r\n\v\fa b\f\v\n\r\t "), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("x"), "x");
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

}  // namespace
}  // namespace rw::proxy
