// getRegPos and getRegParaPos against PCRE2 asked directly (see
// tests/support/pcre2_oracle.h), on hand-picked and on random texts and
// patterns: Japanese, CR/LF mixes, empty matches, lookarounds, \K, the
// marker strings inside the text, and patterns that forbid empty matches.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/regex_binding.h"
#include "engine/match_positions.h"
#include "platform/regex.h"
#include "tests/support/pcre2_oracle.h"

namespace {

class MatchOracleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BindRegExComponent(); }
};

// Both matchers on one text and pattern, against the oracle. A pattern the
// oracle rejects, or a search that fails there, must raise from getRegPos
// and give getRegParaPos the empty list.
void ExpectAgree(const std::string& text, const std::string& pattern) {
  const oracle::Pcre2Oracle expected(pattern);
  const auto positions = expected.Positions(text);
  const std::string where = "pattern \"" + pattern + "\", text \"" + text + "\"";
  if (positions) {
    std::string got;
    EXPECT_NO_THROW(got = engine::getRegPos(text, pattern)) << where;
    EXPECT_EQ(got, *positions) << where;
  } else {
    EXPECT_THROW(engine::getRegPos(text, pattern), platform::RegExException) << where;
  }
  EXPECT_EQ(engine::getRegParaPos(text, pattern), expected.Paragraphs(text).value_or(""))
      << where;
}

TEST_F(MatchOracleTest, HandPickedTextsAndPatterns) {
  const std::string texts[] = {
      "",
      "x",
      "axbxx",
      "ab\r\ncd\rx\n\r\nx",
      "\r\r\n\n\r",
      "東京の天気は晴れ。\r大阪は雨\r\n明日xは",
      "aaa bab\rabba",
      "<@>[@]{@}x</>",
      "</>[/]{/}ax",
      "<@>[@]{@}</>[/]{/}a\rx",
      "{@}a{/}",
      "Ab aB AB ab",
  };
  const std::string patterns[] = {
      "a??",        "(?=x)|x",       "\\b",          "x*",          "a*",
      "(?<=a)b",    "(?<=\\r)\\n?",  "a\\Kb",        "\\Kx|x",      "(?=a\\K)",
      "^",          "$",             "^$",           ".",           "\\r\\n|\\n",
      "\\R",        "$\\r",          "(?-i)A",       "[<>@/]",      "<@>|</>",
      "(*NOTEMPTY)a*",  "(*NOTEMPTY_ATSTART)a*", "(*NOTEMPTY)(?=x)|x",
      "(*NOTEMPTY_ATSTART)x?",  "(*NO_JIT)(*NOTEMPTY)x*",   "(*UTF)(*NOTEMPTY)\\b|x",
      "東京|雨",     "[^\\r]+",       "(*CR)$",       "(*LF)^",      "(",
  };
  for (const std::string& text : texts)
    for (const std::string& pattern : patterns) ExpectAgree(text, pattern);
}

// Texts built of pieces that provoke the cases above, and patterns built of
// atoms, quantifiers and alternations, some behind a start item.
TEST_F(MatchOracleTest, RandomTextsAndPatterns) {
  const std::vector<std::string> pieces = {"a", "b", "x", "A", " ", "\r", "\n", "\r\n",
                                           "日", "本", "。", "<@>", "</>", "[@]", "[/]",
                                           "{@}", "{/}", "<", "@", "/"};
  // Atoms that can be repeated, then assertions and \K, which are not.
  const std::vector<std::string> atoms = {"a", "x", "日", ".", "\\r", "\\n", "\\R", "[<>@/]",
                                          "[^a]", "(?:ab)", "\\s", "(?=x)", "\\b", "\\B", "^",
                                          "$", "(?<=a)", "(?<!\\r)", "\\K"};
  const size_t repeatable = 11;
  const std::vector<std::string> quantifiers = {"", "", "*", "?", "??", "+", "{0,2}", "*?"};
  const std::vector<std::string> starts = {"", "", "", "(*NOTEMPTY)", "(*NOTEMPTY_ATSTART)",
                                           "(?-i)"};
  std::mt19937 rng(20261210);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    for (int n = static_cast<int>(rng() % 24); n > 0; --n) text += pieces[rng() % pieces.size()];
    std::string pattern = starts[rng() % starts.size()];
    for (int alternative = static_cast<int>(rng() % 2); alternative >= 0; --alternative) {
      for (int n = 1 + static_cast<int>(rng() % 3); n > 0; --n) {
        const size_t atom = rng() % atoms.size();
        pattern += atoms[atom];
        if (atom < repeatable) pattern += quantifiers[rng() % quantifiers.size()];
      }
      if (alternative) pattern += "|";
    }
    SCOPED_TRACE("round " + std::to_string(round));
    ExpectAgree(text, pattern);
    if (HasFailure()) break;
  }
}

// Start items at the head of a pattern, alone, in pairs in both orders and
// in threes, before bodies that can match empty (where (*NOTEMPTY) and
// (*NOTEMPTY_ATSTART) change the list) or touch line ends (where (*CR) and
// (*LF) do): each must give what PCRE2 gives for the same pattern, and an
// item PCRE2 does not know rejects the pattern.
TEST_F(MatchOracleTest, StartItemsInAnyOrderAndCombination) {
  const std::vector<std::string> items = {
      "(*NOTEMPTY)", "(*NOTEMPTY_ATSTART)", "(*UTF)",          "(*UTF8)",
      "(*UCP)",      "(*LIMIT_MATCH=1000)", "(*LIMIT_DEPTH=500)", "(*CR)",
      "(*LF)",       "(*NO_JIT)",           "(*NO_START_OPT)", "(*NO_AUTO_POSSESS)",
      "(*FOO)",      "(*notempty)"};
  const std::string bodies[] = {"b*", "\\b|x", "$", "a?"};
  const std::string texts[] = {"abba", "a\rb\r\nb\n", "", "x\r\rbb"};
  std::vector<std::string> heads;
  for (const std::string& a : items)
    for (const std::string& b : items) heads.push_back(a + b);
  for (const std::string& a : items) heads.push_back(a + "(*UTF)(*NOTEMPTY)");
  for (const std::string& a : items) heads.push_back("(*UCP)" + a + "(*NOTEMPTY_ATSTART)");
  for (const std::string& head : heads)
    for (const std::string& body : bodies)
      for (const std::string& text : texts) ExpectAgree(text, head + body);
  // A limit of the pattern's own that a start exceeds, on either path.
  for (const char* head : {"(*LIMIT_MATCH=50)", "(*NO_JIT)(*LIMIT_MATCH=50)",
                           "(*NOTEMPTY)(*LIMIT_MATCH=50)(*UTF)"})
    ExpectAgree(std::string(30, 'a') + "!b", head + std::string("(?:a|a){12}b"));
}

// Long stretches without a match, which a search crosses in many windows of
// start positions: it must find what one search from its start finds,
// whatever falls at the edge of a window (the LF of a CRLF, which PCRE2
// never starts at after the CR; the middle of a character), and patterns
// whose outcome depends on where a call began (\G) or that end or move the
// whole search ((*COMMIT), (*SKIP)) must not be cut at all.
TEST_F(MatchOracleTest, LongStretchesWithoutAMatch) {
  auto times = [](const std::string& piece, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += piece;
    return text;
  };
  const std::string crlf = times("\r\na", 7000);
  const std::string japanese = times("日本語", 3000) + "x";
  const std::string xs = "a" + std::string(20000, 'x');
  const std::string aac = times("aac", 7000);
  const std::string commit = "ay" + std::string(10000, 'a') + "x";
  const struct {
    const std::string& text;
    const char* pattern;
  } cases[] = {
      {crlf, "\\s(?!\\v)"}, {crlf, "\\s"},         {crlf, "$"},
      {japanese, "x"},      {japanese, "(?<=語)x"}, {japanese, "本(?=語x)"},
      {xs, "\\Gx"},         {xs, "\\Gx|a"},        {aac, "aa(*SKIP)b|ac"},
      {commit, "y(*COMMIT)z|x"},
  };
  for (const auto& c : cases) ExpectAgree(c.text, c.pattern);
}

// Long texts, where matches lie far apart (so that positions take many
// digits and the steps between them are large) or touch each other.
TEST_F(MatchOracleTest, LongTexts) {
  std::mt19937 rng(5);
  // Mostly words and Japanese, some line ends and numbers, rarely a marker.
  const std::vector<std::pair<std::string, int>> pieces = {
      {"word ", 60}, {"日本語", 25}, {"\r", 8}, {"12 ", 6}, {"<@>", 1}};
  std::string text;
  while (text.size() < 300'000) {
    int k = static_cast<int>(rng() % 100);
    for (const auto& [piece, weight] : pieces) {
      if (k < weight) {
        text += piece;
        break;
      }
      k -= weight;
    }
  }
  for (const std::string pattern : {"<@>", "[0-9]+", "^", ".", "語\\r|s", "x*"})
    ExpectAgree(text, pattern);
}

}  // namespace
