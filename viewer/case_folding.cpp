#include "viewer/case_folding.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "text/utf8.h"

namespace rw::viewer {
namespace {

struct FoldPair {
  char32_t from;
  char32_t to;
};

constexpr FoldPair kFoldTable[] = {
#include "viewer/case_fold_table.inc"
};

static_assert(std::is_sorted(std::begin(kFoldTable), std::end(kFoldTable),
                             [](const FoldPair& a, const FoldPair& b) { return a.from < b.from; }));

// Two-byte UTF-8 (up to U+07FF: Latin, Greek, Cyrillic, ...) folds by direct lookup.
constexpr char32_t kDirectLimit = 0x800;
constexpr std::array<char16_t, kDirectLimit> MakeDirectTable() {
  std::array<char16_t, kDirectLimit> table{};
  for (char32_t c = 0; c < kDirectLimit; ++c) {
    table[c] = static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  }
  for (const FoldPair& pair : kFoldTable) {
    if (pair.from < kDirectLimit) {
      table[pair.from] = static_cast<char16_t>(pair.to);
    }
  }
  return table;
}
constexpr std::array<char16_t, kDirectLimit> kDirectTable = MakeDirectTable();

// Writes the UTF-8 form of `codePoint` at `out`; returns the end of what it wrote.
char* AppendUtf8(char32_t codePoint, char* out) {
  if (codePoint < 0x80) {
    *out++ = static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    *out++ = static_cast<char>(0xC0 | (codePoint >> 6));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (codePoint >> 12));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

}  // namespace

char32_t FoldCodePoint(char32_t codePoint) {
  if (codePoint < kDirectLimit) {
    return kDirectTable[codePoint];
  }
  const auto* found =
      std::lower_bound(std::begin(kFoldTable), std::end(kFoldTable), codePoint,
                       [](const FoldPair& pair, char32_t value) { return pair.from < value; });
  if (found != std::end(kFoldTable) && found->from == codePoint) {
    return found->to;
  }
  return codePoint;
}

void FoldCaseInto(std::string_view text, std::string& out) {
  // A folded character takes at most one byte more than the original (U+023A, two bytes, folds
  // to U+2C65, three), so twice the input always fits; the text is written through a pointer.
  out.resize(text.size() * 2);
  char* write = out.data();
  const char* read = text.data();
  const char* const end = read + text.size();
  while (read < end) {
    const unsigned char c = static_cast<unsigned char>(*read);
    if (c < 0x80) {
      // ASCII, the bulk of captured HTTP, goes through without decoding.
      *write++ = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
      ++read;
      continue;
    }
    char32_t codePoint = 0;
    const int length =
        text::DecodeUtf8(std::string_view(read, static_cast<size_t>(end - read)), codePoint);
    if (length == 0) {
      *write++ = static_cast<char>(c);
      ++read;
      continue;
    }
    write = AppendUtf8(FoldCodePoint(codePoint), write);
    read += length;
  }
  out.resize(static_cast<size_t>(write - out.data()));
}

std::string FoldCase(std::string_view text) {
  std::string out;
  FoldCaseInto(text, out);
  return out;
}

TextMatcher::TextMatcher(std::string_view sought) : pattern(FoldCase(sought)) {}

bool TextMatcher::Matches(std::string_view text) {
  if (pattern.empty()) {
    return false;
  }
  FoldCaseInto(text, folded);
  return folded.find(pattern) != std::string::npos;
}

}  // namespace rw::viewer
