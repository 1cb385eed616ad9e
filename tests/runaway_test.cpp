// Patterns whose search would run for minutes end with the limit outcome in
// both matchers (getRegPos raises, getRegParaPos gives no paragraphs),
// however the work is spread: over many start positions of one long piece,
// over the interpreter's path, over the anchored retries after empty
// matches, over many short paragraphs of one piece. Ordinary searches of
// long texts, and a few starts that need many steps, are not cut short:
// they give PCRE2's own lists (tests/support/pcre2_oracle.h).
#include <gtest/gtest.h>

#include <string>

#include "app/regex_binding.h"
#include "engine/match_positions.h"
#include "platform/regex.h"
#include "tests/support/pcre2_oracle.h"

namespace {

using engine::getRegParaPos;
using engine::getRegPos;

class RunawayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BindRegExComponent(); }
};

// 100,000 "a" and then "!b": at each of the starts the patterns below try
// about a million ways before they fail, or scan the rest of the run.
const std::string& LongRun() {
  static const std::string text = std::string(100'000, 'a') + "!b";
  return text;
}

TEST_F(RunawayTest, ManyStartsOfOnePieceEndWithTheLimit) {
  const struct {
    const char* pattern;
    const char* paragraphs;
  } cases[] = {
      {"(?:a|a){20}b", ""},           // JIT code, each start under PCRE2's own limit
      {"(*NO_JIT)(?:a|a){20}b", ""},  // the interpreter
      // An empty match after the first start's million ways (so the one
      // paragraph matches), then the same again in the anchored retry and at
      // every later start.
      {"(?:(?:a|a){20}b)?", "1,"},
      {"(*NOTEMPTY)(?:a|a){20}b|\\G", ""},  // one search, not cut into windows
      {"(?:a)*b", ""},                      // steps that grow with the rest of the run
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_THROW(getRegPos(LongRun(), c.pattern), platform::RegExSearchPatternException);
    EXPECT_EQ(getRegParaPos(LongRun(), c.pattern), c.paragraphs);
  }
}

// Work that PCRE2 does not count (a lookahead that scans the rest of the
// run at every start) is ended by time: the search gives PCRE2's answer
// when it finishes in time, else the limit outcome, and never hangs.
TEST_F(RunawayTest, WorkPcre2DoesNotCountEnds) {
  for (const char* pattern : {"(?=a*b)", "(*NO_JIT)a*b"}) {
    SCOPED_TRACE(pattern);
    try {
      const std::string got = getRegPos(LongRun(), pattern);
      EXPECT_EQ(got, oracle::Pcre2Oracle(pattern, true).Positions(LongRun()).value_or("-"));
    } catch (const platform::RegExSearchPatternException&) {
    }
  }
}

// 100,000 short paragraphs of one piece: the budget is the piece's, not each
// paragraph's, or the search would take as long as on one long run.
TEST_F(RunawayTest, ManyParagraphsOfOnePieceShareOneBudget) {
  std::string text;
  for (int i = 0; i < 100'000; ++i) text += std::string(24, 'a') + "!b\r";
  EXPECT_EQ(getRegParaPos(text, "(?:a|a){20}b"), "");
  EXPECT_EQ(getRegParaPos(text, "(*NO_JIT)(?:a|a){16}b"), "");
}

// A few starts that need hundreds of thousands of steps each (2^17 ways
// for 16 "a" before a wrong letter), every start of 200 KB needing some forty
// steps of the interpreter, and empty matches at every place of 4
// MB (the most that an ordinary pattern pays per byte, more than the part
// of the budget that does not grow with the text), finish whole.
TEST_F(RunawayTest, LegitimateSearchesAreNotCutShort) {
  std::string heavy;
  for (int i = 0; i < 20; ++i) heavy += "xx" + std::string(17, 'a') + "b\r" + std::string(3000, 'y');
  const std::string uniform = std::string(200'000, 'a') + "!b";
  std::string words;
  while (words.size() < 4'000'000) words += "word 日本語 12\r";
  std::string ascii;
  while (ascii.size() < 4'000'000) ascii += "word 12\r";
  const struct {
    const std::string& text;
    const char* pattern;
  } cases[] = {
      {heavy, "(?:a|a){16}b"},
      {heavy, "(*NO_JIT)(?:a|a){16}b"},
      {uniform, "(*NO_JIT)(?:a|a){4}b"},
      {words, "x*"},
      {words, "."},
      {words, "(*NO_JIT)\\b"},
      {ascii, "(*NO_JIT)x*"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    const oracle::Pcre2Oracle expected(c.pattern, true);
    std::string positions = "(the limit)";
    try {
      positions = getRegPos(c.text, c.pattern);
    } catch (const platform::RegExSearchPatternException&) {
    }
    EXPECT_EQ(positions, expected.Positions(c.text).value_or("-"));
    EXPECT_EQ(getRegParaPos(c.text, c.pattern), expected.Paragraphs(c.text).value_or("-"));
  }
}

}  // namespace
