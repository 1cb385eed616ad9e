#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/regex_binding.h"
#include "platform/regex.h"

using namespace platform;

namespace {

class RegExTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BindRegExComponent(); }

  // Every match of a Search / Search() walk, as "start:text".
  static std::vector<std::string> Walk(RegEx& re, const std::string& target) {
    std::vector<std::string> found;
    for (auto m = re.Search(target); m; m = re.Search())
      found.push_back(std::to_string(m->SubExpressionStartB(0)) + ":" + m->SubExpressionString(0));
    return found;
  }

  static std::string ReplaceAll(const std::string& pattern, const std::string& replacement,
                                const std::string& target) {
    RegEx re;
    re.SearchPattern(pattern);
    re.ReplacementPattern(replacement);
    re.Options()->ReplaceAllMatches = true;
    return re.Replace(target);
  }
};

TEST_F(RegExTest, DefaultsAndInlineOptions) {
  struct Case {
    std::string pattern, target;
    bool matches;
  } cases[] = {
      {"abc", "xABCx", true},          // case is ignored
      {"(?-i)abc", "xABCx", false},    // unless the pattern says otherwise
      {"^b", "a\rb", true},            // ^ after CR
      {"^b", "a\nb", true},            // after LF
      {"^b", "a\r\nb", true},          // after CRLF
      {"a$", "a\rb", true},            // $ before CR
      {"a.b", "a\rb", false},          // . does not take a line end
      {"a.b", "a\nb", false},
      {"(?s)a.b", "a\rb", true},
      {"日本", "これは日本語", true},
      {"^.{3}$", "日本語", true},      // . takes a whole character
      {"Ä", "ä", true},                // case folding beyond ASCII
      {"(*NO_JIT)b", "abc", true},     // a pattern that refuses JIT still works
  };
  for (const Case& c : cases) {
    RegEx re;
    re.SearchPattern(c.pattern);
    EXPECT_EQ(re.Search(c.target) != nullptr, c.matches) << c.pattern;
  }
}

TEST_F(RegExTest, OptionsChangeMatching) {
  RegEx re;
  re.SearchPattern("a.+b");
  EXPECT_EQ(Walk(re, "aXbXb"), std::vector<std::string>{"0:aXbXb"});  // greedy
  re.Options()->Greedy = false;
  EXPECT_EQ(Walk(re, "aXbXb"), std::vector<std::string>{"0:aXb"});
  re.Options()->Greedy = true;
  re.Options()->CaseSensitive = true;  // after the pattern was set
  EXPECT_EQ(re.Search("AXB"), nullptr);
  re.Options()->DotMatchAll = true;
  EXPECT_NE(re.Search("a\rb"), nullptr);

  RegEx anchors;
  anchors.SearchPattern("^b");
  anchors.Options()->TreatTargetAsOneLine = true;
  EXPECT_EQ(anchors.Search("a\rb"), nullptr);

  RegEx lines;
  lines.SearchPattern("^b");
  lines.Options()->LineEndType(2);  // LF only: CR is no line end
  EXPECT_EQ(lines.Search("a\rb"), nullptr);
  EXPECT_NE(lines.Search("a\nb"), nullptr);
  lines.Options()->LineEndType(7);  // ignored
  EXPECT_EQ(lines.Options()->LineEndType(), 2);
  EXPECT_EQ(lines.Search("a\rb"), nullptr);

  RegEx empty;
  empty.SearchPattern("x*");
  empty.Options()->MatchEmpty = false;
  EXPECT_EQ(Walk(empty, "axxb"), std::vector<std::string>{"1:xx"});
}

TEST_F(RegExTest, ReplaceAllHandlesEmptyMatchesTheStandardWay) {
  struct Case {
    std::string pattern, replacement, target, expected;
  } cases[] = {
      {"x*", "-", "abc", "-a-b-c-"},
      {"a*", "X", "baaac", "XbXXcX"},
      {"", "|", "日本", "|日|本|"},
      {"^", ">", "a\r\nb\rc", ">a\r\n>b\r>c"},
      {"$", "<", "a\r\nb", "a<\r\nb<"},  // never between CR and LF
      {"(a)(b)?", "[\\2\\1\\0]", "ab a", "[baab] [aa]"},
      {"(x)", "\\9\\1\\", "x", "x\\"},       // no group 9: empty; a final backslash stays
      {"b", "\\\\0", "abc", "a\\bc"},        // only \digit is special
      {"o", "0", "foo", "f00"},
      {"z", "!", "abc", "abc"},
      // Start items that forbid empty matches hold on every search.
      {"(*NOTEMPTY)a*", "X", "baaac", "bXc"},
      {"(*NOTEMPTY_ATSTART)a*", "X", "baaac", "bXcX"},
      {"(*UTF)(*NOTEMPTY)x?", "-", "axb", "a-b"},
      {"(*LIMIT_MATCH=99)(*NOTEMPTY)x*", "-", "xx", "-"},
      {"(*NOTEMPTY", "-", "x", ""},  // filled below: rejected
  };
  for (const Case& c : cases) {
    if (c.expected.empty()) {
      EXPECT_THROW(ReplaceAll(c.pattern, c.replacement, c.target), RegExSearchPatternException);
      continue;
    }
    EXPECT_EQ(ReplaceAll(c.pattern, c.replacement, c.target), c.expected) << c.pattern;
  }
}

TEST_F(RegExTest, SearchWalkFindsTheSameMatchesAsReplaceAll) {
  RegEx re;
  re.SearchPattern("x*");
  EXPECT_EQ(Walk(re, "axxb"), (std::vector<std::string>{"0:", "1:xx", "3:", "4:"}));
  re.SearchPattern("[0-9]+");
  EXPECT_EQ(Walk(re, "a1 22 日333"), (std::vector<std::string>{"1:1", "3:22", "9:333"}));
  EXPECT_EQ(re.Search(), nullptr);  // the walk stays at its end
}

TEST_F(RegExTest, FirstOnlyReplaceAndStartPositions) {
  RegEx re;
  re.SearchPattern("a");
  re.ReplacementPattern("<\\0>");
  EXPECT_EQ(re.Replace("banana"), "b<a>nana");
  EXPECT_EQ(re.Replace("banana", 2), "ban<a>na");
  re.Options()->ReplaceAllMatches = true;
  EXPECT_EQ(re.Replace("banana", 2), "ban<a>n<a>");
  EXPECT_EQ(re.Replace("banana", 99), "banana");

  // Byte positions: negative starts at 0, inside a character at the next one.
  RegEx any;
  any.SearchPattern(".");
  EXPECT_EQ(any.Search("日本", -3)->SubExpressionString(0), "日");
  EXPECT_EQ(any.Search("日本", 1)->SubExpressionString(0), "本");
  EXPECT_EQ(any.Search("日本", 6), nullptr);
  EXPECT_EQ(any.Search("日本", 7), nullptr);

  // Replace() continues in the last searched target without moving on.
  any.ReplacementPattern("#");
  EXPECT_EQ(any.Search("abc")->SubExpressionString(0), "a");
  EXPECT_EQ(any.Replace(), "a#c");
  EXPECT_EQ(any.Replace(), "a#c");
  EXPECT_EQ(any.Search()->SubExpressionString(0), "b");
  RegEx fresh;
  EXPECT_EQ(fresh.Replace(), "");
  EXPECT_EQ(fresh.Search(), nullptr);
}

TEST_F(RegExTest, MatchObjectsOutliveLaterSearchesAndTheirRegEx) {
  std::shared_ptr<RegExMatch> first, second;
  {
    RegEx re;
    re.SearchPattern("(b)(x)?(c)");
    re.ReplacementPattern("\\3\\1");
    first = re.Search("abcd");
    second = re.Search("zzbcbc");  // a new target while `first` is alive
  }
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->SubExpressionCount(), 4);
  EXPECT_EQ(first->SubExpressionString(0), "bc");
  EXPECT_EQ(first->SubExpressionStartB(0), 1);
  EXPECT_EQ(first->SubExpressionStartB(2), -1);  // did not take part
  EXPECT_EQ(first->SubExpressionString(2), "");
  EXPECT_EQ(first->SubExpressionStartB(9), -1);
  EXPECT_EQ(first->SubExpressionString(-1), "");
  EXPECT_EQ(first->Replace(), "cb");
  EXPECT_EQ(first->Replace("[\\0]"), "[bc]");
  EXPECT_EQ(second->SubExpressionStartB(0), 2);
}

TEST_F(RegExTest, RejectedPatternsRaise) {
  for (const char* bad : {"(", "a)", "[z-a]", "\\", "(?<n>a)(?<n>b)", "a\\C", "\xFF"}) {
    RegEx re;
    EXPECT_THROW(re.SearchPattern(bad), RegExSearchPatternException) << bad;
    // The regex stays unusable: every later use raises again.
    EXPECT_THROW(re.Search("abc"), RegExSearchPatternException) << bad;
    EXPECT_THROW(re.Replace("abc"), RegExSearchPatternException) << bad;
  }
}

TEST_F(RegExTest, RunawayBacktrackingRaisesInsteadOfHanging) {
  RegEx re;
  re.SearchPattern("(a+)+$");
  const std::string target = std::string(60, 'a') + "!";
  EXPECT_THROW(re.Search(target), RegExSearchPatternException);
  re.Options()->ReplaceAllMatches = true;
  EXPECT_THROW(re.Replace(target), RegExSearchPatternException);
  try {
    re.Search(target);
  } catch (const RegExException& e) {  // caught by its base class too
    EXPECT_STRNE(e.what(), "");
  }
}

TEST_F(RegExTest, InvalidUtf8TargetsAreRepairedNotMisread) {
  RegEx re;
  re.SearchPattern(".");
  re.ReplacementPattern("[\\0]");
  re.Options()->ReplaceAllMatches = true;
  EXPECT_EQ(re.Replace("a\xFF" "b"), "[a][\xEF\xBF\xBD][b]");
  re.SearchPattern("b");
  auto m = re.Search("\xE3\x81" "b");  // a cut-off character before b
  ASSERT_TRUE(m);
  EXPECT_EQ(m->SubExpressionStartB(0), 6);  // after two U+FFFD
  RegEx bad_replacement;
  bad_replacement.SearchPattern("x");
  bad_replacement.ReplacementPattern("\xC0");
  EXPECT_EQ(bad_replacement.Replace("x"), "\xEF\xBF\xBD");
}

TEST_F(RegExTest, LongTargetWithManyMatches) {
  std::string target;
  for (int i = 0; i < 20000; ++i) target += "日a1\r";
  RegEx re;
  re.SearchPattern("^.");
  re.ReplacementPattern("<\\0>");
  re.Options()->ReplaceAllMatches = true;
  const std::string out = re.Replace(target);
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "<日>a1\r";
  EXPECT_EQ(out, expected);  // ^ does not match after the final line end
}

TEST_F(RegExTest, UnboundComponentRaisesNilObject) {
  PluginEntry* saved = gRegExEntrypoints;
  gRegExEntrypoints = nullptr;
  EXPECT_THROW(RegEx(), NilObjectException);
  // A table with one place empty: only the operation that needs it raises.
  PluginEntry partial[kRegExEntryCount];
  for (int i = 0; i < kRegExEntryCount; ++i) partial[i] = saved[i];
  partial[kRegExReplaceTarget] = nullptr;
  gRegExEntrypoints = partial;
  {
    RegEx re;
    re.SearchPattern("a");
    EXPECT_NE(re.Search("a"), nullptr);
    EXPECT_THROW(re.Replace("a"), NilObjectException);
  }
  gRegExEntrypoints = saved;
}

}  // namespace
