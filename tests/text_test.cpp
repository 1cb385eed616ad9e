#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/text.h"

using namespace platform;

namespace {

const std::string kJa = "日本語のテキスト";  // 8 characters, 24 bytes

TEST(TextTest, LenCountsCharacters) {
  EXPECT_EQ(Len(""), 0);
  EXPECT_EQ(Len("abc"), 3);
  EXPECT_EQ(Len(kJa), 8);
  EXPECT_EQ(Len("a\xF0\x9F\x98\x80" "b"), 3);  // a character outside the BMP
  // Long enough for the block-wise count, with a tail that is not a block.
  std::string long_text;
  for (int i = 0; i < 1000; ++i) long_text += "aé日";
  long_text += "xy";
  EXPECT_EQ(Len(long_text), 3002);
}

TEST(TextTest, LeftRightMidCountCharacters) {
  EXPECT_EQ(Left("abc", -1), "");
  EXPECT_EQ(Left("abc", 0), "");
  EXPECT_EQ(Left("abc", 2), "ab");
  EXPECT_EQ(Left("abc", 10), "abc");
  EXPECT_EQ(Left(kJa, 3), "日本語");
  EXPECT_EQ(Right("abc", -2), "");
  EXPECT_EQ(Right(kJa, 4), "テキスト");
  EXPECT_EQ(Right("abc", 10), "abc");
  EXPECT_EQ(Mid("abcdef", 3), "cdef");
  EXPECT_EQ(Mid("abcdef", 0), "abcdef");
  EXPECT_EQ(Mid("abcdef", -5, 2), "ab");
  EXPECT_EQ(Mid("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Mid("abcdef", 2, 0), "");
  EXPECT_EQ(Mid("abcdef", 9, 2), "");
  EXPECT_EQ(Mid(kJa, 4, 2), "のテ");
  EXPECT_EQ(Mid(kJa, 8, 5), "ト");
  // Skipping over many characters (the word-wise step) lands exactly.
  std::string text;
  for (int i = 0; i < 100; ++i) text += "aあ";
  EXPECT_EQ(Mid(text, 101, 3), "aあa");
  EXPECT_EQ(Left(text, 199), text.substr(0, text.size() - 3));
}

TEST(TextTest, InStrFindsFromStartIgnoringAsciiCase) {
  struct Case {
    int start;
    std::string text, find;
    int expected;
  } cases[] = {
      {0, "abcabc", "c", 3},
      {1, "abcabc", "c", 3},
      {4, "abcabc", "c", 6},
      {7, "abcabc", "c", 0},
      {0, "abc", "x", 0},
      {0, "Hello World", "WORLD", 7},
      {0, "Old.TXT", ".txt", 4},
      {0, "<T@KE>x", "<t@ke>", 1},
      {0, "aaaaab", "AAB", 4},  // an all-letter needle after false starts
      {0, "ÉCOLE école", "école", 7},  // é is not an ASCII letter: exact
      {0, kJa, "テキスト", 5},
      {3, kJa, "本", 0},
      {0, "abc", "", 1},
      {3, "abc", "", 3},
      {4, "abc", "", 4},
      {5, "abc", "", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(InStr(c.start, c.text, c.find), c.expected) << c.text << " / " << c.find;
  // A long needle with letters goes through the folded copy.
  std::string needle(40, 'q');
  needle += "Z";
  std::string hay = "日本" + std::string(60, 'Q') + "z";
  EXPECT_EQ(InStr(hay, needle), 3 + 20);
  EXPECT_EQ(InStr(0, "abc", "abcd"), 0);
}

TEST(TextTest, NthFieldAndSplit) {
  EXPECT_EQ(NthField("a\tb\tc", "\t", 2), "b");
  EXPECT_EQ(NthField("a\tb\tc", "\t", 3), "c");
  EXPECT_EQ(NthField("a\tb\tc", "\t", 4), "");
  EXPECT_EQ(NthField("a\tb\tc", "\t", 0), "");
  EXPECT_EQ(NthField("1,2,<>3,4,", "<>", 2), "3,4,");
  EXPECT_EQ(NthField("pXqxr", "x", 3), "r");
  EXPECT_EQ(NthField("あ、い、う", "、", 3), "う");
  EXPECT_EQ(NthField("abc", "", 1), "abc");
  EXPECT_EQ(NthField("head:rest:more", ":", 1), "head");

  using V = std::vector<std::string>;
  EXPECT_EQ(Split("", "\r"), V{""});
  EXPECT_EQ(Split("a\r\rb\r", "\r"), (V{"a", "", "b", ""}));
  EXPECT_EQ(Split("x<T@KE>y<t@ke>", "<t@ke>"), (V{"x", "y", ""}));
  EXPECT_EQ(Split("abc", "abc"), (V{"", ""}));
  EXPECT_EQ(Split("abc", ""), V{"abc"});
}

TEST(TextTest, ChrAndStr) {
  EXPECT_EQ(Chr(9), "\t");
  EXPECT_EQ(Chr(13), "\r");
  EXPECT_EQ(Chr(0x3042), "あ");
  EXPECT_EQ(Chr(0x1F600), "\xF0\x9F\x98\x80");
  for (int bad : {-1, 0xD800, 0xDFFF, 0x110000}) EXPECT_EQ(Chr(bad), "\xEF\xBF\xBD") << bad;
  EXPECT_EQ(Str(0), "0");
  EXPECT_EQ(Str(-42), "-42");
  EXPECT_EQ(Str(INT64_MAX), "9223372036854775807");
}

TEST(TextTest, ValReadsTheLeadingNumber) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::string text;
    double expected;
  } cases[] = {
      {"12", 12},       {"  -3.5e2x", -350}, {"+.5", 0.5},  {"5.", 5},     {"1e", 1},
      {"1e+", 1},       {"007", 7},          {"abc", 0},    {"", 0},       {".", 0},
      {"-", 0},         {"0x10", 0},         {"\t8", 8},    {"1,5", 1},    {"1e999", inf},
      {"-1e999", -inf}, {"1e-999", 0},       {"0e999", 0},  {"640\n", 640}, {"１２", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Val(c.text), c.expected) << "'" << c.text << "'";
}

TEST(TextTest, ToInt32TruncatesAndSaturates) {
  struct Case {
    double value;
    int32_t expected;
  } cases[] = {
      {3.9, 3},
      {-3.9, -3},
      {2147483647.5, INT32_MAX},
      {1e20, INT32_MAX},
      {-2147483648.9, INT32_MIN},
      {-1e20, INT32_MIN},
      {std::numeric_limits<double>::infinity(), INT32_MAX},
      {-std::numeric_limits<double>::infinity(), INT32_MIN},
      {std::nan(""), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ToInt32(c.value), c.expected) << c.value;
}

TEST(TextTest, TextEqualsIgnoresOnlyAsciiCase) {
  EXPECT_TRUE(TextEquals("Old.TXT", "old.txt"));
  EXPECT_TRUE(TextEquals("P", "p"));
  EXPECT_FALSE(TextEquals("É", "é"));
  EXPECT_FALSE(TextEquals("ab", "abc"));
  EXPECT_FALSE(TextEquals("[", "{"));  // 0x5B and 0x7B differ only in bit 5
  EXPECT_TRUE(TextEquals("", ""));
}

// A plain reading of well-formed UTF-8, to hold the fast validator to.
bool ReferenceValid(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned c = b(i);
    size_t len;
    uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC0 && c < 0xE0) len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c < 0xF0) len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c < 0xF8) len = 4, cp = c & 0x07;
    else return false;
    if (i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((b(i + k) & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

TEST(TextTest, ValidatorAgreesWithPlainReadingAtEveryOffset) {
  const std::vector<std::string> faults = {
      "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80",
      "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xE3\x81",
      "\xE3", "\xC3", "\xF0\x9F\x98", "\xC3\xA9\xA9"};
  const std::vector<std::string> fillers = {std::string(1, 'a'), "é", "日", "\xF0\x9F\x98\x80"};
  for (const std::string& filler : fillers) {
    for (size_t count : {0, 5, 21, 63, 64, 70, 130}) {
      std::string prefix;
      for (size_t i = 0; i < count; ++i) prefix += filler;
      for (const std::string& fault : faults) {
        for (const std::string& suffix : {std::string(), std::string("tail"), prefix}) {
          std::string text = prefix + fault + suffix;
          ASSERT_FALSE(IsValidUtf8(text)) << count << " " << text.size();
        }
      }
      ASSERT_TRUE(IsValidUtf8(prefix + prefix));
    }
  }
  // Random mutations of valid text, judged by both readings.
  std::mt19937 rng(7);
  const std::string base = [] {
    std::string s;
    for (int i = 0; i < 40; ++i) s += "ab日本é\xF0\x9F\x98\x80 ";
    return s;
  }();
  for (int round = 0; round < 3000; ++round) {
    std::string text = base.substr(0, rng() % base.size());
    int edits = rng() % 3;
    for (int e = 0; e < edits && !text.empty(); ++e) text[rng() % text.size()] = static_cast<char>(rng());
    ASSERT_EQ(IsValidUtf8(text), ReferenceValid(text)) << "round " << round;
  }
}

TEST(TextTest, RepairReplacesEachInvalidByte) {
  EXPECT_EQ(ToValidUtf8("abc"), "abc");
  EXPECT_EQ(ToValidUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToValidUtf8("\xE3\x81" "A"), "\xEF\xBF\xBD\xEF\xBF\xBD" "A");
  EXPECT_EQ(ToValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(ToValidUtf8("日\x80本"), "日\xEF\xBF\xBD本");
  EXPECT_TRUE(IsValidUtf8(ToValidUtf8("\xC0\x80\xF4\x90\x80\x80 x")));
}

}  // namespace
