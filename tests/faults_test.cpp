// Inputs of unusual size and patterns that explode: each run ends, complete
// or ended as a rejected pattern ends it, and nothing is silently cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/match_positions.h"
#include "engine/style_rules.h"
#include "faults_support.h"

namespace faults {
namespace {

using Values = std::vector<std::string>;

// The run's own logic with the style requests kept in memory: a rule set of
// 100,000 rules would otherwise start 100,000 processes.
class KeepingTarget : public engine::StylingTarget {
 public:
  struct Request {
    char kind;  // 'c' or 'p'
    std::string positions, style;
  };
  std::vector<Request> requests;

  std::string getRegPos(const std::string& text, const std::string& pattern) override {
    return engine::getRegPos(text, pattern);
  }
  std::string getRegParaPos(const std::string& text, const std::string& pattern) override {
    return engine::getRegParaPos(text, pattern);
  }
  void applyChaStyle(const std::string& positions, const std::string& style, const std::string&,
                     const std::string&) override {
    requests.push_back({'c', positions, style});
  }
  void applyParaStyle(const std::string& paragraphs, const std::string& style,
                      const std::string&, const std::string&) override {
    requests.push_back({'p', paragraphs, style});
  }
};

class SizeTest : public FaultTest {};

TEST_F(SizeTest, HundredThousandRulesAreEachAppliedOnce) {
  Start();
  constexpr int kRules = 100'000;
  std::string rules;
  for (int i = 0; i < kRules; ++i) {
    rules += (i % 2 ? "b" : "a");
    rules += "\tS" + std::to_string(i) + (i % 3 == 0 ? "\tp" : "") + "\n";
  }
  WriteRuleSet("many.txt", rules);
  SetContent("A/B:ab\rb");
  ClearCalls();
  KeepingTarget target;
  engine::MainScpt(target, "many.txt");

  ASSERT_EQ(target.requests.size(), static_cast<size_t>(kRules));
  int wrong = 0;
  for (int i = 0; i < kRules && wrong < 5; ++i) {
    const auto& r = target.requests[static_cast<size_t>(i)];
    const bool paragraph = i % 3 == 0;
    const char* positions = paragraph ? (i % 2 ? "1,2," : "1,") : (i % 2 ? "2,4,<>2,4," : "1,<>1,");
    if (r.kind != (paragraph ? 'p' : 'c') || r.style != "S" + std::to_string(i) ||
        r.positions != positions) {
      ADD_FAILURE() << "rule " << i << ": " << r.kind << " " << r.style << " " << r.positions;
      ++wrong;
    }
  }
  EXPECT_EQ(Calls().size(), 1u) << "the host is asked once, whatever the number of rules";
}

// ASCII paragraphs ended by CR; "needle" never occurs in them.
std::string Paragraphs(size_t bytes) {
  static const char kLine[] = "the quick brown fox jumps over a lazy dog, and then a few more words\r";
  std::string s;
  s.reserve(bytes + sizeof kLine);
  while (s.size() < bytes) s += kLine;
  s.resize(bytes);
  return s;
}

// The numbers of a list "n,n,...,": how many, and the last.
std::pair<size_t, std::string> CountAndLast(const std::string& list) {
  const size_t count = static_cast<size_t>(std::count(list.begin(), list.end(), ','));
  if (count == 0) return {0, ""};
  const size_t end = list.size() - 1;  // the last ","
  const size_t before = list.rfind(',', end - 1);
  const size_t from = before == std::string::npos ? 0 : before + 1;
  return {count, list.substr(from, end - from)};
}

TEST_F(SizeTest, TenMegabytePieceAgainstAFewRules) {
  Start();
  // A Japanese word at the front, then plain paragraphs with two needles.
  const std::string front = "日本語";
  const std::string part1 = Paragraphs(4'000'000), part2 = Paragraphs(6'000'000);
  const std::string text = front + part1 + "needle" + part2 + "needle";
  const size_t chars = 3 + part1.size() + 6 + part2.size() + 6;
  const size_t crs = static_cast<size_t>(std::count(text.begin(), text.end(), '\r'));
  const size_t paragraphs = crs + 1;
  const size_t first = 3 + part1.size() + 1, second = first + 6 + part2.size();
  const size_t first_para = static_cast<size_t>(std::count(part1.begin(), part1.end(), '\r')) + 1;
  SetContent("A/B:" + text);
  // Sparse rules around two dense ones whose lists run to megabytes.
  WriteRuleSet("big.txt",
               "needle\tN\n"
               ".\tDOT\n"
               "needle\tNP\tp\n"
               "^\tALL\tp\n"
               "needle$\tLAST\n");
  Reactivate();
  ClearCalls();
  std::string err;
  EXPECT_NO_THROW(err = CaptureStderr([&] { ASSERT_TRUE(ClickRow("big")); }));
  auto calls = Calls();
  ASSERT_GE(calls.size(), 1u);
  EXPECT_EQ(calls[0].script, "getcontents.scpt");
  calls.erase(calls.begin());

  // Every request arrives, the rules' order kept; a list too long for one
  // script call comes in several calls, whose lists join to the whole list.
  size_t next = 0;
  auto take = [&](const char* style) -> const ScriptCall* {
    if (next >= calls.size()) return nullptr;
    const auto& v = calls[next].values;
    const size_t style_at = calls[next].script == "applyCS.scpt" ? 2 : 1;
    if (v.size() <= style_at || v[style_at] != style) return nullptr;
    return &calls[next++];
  };
  // The calls for one rule, their lists joined.
  auto take_all = [&](const char* style) -> std::optional<ScriptCall> {
    std::optional<ScriptCall> joined;
    while (const ScriptCall* call = take(style)) {
      if (!joined) {
        joined = *call;
        continue;
      }
      joined->values[0] += call->values[0];
      if (call->script == "applyCS.scpt") joined->values[1] += call->values[1];
    }
    return joined;
  };
  const ScriptCall* n = take("N");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->values, (Values{std::to_string(first) + "," + std::to_string(second) + ",",
                               std::to_string(first + 5) + "," + std::to_string(second + 5) + ",",
                               "N", "A", "B", "1"}));
  if (const auto dot = take_all("DOT")) {
    const auto starts = CountAndLast(dot->values[0]);
    const auto ends = CountAndLast(dot->values[1]);
    EXPECT_EQ(starts.first, chars - crs);
    EXPECT_EQ(ends.first, chars - crs);
    EXPECT_EQ(ends.second, std::to_string(chars));
  } else {
    ADD_FAILURE() << "no request for DOT";
  }
  const ScriptCall* np = take("NP");
  ASSERT_TRUE(np);
  EXPECT_EQ(np->values[0], std::to_string(first_para) + "," + std::to_string(paragraphs) + ",");
  if (const auto all = take_all("ALL")) {
    const auto list = CountAndLast(all->values[0]);
    EXPECT_EQ(list.first, paragraphs);
    EXPECT_EQ(list.second, std::to_string(paragraphs));
  } else {
    ADD_FAILURE() << "no request for ALL";
  }
  const ScriptCall* last = take("LAST");
  ASSERT_TRUE(last);
  EXPECT_EQ(last->values[0], std::to_string(second) + ",");
  EXPECT_EQ(last->values[1], std::to_string(second + 5) + ",");
  EXPECT_EQ(next, calls.size()) << "no request but those of the rules";
  EXPECT_EQ(Occurrences(err, "ExecuteAppleScript: "), 0u) << err.substr(0, 2000);
  ExpectUsable();
}

TEST_F(SizeTest, TenThousandRuleSetsAreAllListedInOrder) {
  constexpr int kSets = 10'000;
  std::vector<std::string> expected;
  char name[32];
  for (int i = kSets - 1; i >= 0; --i) {  // created backwards: the order is the folder's
    std::snprintf(name, sizeof name, "r%05d", i);
    WriteRuleSet(std::string(name) + ".txt", i == kSets - 1 ? "a\tS" : "");
    if (i % 10 == 0) {
      std::snprintf(name, sizeof name, ".h%05d.txt", i);
      WriteRuleSet(name, "");
      std::snprintf(name, sizeof name, "n%05d.rtf", i);
      WriteRuleSet(name, "");
    }
  }
  for (int i = 0; i < kSets; ++i) {
    std::snprintf(name, sizeof name, "r%05d", i);
    expected.push_back(name);
  }
  Start();
  EXPECT_EQ(Rows(), expected);
  const uint64_t before = platform::RuntimeBackgroundTaskCount();
  Reactivate();
  EXPECT_EQ(platform::RuntimeBackgroundTaskCount() - before, kSets + kSets / 10 * 2u)
      << "one pass per entry";
  EXPECT_EQ(Rows(), expected) << "rebuilt, not appended";
  SetContent("A/B:a");
  ClearCalls();
  ASSERT_TRUE(ClickRow("r09999"));
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].values, (Values{"1,", "1,", "S", "A", "B", "1"}));
}

// Patterns whose search backtracks without bound on a long run of "a"
// followed by something else: the component gives up on them, so the test
// ends in a moment (ctest's timeout catches a hang).
struct Explosion {
  const char* name;
  const char* rules;
  std::vector<Values> expected;  // after getcontents
};

std::string ManyA() { return std::string(5000, 'a'); }

class BacktrackingTest : public FaultTest {};

TEST_F(BacktrackingTest, RunawayPatternEndsLikeARejectedOne) {
  Start();
  const std::string bomb = ManyA() + "b";
  // The text of piece 2: a harmless paragraph, then the one that explodes.
  const std::string starts_a = [] {
    std::string s = "1,";
    for (int i = 3; i < 5003; ++i) s += std::to_string(i) + ",";
    return s;
  }();
  const Explosion cases[] = {
      {"character rule: the run ends, earlier requests stay",
       "a\tR1\n(a+)+$\tR2\nb\tR3",
       {{"", "", "R1", "A", "1", "1"},
        {"", "", "R2", "A", "1", "1"},
        {"", "", "R3", "A", "1", "1"},
        {starts_a, starts_a, "R1", "B", "2", "1"}}},
      {"paragraph rule: the list is empty, the run goes on",
       "a\tR1\n(a+)+$\tR2\tp\nb\tR3",
       {{"", "", "R1", "A", "1", "1"},
        {"", "R2", "A", "1", "1"},
        {"", "", "R3", "A", "1", "1"},
        {starts_a, starts_a, "R1", "B", "2", "1"},
        {"", "R2", "B", "2", "1"},
        {"5003,", "5003,", "R3", "B", "2", "1"}}},
      // Each start stays under PCRE2's own limit; the search as a whole
      // (which would find a match at the end after a minute) does not.
      {"character rule, a limit on the whole search",
       "a\tR1\n(?:a|a){20}b\tR2\nb\tR3",
       {{"", "", "R1", "A", "1", "1"},
        {"", "", "R2", "A", "1", "1"},
        {"", "", "R3", "A", "1", "1"},
        {starts_a, starts_a, "R1", "B", "2", "1"}}},
      {"paragraph rule, a limit on the whole search",
       "a\tR1\n(?:a|a){20}b\tR2\tp\nb\tR3",
       {{"", "", "R1", "A", "1", "1"},
        {"", "R2", "A", "1", "1"},
        {"", "", "R3", "A", "1", "1"},
        {starts_a, starts_a, "R1", "B", "2", "1"},
        {"", "R2", "B", "2", "1"},
        {"5003,", "5003,", "R3", "B", "2", "1"}}},
  };
  SetContent("A/1:xyz<t@ke>B/2:a\r" + bomb);
  for (const Explosion& c : cases) {
    SCOPED_TRACE(c.name);
    WriteRuleSet("bomb.txt", c.rules);
    Reactivate();
    ClearCalls();
    std::string err;
    EXPECT_NO_THROW(err = CaptureStderr([&] { ASSERT_TRUE(ClickRow("bomb")); }));
    EXPECT_TRUE(err.empty()) << "nothing is reported: " << err;
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), c.expected.size() + 1);
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(calls[i + 1].values, c.expected[i]) << "request " << i;
  }
  ExpectUsable();
}

}  // namespace
}  // namespace faults
