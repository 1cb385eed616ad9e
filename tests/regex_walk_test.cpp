// RegEx::NextMatches, the walk over a text's matches that getRegPos takes:
// the same matches, in the same order, as PCRE2 asked directly with the
// standard handling of empty matches, whatever number is taken per call.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/regex_binding.h"
#include "platform/regex.h"
#include "platform/text.h"
#include "tests/support/pcre2_oracle.h"

namespace {

using platform::CheckedText;
using platform::MatchSpan;
using platform::MatchWalk;
using platform::RegEx;

class RegExWalkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BindRegExComponent(); }
};

std::vector<std::pair<size_t, size_t>> Walk(RegEx& re, const CheckedText& text, size_t room) {
  std::vector<std::pair<size_t, size_t>> got;
  std::vector<MatchSpan> spans(room);
  MatchWalk walk;
  for (size_t found = room; found == room;) {
    found = re.NextMatches(text, walk, spans.data(), room);
    for (size_t i = 0; i < found; ++i) got.emplace_back(spans[i].start, spans[i].end);
  }
  EXPECT_TRUE(walk.done());
  EXPECT_EQ(re.NextMatches(text, walk, spans.data(), room), 0u);
  return got;
}

TEST_F(RegExWalkTest, SameMatchesAsPcre2InBatchesOfAnySize) {
  const std::string texts[] = {"",  "ab\r\ncd\rx\n\r\nx", "東京の天気\r晴れ x",
                               "aaa bab\rabba", "a\xFF" "b\xE3\x81"};
  const std::string patterns[] = {"x*",  "a*",     "^",      "$",          ".",
                                  "\\b", "(?=x)|x", "a\\Kb", "(*NOTEMPTY)a*", "(*NOTEMPTY_ATSTART)x?",
                                  "\\R", "天気|x",  "(?-i)A", "zz"};
  for (const std::string& text : texts) {
    const CheckedText checked(text);
    const std::string repaired(checked.view());
    for (const std::string& pattern : patterns) {
      const auto expected = oracle::Pcre2Oracle(pattern).Matches(repaired);
      ASSERT_TRUE(expected.has_value()) << pattern;
      for (size_t room : {1u, 2u, 3u, 256u}) {
        RegEx re;
        re.SearchPattern(pattern);
        EXPECT_EQ(Walk(re, checked, room), *expected)
            << "pattern " << pattern << ", text " << text << ", room " << room;
      }
    }
  }
}

TEST_F(RegExWalkTest, LeavesTheWalkOfSearchAsItWas) {
  RegEx re;
  re.SearchPattern("[0-9]+");
  auto first = re.Search("a1 b22 c333");
  ASSERT_NE(first, nullptr);
  const CheckedText other("7 and 8");
  MatchSpan spans[4];
  MatchWalk walk;
  EXPECT_EQ(re.NextMatches(other, walk, spans, 4), 2u);
  auto second = re.Search();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->SubExpressionString(0), "22");
}

TEST_F(RegExWalkTest, ASearchThatHitsALimitRaisesAndEndsTheWalk) {
  RegEx re;
  re.SearchPattern("(a+)+$");
  // One quick match, then a runaway search.
  const std::string text = "a\r" + std::string(50, 'a') + "!";
  const CheckedText checked(text);
  MatchSpan spans[4];
  MatchWalk walk;
  EXPECT_EQ(re.NextMatches(checked, walk, spans, 1), 1u);
  EXPECT_THROW(re.NextMatches(checked, walk, spans, 4), platform::RegExSearchPatternException);
  EXPECT_TRUE(walk.done());
  EXPECT_EQ(re.NextMatches(checked, walk, spans, 4), 0u);
}

}  // namespace
