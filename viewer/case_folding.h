// Case-insensitive matching of captured text for the Detail page's search. Pure functions and a
// small matcher; any thread, no locks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rw::viewer {

// The one-to-one case folding of one code point (U+00C4 -> U+00E4, U+1E9E -> U+00DF); code points
// without one come back unchanged. Never maps one character to several, so "STRASSE" and
// "Straße" stay different and character positions keep their meaning.
char32_t FoldCodePoint(char32_t codePoint);

// `text` read as UTF-8 with every character folded, written back as UTF-8. Bytes that do not form
// a well-formed UTF-8 sequence are copied unchanged, one by one.
std::string FoldCase(std::string_view text);
// The same into `out` (cleared first), so a caller folding many texts reuses one buffer.
void FoldCaseInto(std::string_view text, std::string& out);

// Plain substring search ignoring case: no wildcards, no word boundaries.
class TextMatcher {
 public:
  explicit TextMatcher(std::string_view pattern);

  bool Empty() const { return pattern.empty(); }
  // True when the folded pattern occurs in the folded `text`. An empty pattern matches nothing.
  bool Matches(std::string_view text);

 private:
  std::string pattern;  // folded
  std::string folded;   // scratch, reused between calls
};

}  // namespace rw::viewer
