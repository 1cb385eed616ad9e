#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
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

// What follows the longest start of `find` that ends `text` (ASCII letters
// in either case) to make the whole of `find`.
std::string RestAfterOverlap(const std::string& text, const std::string& find) {
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  for (size_t k = std::min(text.size(), find.empty() ? 0 : find.size() - 1); k > 0; --k)
    if (std::equal(text.end() - static_cast<std::ptrdiff_t>(k), text.end(), find.begin(), same))
      return find.substr(k);
  return find;
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
      // The text ends inside a would-be match: the needle's start lies in
      // the last bytes, its multi-byte tail beyond them.
      {0, "xxAb", "abé", 0},
      {0, "日本xé", "ÉX", 0},
      {0, "xxé", "éa", 0},
      {0, "本Ab", "abc", 0},
      {0, "xxAbé", "abé", 3},
      {0, "xxAb\xC3", "abé", 0},  // the text ends inside a character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.find);
    // The text alone in a block of its own size, so that a read past its
    // end is one the sanitizer sees; and the text followed by what would
    // complete a match there, so that such a read finds one that is not.
    std::unique_ptr<char[]> exact(new char[c.text.size()]);
    std::memcpy(exact.get(), c.text.data(), c.text.size());
    const std::string followed = c.text + RestAfterOverlap(c.text, c.find);
    for (std::string_view text : {std::string_view(exact.get(), c.text.size()),
                                  std::string_view(followed.data(), c.text.size())})
      EXPECT_EQ(InStr(c.start, text, c.find), c.expected);
  }
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
      {" 0x10", 0},     {"\t 0x10", 0},  // the number stops at the x
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
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string bytes, repaired;
  } cases[] = {
      {"abc", "abc"},
      {"a\xFF" "b", "a" + fffd + "b"},
      {"\xE3\x81" "A", fffd + fffd + "A"},
      {"\xED\xA0\x80", fffd + fffd + fffd},
      {"日\x80本", "日" + fffd + "本"},
      // What follows a bad byte is kept whole, whatever its length.
      {"\xFF\xF0\x9F\x98\x80", fffd + "\xF0\x9F\x98\x80"},
      {"\x80\xC3\xA9\xE6\x97\xA5", fffd + "é日"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToValidUtf8(c.bytes), c.repaired) << c.bytes;
  EXPECT_TRUE(IsValidUtf8(ToValidUtf8("\xC0\x80\xF4\x90\x80\x80 x")));
}

}  // namespace
