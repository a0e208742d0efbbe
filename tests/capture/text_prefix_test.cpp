#include "capture/text_prefix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace rw::capture {
namespace {

int32_t Plain(const std::string& chunk) {
  return TextPrefixLength(chunk.data(), static_cast<int32_t>(chunk.size()));
}

int32_t Utf8(const std::string& chunk) {
  Utf8Carry carry;
  return Utf8TextPrefixLength(chunk.data(), static_cast<int32_t>(chunk.size()), carry);
}

// Feeds `chunks` in turn, as one direction of one conversation, and returns what capture keeps.
std::string CaptureAll(const std::vector<std::string>& chunks) {
  Utf8Carry carry;
  std::string kept;
  for (const std::string& chunk : chunks) {
    kept.append(chunk, 0,
                Utf8TextPrefixLength(chunk.data(), static_cast<int32_t>(chunk.size()), carry));
  }
  return kept;
}

const std::string kPngAfterHeader = std::string("HTTP/1.1 200 OK\r\n\r\n") + "\x89PNG\r\n";

TEST(CaptureTextPrefix, PlainRule) {
  struct Row {
    const char* name;
    std::string chunk;
    int32_t expected;
  };
  const Row rows[] = {
      {"empty", "", 0},
      {"all text", "GET / HTTP/1.1\r\n", 16},
      {"NUL first", std::string("\0abc", 4), 0},
      {"byte 8 stops", "ab\x08", 2},
      {"tab is text", "a\tb", 3},
      {"0x80 is text", "a\x80z", 3},
      {"0x81 stops", "a\x81z", 1},
      {"0x9F stops", "ab\x9Fz", 2},
      {"0xA0 and 0xFF are text", "\xA0\xFF\xE9", 3},
      {"PNG signature after header", kPngAfterHeader, 19},
      {"UTF-8 right quote cut", "it\xE2\x80\x99s", 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Plain(row.chunk), row.expected);
  }
}

TEST(CaptureTextPrefix, Utf8RuleKeepsWellFormedSequences) {
  struct Row {
    const char* name;
    std::string chunk;
    int32_t expected;
  };
  const Row rows[] = {
      {"right quote", "it\xE2\x80\x99s ok", 9},
      {"en dash and euro", "\xE2\x80\x93 5 \xE2\x82\xAC", 9},
      {"sharp s",
       "Stra\xC3\x9F"
       "e",
       7},
      {"Cyrillic", "\xD0\x94\xD0\xB0", 4},
      {"four-byte emoji", "a\xF0\x9F\x98\x80z", 6},
      {"lone continuation stops", "ab\x81", 2},
      {"overlong lead does not excuse", "a\xC0\x81", 2},
      {"E0 needs A0-BF", "a\xE0\x81\x81", 2},
      {"lead then ASCII, then a stray 0x85", "a\xC3z\x85", 3},
      {"PNG signature still stops", kPngAfterHeader, 19},
      {"NUL still stops", std::string("\xC3\xA9\0", 3), 2},
      {"sequence cut by the end counts", "ab\xE2\x81", 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Utf8(row.chunk), row.expected);
  }
}

// Whatever the bytes, the plain rule matches a byte-by-byte reading of it, and the UTF-8 rule
// keeps at least as much and stops only at a byte the plain rule would stop at. Mostly ASCII,
// so that the word-at-a-time skipping meets every kind of byte at every offset.
TEST(CaptureTextPrefix, Utf8RuleNeverKeepsLessThanPlainRule) {
  std::mt19937 random(12345);
  const std::string ascii = "aZ <>/=\r\n\t~";
  const std::string other =
      "\x01\x08\x80\x81\x89\x99\x9F\xA0\xBF\xC2\xC3\xD0\xE0\xE2\xED\xF0\xF4\xF5\xFF";
  for (int round = 0; round < 5000; ++round) {
    std::string chunk(1 + random() % 64, ' ');
    for (char& c : chunk) {
      c = random() % 4 != 0 ? ascii[random() % ascii.size()] : other[random() % other.size()];
    }
    int32_t reference = 0;
    while (reference < static_cast<int32_t>(chunk.size())) {
      const auto b = static_cast<unsigned char>(chunk[reference]);
      if (b <= 8 || (b >= 0x81 && b <= 0x9F)) {
        break;
      }
      ++reference;
    }
    const int32_t plain = Plain(chunk);
    const int32_t utf8 = Utf8(chunk);
    ASSERT_EQ(plain, reference) << "round " << round;
    ASSERT_GE(utf8, plain) << "round " << round;
    if (utf8 < static_cast<int32_t>(chunk.size())) {
      const auto stop = static_cast<unsigned char>(chunk[utf8]);
      ASSERT_TRUE(stop <= 8 || (stop >= 0x81 && stop <= 0x9F)) << "round " << round;
    }
  }
}

TEST(CaptureTextPrefix, SequenceSplitAcrossChunksIsCompleted) {
  const std::string pages[] = {
      "caf\xC3\xA9 it\xE2\x80\x99s \xE2\x82\xAC 5",
      "smile \xF0\x9F\x98\x80\xF0\x9F\x98\x81!",
  };
  for (const std::string& page : pages) {
    for (size_t cut = 0; cut <= page.size(); ++cut) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      EXPECT_EQ(CaptureAll({page.substr(0, cut), page.substr(cut)}), page);
    }
    // A four-byte sequence spread over three chunks.
    for (size_t a = 7; a <= 10; ++a) {
      for (size_t b = a; b <= 10; ++b) {
        SCOPED_TRACE("cuts at " + std::to_string(a) + ", " + std::to_string(b));
        EXPECT_EQ(CaptureAll({page.substr(0, a), page.substr(a, b - a), page.substr(b)}), page);
      }
    }
  }
}

TEST(CaptureTextPrefix, CarryOnlyHelpsSequencesItReallyCompletes) {
  struct Row {
    const char* name;
    std::vector<std::string> chunks;
    std::string kept;
  };
  const Row rows[] = {
      // E2 89 could begin a sequence, but 0x50 cannot continue it: the PNG byte stops as ever.
      {"PNG after a cut lead", {"ok\xE2", "\x89PNG"}, "ok\xE2"},
      {"ASCII after a cut lead", {"ok\xE2", "\x41\x42"}, "ok\xE2\x41\x42"},
      // The first chunk stopped at a binary byte, so its tail was never kept and cannot be
      // continued: 0x99 stops the second chunk.
      {"tail of a binary chunk", {std::string("a\x01\xE2", 3), "\x80\x99z"}, "a\x80"},
      {"each chunk judged anew", {std::string("a\0b", 3), "cd"}, "acd"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CaptureAll(row.chunks), row.kept);
  }
}

// The engine peeks at a read only up to this end: neither rule keeps a byte past it.
TEST(CaptureTextPrefix, EveryRuleEndsWhereTextEndUnderEveryRuleSays) {
  for (int b = 0; b < 256; ++b) {
    for (const std::string before : {"ab", "a\xC3", "\xE2\x82"}) {
      const std::string chunk = before + static_cast<char>(b) + "z";
      const size_t end = TextEndUnderEveryRule(chunk);
      EXPECT_EQ(end < chunk.size(), b <= 8) << b;
      EXPECT_LE(static_cast<size_t>(std::max(Plain(chunk), Utf8(chunk))), end) << b;
    }
  }
}

}  // namespace
}  // namespace rw::capture
