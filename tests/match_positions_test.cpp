#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/regex_binding.h"
#include "engine/match_positions.h"
#include "platform/regex.h"
#include "platform/runtime.h"
#include "platform/text.h"
#include "tests/support/pcre2_oracle.h"

using engine::ChooseMarkerPair;
using engine::getRegParaPos;
using engine::getRegPos;
using platform::RegExSearchPatternException;

namespace {

const std::string CR = "\r";

class MatchPositionsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BindRegExComponent(); }
};

// The marker route read literally: replace-all, then a scan of three-character
// slices. Gives the list and the number of passes the scan makes, which the
// background-task hook must be told of. Quadratic; only for small texts, and
// only when both markers exist.
std::string SliceScan(const std::string& text, const std::string& pattern, uint64_t* passes) {
  const engine::MarkerPair markers = ChooseMarkerPair(text);
  platform::RegEx re;
  re.SearchPattern(pattern);
  re.ReplacementPattern(markers.opening + "\\0" + markers.closing);
  re.Options()->ReplaceAllMatches = true;
  const std::string marked = re.Replace(text);
  const int len = platform::Len(marked);
  std::string starts, ends;
  int p = 1, counter = 0;
  *passes = 0;
  while (p <= len - 2) {
    ++*passes;
    const std::string w = platform::Mid(marked, p, 3);
    if (w == markers.opening) {
      starts += std::to_string(counter + 1) + ",";
      p += 3;
    } else if (w == markers.closing) {
      ends += std::to_string(counter) + ",";
      p += 3;
    } else {
      ++counter;
      ++p;
    }
  }
  return starts + "<>" + ends;
}

// The expected list from PCRE2 itself (tests/support/pcre2_oracle.h).
std::string FromPcre2(const std::string& text, const std::string& pattern) {
  return oracle::Pcre2Oracle(pattern).Positions(text).value_or("(no list)");
}

TEST_F(MatchPositionsTest, RegPosListExamplesAndEdges) {
  struct Case {
    std::string text, pattern, expected;
  } cases[] = {
      {"abcdef", "cd|f", "3,6,<>4,6,"},
      {"abc", "a", "1,<>1,"},
      {"ab", ".", "1,2,<>1,2,"},
      {"abc", "x", "<>"},
      {"", "a", "<>"},
      {"abc", "c", "3,<>3,"},               // ends at the last character
      {"abc", "bc", "2,<>3,"},
      {"ab", "x*", "1,2,3,<>0,1,2,"},       // empty matches: end = start - 1
      {"", "x*", "1,<>0,"},
      {"aXa", "(?-i)a", "1,3,<>1,3,"},
      {"日本語のテキスト", "テキスト", "5,<>8,"},
      {"日本語のテキスト", ".", "1,2,3,4,5,6,7,8,<>1,2,3,4,5,6,7,8,"},
      {"a\rbb\r\rc", "^", "1,3,6,7,<>0,2,5,6,"},
      {"<@>x", "x", "4,<>4,"},              // the text's marker counts as text
      {"<@>x</>", "x", "4,<>4,"},
      {"<@>[@]x", "x|<", "1,7,<>1,7,"},
      {"x</>[/]", "[/x]", "1,3,6,<>1,3,6,"},
      {"<<@>@>", "@", "3,5,<>3,5,"},
      {"a[b]{c}<d>", "[^a-z]", "2,4,5,7,8,10,<>2,4,5,7,8,10,"},
  };
  for (const Case& c : cases) EXPECT_EQ(getRegPos(c.text, c.pattern), c.expected) << c.text;
}

TEST_F(MatchPositionsTest, MarkerChainsAreChosenIndependently) {
  struct Case {
    std::string text, opening, closing;
  } cases[] = {
      {"plain", "<@>", "</>"},
      {"<@>", "[@]", "</>"},
      {"</>", "<@>", "[/]"},
      {"<@>[@]", "{@}", "</>"},
      {"</>[/]", "<@>", "{/}"},
      {"<@>[@]{@}", "", "</>"},
      {"</>[/]{/}<@>", "[@]", ""},
      {"{@}{/}", "<@>", "</>"},
      {"<@", "<@>", "</>"},  // a cut-off marker is no marker
  };
  for (const Case& c : cases) {
    const engine::MarkerPair pair = ChooseMarkerPair(c.text);
    EXPECT_EQ(pair.opening, c.opening) << c.text;
    EXPECT_EQ(pair.closing, c.closing) << c.text;
  }
}

TEST_F(MatchPositionsTest, UsedUpMarkerChainStillGivesOneStartAndEndPerMatch) {
  const std::string all_opening = "<@>[@]{@}";
  const std::string all_closing = "</>[/]{/}";
  struct Case {
    std::string text, pattern, expected;
  } cases[] = {
      {all_opening + "ab", "b", "11,<>11,"},
      {all_closing + "ab", "b", "11,<>11,"},
      {all_opening + all_closing + "日", ".", ""},  // filled below
      {"x" + all_opening + all_closing, "@|/", "3,6,9,12,15,18,<>3,6,9,12,15,18,"},
      {all_opening + "a", "x*", "1,2,3,4,5,6,7,8,9,10,11,<>0,1,2,3,4,5,6,7,8,9,10,"},
      {all_opening, "zz", "<>"},
  };
  for (Case& c : cases) {
    if (c.expected.empty()) c.expected = FromPcre2(c.text, c.pattern);
    EXPECT_EQ(getRegPos(c.text, c.pattern), c.expected) << c.text;
  }
}

TEST_F(MatchPositionsTest, RandomTextsGivePcre2sListAndTheSliceScansPasses) {
  const std::vector<std::string> alphabet = {"a", "b", "<", ">", "@", "/", "[", "]",
                                             "{", "}", "日", "\r", "\n", " "};
  const std::vector<std::string> patterns = {"a", "b+", "x*", ".", "[<>]", "@.", "^", "$",
                                             "日|a", "[^a]{2}"};
  std::mt19937 rng(11);
  for (int round = 0; round < 600; ++round) {
    std::string text;
    const int length = static_cast<int>(rng() % 40);
    for (int i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
    const std::string& pattern = patterns[rng() % patterns.size()];
    const engine::MarkerPair pair = ChooseMarkerPair(text);
    const uint64_t before = platform::RuntimeBackgroundTaskCount();
    const std::string got = getRegPos(text, pattern);
    const uint64_t hook_calls = platform::RuntimeBackgroundTaskCount() - before;
    ASSERT_EQ(got, FromPcre2(text, pattern)) << "round " << round << " " << pattern;
    if (pair.opening.empty() || pair.closing.empty()) continue;
    uint64_t passes = 0;
    ASSERT_EQ(got, SliceScan(text, pattern, &passes)) << "round " << round << " " << pattern;
    ASSERT_EQ(hook_calls, passes) << "round " << round;
  }
}

TEST_F(MatchPositionsTest, ScanTellsTheHookOfEveryPass) {
  // "a<@>b</>c": a, the opening, b, the closing; the final c is never reached.
  struct Case {
    std::string text, pattern;
    uint64_t passes;
  } cases[] = {
      {"abc", "b", 4}, {"abc", "c", 5}, {"abc", "x", 1}, {"ab", "x", 0},
      {"", "x*", 2},   {"日本語", "本", 4},
      // A used-up chain leaves nothing to scan: one pass per match.
      {"<@>[@]{@}ab", "[ab]", 2}, {"</>[/]{/}", "x", 0},
  };
  for (const Case& c : cases) {
    const uint64_t before = platform::RuntimeBackgroundTaskCount();
    getRegPos(c.text, c.pattern);
    EXPECT_EQ(platform::RuntimeBackgroundTaskCount() - before, c.passes) << c.text;
  }
}

TEST_F(MatchPositionsTest, InvalidBytesCountAsOneCharacterEach) {
  // Texts are repaired where they enter; one that is not still gives sound
  // positions, on both routes, each invalid byte being one U+FFFD.
  EXPECT_EQ(getRegPos("a\xFF\xFE" "b", "b"), "4,<>4,");
  EXPECT_EQ(getRegPos("<@>[@]{@}\xE3\x81" "b", R"(b|\x{FFFD})"), "10,11,12,<>10,11,12,");
  EXPECT_EQ(getRegParaPos("\xFF" + CR + "b", R"(\x{FFFD})"), "1,");
}

TEST_F(MatchPositionsTest, RejectedPatternsRaiseFromRegPos) {
  EXPECT_THROW(getRegPos("abc", "("), RegExSearchPatternException);
  EXPECT_THROW(getRegPos("abc", "[b-a]"), platform::RegExException);
  EXPECT_THROW(getRegPos(std::string(50, 'a') + "!", "(a+)+$"), RegExSearchPatternException);
  EXPECT_THROW(getRegPos("<@>[@]{@}" + std::string(50, 'a') + "!", "(a+)+$"),
               RegExSearchPatternException);
}

TEST_F(MatchPositionsTest, ParagraphLists) {
  struct Case {
    std::string text, pattern, expected;
  } cases[] = {
      {"a" + CR + "b" + CR + "c" + CR + "d", "a|d", "1,4,"},
      {"a" + CR + "b", "x", ""},
      {"a" + CR + "b" + CR, "\r", "1,2,3,"},      // each search sees its own CR
      {"a" + CR + "b\nc", "\r", "1,2,"},          // LF does not split
      {"a" + CR + "b\nc", "^c", "2,"},
      {"aaa" + CR + "b" + CR + "aa", "a", "1,3,"},  // one entry per paragraph
      {"", "\r", "1,"},
      {"", "x", ""},
      {"", "^$", "1,"},
      {"a" + CR + "b", "a(?=\\rb)", ""},          // no search sees the next paragraph
      {"a" + CR + "b", "\\r\\z", "1,2,"},
      {"日本" + CR + "語", "語", "2,"},
      {"x" + CR + CR + "y", "^\\r", "2,"},
  };
  for (const Case& c : cases) EXPECT_EQ(getRegParaPos(c.text, c.pattern), c.expected) << c.pattern;
}

TEST_F(MatchPositionsTest, ParagraphListIsEmptyOnAnyRegExFailure) {
  EXPECT_EQ(getRegParaPos("a" + CR + "b", "("), "");
  // The first paragraph matches; the second makes the search give up.
  const std::string text = "a" + CR + std::string(50, 'a') + "!";
  EXPECT_EQ(getRegParaPos(text, "^(a+)+$"), "");
  EXPECT_EQ(getRegParaPos("a" + CR + "b", "^(a+)+$"), "1,");
}

TEST_F(MatchPositionsTest, ParagraphHookOncePerParagraph) {
  for (const auto& [text, paragraphs] : std::vector<std::pair<std::string, uint64_t>>{
           {"", 1}, {"a", 1}, {"a" + CR + "b" + CR + "c", 3}, {CR + CR, 3}}) {
    const uint64_t before = platform::RuntimeBackgroundTaskCount();
    getRegParaPos(text, "b");
    EXPECT_EQ(platform::RuntimeBackgroundTaskCount() - before, paragraphs);
  }
}

}  // namespace
