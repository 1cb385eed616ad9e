// Host scripts that fail, print what is not text, or print a great deal:
// every run ends normally, and the window stays usable afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults_support.h"

namespace faults {
namespace {

using Values = std::vector<std::string>;

struct ScriptFault {
  const char* name;
  const char* script;
  const char* body;  // nullptr: the script file is missing
  mode_t mode;
  const char* said;  // on standard error, after the script's path
};

// Prints a piece first, so that a result of a script that then dies is seen
// to be dropped and not half-used.
const char kCrashes[] = "#!/bin/sh\nulimit -c 0\nprintf 'A/1:a'\nkill -SEGV $$\n";

const ScriptFault kScriptFaults[] = {
    {"getcontents crashes", "getcontents.scpt", kCrashes, 0755, "signal 11"},
    {"applyCS crashes", "applyCS.scpt", kCrashes, 0755, "signal 11"},
    {"getcontents exits non-zero", "getcontents.scpt", "#!/bin/sh\nprintf 'A/1:a'\nexit 4\n",
     0755, "status 4"},
    {"applyPS exits non-zero", "applyPS.scpt", "#!/bin/sh\necho done\nexit 7\n", 0755,
     "status 7"},
    {"applyCS is not executable", "applyCS.scpt", "#!/bin/sh\necho done\n", 0644, "cannot start"},
    {"getcontents is not executable", "getcontents.scpt", "#!/bin/sh\necho 'A/1:a'\n", 0600,
     "cannot start"},
    {"applyPS is missing", "applyPS.scpt", nullptr, 0, "cannot start"},
    {"getcontents is missing", "getcontents.scpt", nullptr, 0, "cannot start"},
};

class ScriptFaultTest : public FaultTest {};

TEST_F(ScriptFaultTest, BrokenScriptFailsOnlyItsOwnCallsAndLeavesTheWindowUsable) {
  Start();
  platform::headless::ClearMessages();  // the host check's, at start-up
  for (const ScriptFault& f : kScriptFaults) {
    SCOPED_TRACE(f.name);
    const std::string broken = f.script;
    WriteRuleSet("set.txt", "a\tS\na\tT\tp");
    SetContent("A/1:a<t@ke>B/2:a");
    ReplaceScript(broken, f.body, f.mode);
    Reactivate();
    ClearCalls();
    std::string err;
    bool clicked = false;
    EXPECT_NO_THROW(err = CaptureStderr([&] { clicked = ClickRow("set"); }));
    ASSERT_TRUE(clicked);

    // What the working scripts received: without content nothing, else one
    // request per piece and rule from the script that still works.
    std::vector<std::string> expected;
    if (broken != "getcontents.scpt") {
      expected.push_back("getcontents.scpt");
      for (int piece = 0; piece < 2; ++piece)
        for (const char* s : {"applyCS.scpt", "applyPS.scpt"})
          if (broken != s) expected.push_back(s);
    }
    std::vector<std::string> got;
    for (const auto& c : Calls()) got.push_back(c.script);
    EXPECT_EQ(got, expected);
    // One line per failed call, each naming the script and the failure.
    const size_t failed = broken == "getcontents.scpt" ? 1 : 2;
    EXPECT_EQ(Occurrences(err, "ExecuteAppleScript: "), failed) << err;
    EXPECT_EQ(Occurrences(err, resources + "/" + broken), failed) << err;
    EXPECT_EQ(Occurrences(err, f.said), failed) << err;
    EXPECT_TRUE(platform::headless::Messages().empty()) << "a failed script shows no message";

    ExpectUsable();
  }
}

TEST_F(ScriptFaultTest, InvalidUtf8FromTheHostCountsAsReplacementCharacters) {
  Start();
  // After repair the text is, by character:
  //   1 FFFD  2 a  3 FFFD  4 b  5 FFFD  6 FFFD  7 日  8 c  9 CR  10 x  11 FFFD
  SetContent("A\xff/B:\xff" "a\x80" "b\xfe\xfd" "日c\rx\xc3");
  WriteRuleSet("set.txt",
               "c\tC\n"
               "\\x{FFFD}+\tR\n"
               "x\\x{FFFD}\tP\tp\n"
               "日\tJ\n");
  Reactivate();
  ClearCalls();
  ASSERT_TRUE(ClickRow("set"));
  const auto calls = Calls();
  const std::string a1 = "A\xEF\xBF\xBD";
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[1].values, (Values{"8,", "8,", "C", a1, "B", "1"}));
  EXPECT_EQ(calls[2].values, (Values{"1,3,5,11,", "1,3,6,11,", "R", a1, "B", "1"}));
  EXPECT_EQ(calls[3].values, (Values{"2,", "P", a1, "B", "1"}));
  EXPECT_EQ(calls[4].values, (Values{"7,", "7,", "J", a1, "B", "1"}));
  ExpectUsable();
}

// ASCII paragraphs ended by CR, cut to exactly `bytes` bytes.
std::string Filler(size_t bytes, unsigned seed) {
  static const char* const kWords[] = {"lorem", "ipsum", "dolor", "sit", "amet", "tempor",
                                       "magna", "aliqua", "veniam", "nostrud"};
  std::string s;
  s.reserve(bytes + 16);
  unsigned x = seed;
  int in_paragraph = 0;
  while (s.size() < bytes) {
    x = x * 1103515245u + 12345u;
    s += kWords[(x >> 16) % 10];
    if (++in_paragraph == 12) {
      s += '\r';
      in_paragraph = 0;
    } else {
      s += ' ';
    }
  }
  s.resize(bytes);
  return s;
}

size_t Count(const std::string& s, char c) {
  size_t n = 0;
  for (char x : s) n += x == c;
  return n;
}

TEST_F(ScriptFaultTest, FiftyMegabytesOfContentRunToTheEnd) {
  Start();
  constexpr int kPieces = 5;
  constexpr size_t kPieceBytes = 10'000'000;
  std::string content;
  content.reserve(kPieces * (kPieceBytes + 64));
  std::vector<Values> expected;
  for (int i = 0; i < kPieces; ++i) {
    // One two-byte character first: positions count characters, not bytes.
    const size_t before = 1'000'000 * static_cast<size_t>(i) + 12'345;
    const std::string head = Filler(before, 7u + static_cast<unsigned>(i));
    const std::string piece = "é" + head + "needle" + Filler(kPieceBytes - before, 99u);
    const std::string address = "P" + std::to_string(i);
    if (i) content += "<t@ke>";
    content += address + "/x:" + piece;
    const std::string at = std::to_string(before + 2) + ",";
    const std::string end = std::to_string(before + 7) + ",";
    expected.push_back({at, end, "S", address, "x", "1"});
    expected.push_back({std::to_string(Count(head, '\r') + 1) + ",", "P", address, "x", "1"});
  }
  ASSERT_GT(content.size(), 50'000'000u);
  SetContent(content);
  content.clear();
  content.shrink_to_fit();
  WriteRuleSet("big.txt", "needle\tS\nneedle\tP\tp");
  Reactivate();
  ClearCalls();
  ASSERT_TRUE(ClickRow("big"));
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), expected.size() + 1);
  EXPECT_EQ(calls[0].script, "getcontents.scpt");
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(calls[i + 1].values, expected[i]) << i;
  ExpectUsable();
}

}  // namespace
}  // namespace faults
