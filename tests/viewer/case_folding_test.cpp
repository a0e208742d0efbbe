#include "viewer/case_folding.h"

#include <gtest/gtest.h>

#include <string>

namespace rw::viewer {
namespace {

TEST(CaseFolding, FoldsUtf8OneCharacterToOne) {
  struct Row {
    std::string text;
    std::string folded;
  };
  const Row rows[] = {
      {"Content-TYPE", "content-type"},
      {"GR\xC3\x9C\xC3\x9F"
       "E",
       "gr\xC3\xBC\xC3\x9F"
       "e"},                                                     // Ü -> ü, ß stays ß
      {"\xE1\xBA\x9E", "\xC3\x9F"},                              // capital sharp s -> ß
      {"\xD0\x9F\xD0\xA0\xD0\x98", "\xD0\xBF\xD1\x80\xD0\xB8"},  // Cyrillic ПРИ -> при
      {"\xCE\xA3\xCF\x82", "\xCF\x83\xCF\x83"},                  // Σς -> σσ
      {"x\xC8\xBAy", "x\xE2\xB1\xA5y"},                          // two bytes fold to three
      {"\xE2\x84\xAA", "k"},                                     // Kelvin sign -> k
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                  // Deseret, four bytes
      {"\xE2\x82\xAC 5", "\xE2\x82\xAC 5"},                      // no case: unchanged
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(FoldCase(row.text), row.folded);
  }
}

// Invalid bytes pass through one by one and never swallow the valid text after them.
TEST(CaseFolding, KeepsInvalidBytes) {
  const std::string rows[] = {
      std::string("A\xC3"),  // cut sequence at the end
      std::string("\xC3"
                  "A"),  // lead byte followed by ASCII
      std::string("\xC0\xAF"
                  "B"),  // overlong
      std::string("\xED\xA0\x80"
                  "C"),  // surrogate
      std::string("\xF5\x80\x80\x80"
                  "D"),  // beyond U+10FFFF
      std::string("\xFF\xFE"
                  "E"),
  };
  for (const std::string& text : rows) {
    SCOPED_TRACE(text);
    std::string expected = text;
    expected.back() = static_cast<char>(expected.back() + ('a' - 'A'));
    if (text == "A\xC3") {
      expected = "a\xC3";
    }
    EXPECT_EQ(FoldCase(text), expected);
  }
}

TEST(TextMatcher, PlainSubstringIgnoringCase) {
  struct Row {
    std::string pattern;
    std::string text;
    bool matches;
  };
  const Row rows[] = {
      {"user-agent", "GET / HTTP/1.1\r\nUser-Agent: x\r\n", true},
      {"USER-AGENT", "GET / HTTP/1.1\r\nuser-agent: x\r\n", true},
      {"stra\xC3\x9F"
       "e",
       "STRA\xC3\x9F"
       "E",
       true},
      {"stra\xC3\x9F"
       "e",
       "STRASSE", false},  // no length-changing folds
      {"STRASSE",
       "Stra\xC3\x9F"
       "e",
       false},
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},  // été / ÉTÉ
      {"a.c", "abc", false},                             // no wildcards
      {"", "anything", false},
      {"x", "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pattern + " in " + row.text);
    TextMatcher matcher(row.pattern);
    EXPECT_EQ(matcher.Matches(row.text), row.matches);
  }
}

}  // namespace
}  // namespace rw::viewer
