// RegEx::Matches, the yes-or-no search that paragraphs use: it must say what
// Search says, on a whole checked text and on pieces of it, and leave the
// walk of Search() where it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/regex_binding.h"
#include "platform/regex.h"

namespace {

using platform::CheckedText;
using platform::RegEx;

class RegExMatchesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BindRegExComponent(); }
};

TEST_F(RegExMatchesTest, SaysWhatSearchSaysOnEveryPiece) {
  const std::string texts[] = {"ab\rx日本\r\n", "a\xFF" "b\xE3\x81", "", "日本語"};
  const std::string patterns[] = {"b", "^x", "\\r\\z", "本$", "\\x{FFFD}", "(?=x)", "(*NOTEMPTY)x*",
                                  "^$", "語"};
  for (const std::string& text : texts) {
    const CheckedText checked(text);
    const std::string_view all = checked.view();
    for (const std::string& pattern : patterns) {
      RegEx re;
      re.SearchPattern(pattern);
      // Every piece, at characters or not: a piece cut inside a character
      // is searched in its repaired form, as Search searches it.
      for (size_t from = 0; from <= all.size(); ++from) {
        for (size_t to = from; to <= all.size(); ++to) {
          RegEx fresh;
          fresh.SearchPattern(pattern);
          const bool expected = fresh.Search(all.substr(from, to - from)) != nullptr;
          EXPECT_EQ(re.Matches(checked, from, to), expected)
              << pattern << " in bytes " << from << " to " << to;
        }
      }
    }
  }
}

TEST_F(RegExMatchesTest, LeavesTheWalkOfSearchAsItWas) {
  RegEx re;
  re.SearchPattern("[0-9]+");
  auto first = re.Search("a1 b22 c333");
  ASSERT_NE(first, nullptr);
  const CheckedText other("no digits here, but 7");
  EXPECT_TRUE(re.Matches(other));
  EXPECT_FALSE(re.Matches(other, 0, 10));
  auto second = re.Search();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->SubExpressionString(0), "22");
  EXPECT_EQ(first->SubExpressionString(0), "1");
}

TEST_F(RegExMatchesTest, PieceWithATail) {
  const CheckedText text("日本\rab");
  const CheckedText last(text, 7, text.view().size(), "\r");
  EXPECT_EQ(last.view(), "ab\r");
  const CheckedText cut(text, 1, 3, "\r");  // inside the first character
  EXPECT_EQ(cut.view(), "\xEF\xBF\xBD\xEF\xBF\xBD\r");
}

TEST_F(RegExMatchesTest, RaisesAsSearchDoes) {
  RegEx re;
  re.SearchPattern("(a+)+$");
  const std::string runaway = std::string(50, 'a') + "!";
  const CheckedText text(runaway);
  EXPECT_THROW(re.Matches(text), platform::RegExSearchPatternException);
  EXPECT_TRUE(re.Matches(text, 0, 5));  // a piece ends where it is cut: $ holds there
}

}  // namespace
