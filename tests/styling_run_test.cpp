// The styling run as the program runs it: a rule set in "reglist", the
// host's content from a recording getcontents, and the style requests the
// recording applyCS / applyPS receive.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "app/app.h"
#include "app/main_window.h"
#include "engine/style_rules.h"
#include "host/host_scripts.h"
#include "platform/headless/driver.h"
#include "platform/runtime.h"
#include "support/app_fixture.h"

namespace fs = std::filesystem;

namespace {

// One call as {script, value 1, value 2, ...}; "*" in an expectation matches
// any value.
using Call = std::vector<std::string>;

std::vector<Call> Flat(const std::vector<ScriptCall>& calls) {
  std::vector<Call> out;
  for (const ScriptCall& c : calls) {
    Call call{c.script};
    call.insert(call.end(), c.values.begin(), c.values.end());
    out.push_back(call);
  }
  return out;
}

std::string Show(const std::vector<Call>& calls) {
  std::string s;
  for (const Call& c : calls) {
    s += " [";
    for (size_t i = 0; i < c.size(); ++i) s += (i ? "|" : "") + c[i];
    s += "]";
  }
  return s;
}

void ExpectCalls(const std::vector<Call>& actual, const std::vector<Call>& expected) {
  ASSERT_EQ(actual.size(), expected.size()) << "got" << Show(actual);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(actual[i].size(), expected[i].size()) << "call " << i << ", got" << Show(actual);
    for (size_t k = 0; k < expected[i].size(); ++k) {
      if (expected[i][k] != "*") {
        EXPECT_EQ(actual[i][k], expected[i][k]) << "call " << i << " value " << k;
      }
    }
  }
}

const Call kGet = {"getcontents.scpt"};

class StylingRunTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    CaptureStderr([&] { StartUp(); });  // the host check's message goes to stderr
  }

  // Writes the rule set and the host's content, runs the set by name and
  // gives the host script calls of the run.
  std::vector<Call> Run(const std::string& rules, const std::string& content,
                        const std::string& name = "set.txt") {
    WriteRuleSet(name, rules);
    SetContent(content);
    ClearCalls();
    Window1()->MainScpt(name);
    return Flat(Calls());
  }

  void ReplaceScript(const std::string& name, const std::string& body, mode_t mode = 0755) {
    const std::string path = resources + "/" + name;
    fs::remove(path);
    WriteFile(path, body);
    chmod(path.c_str(), mode);
  }
};

struct RunCase {
  const char* name;
  const char* rules;
  const char* content;
  std::vector<Call> expected;  // after the one getcontents call
};

const RunCase kRunCases[] = {
    {"piece by piece, rule by rule",
     "a\tR1\nb\tR2\tp",
     "P1/x:abab<t@ke>P2/y:x\rba",
     {{"applyCS.scpt", "1,3,", "1,3,", "R1", "P1", "x", "1"},
      {"applyPS.scpt", "1,", "R2", "P1", "x", "1"},
      {"applyCS.scpt", "4,", "4,", "R1", "P2", "y", "1"},
      {"applyPS.scpt", "2,", "R2", "P2", "y", "1"}}},
    {"nothing matched, requests still sent",
     "z\tS\nz\tT\tp",
     "A/B:abc",
     {{"applyCS.scpt", "", "", "S", "A", "B", "1"}, {"applyPS.scpt", "", "T", "A", "B", "1"}}},
    {"longer matches span their characters", "ab\tS", "A/B:xabab",
     {{"applyCS.scpt", "2,4,", "3,5,", "S", "A", "B", "1"}}},
    {"empty content", "a\tS", "", {}},
    {"only separators", "a\tS", "<t@ke><t@ke><t@ke>", {}},
    {"leading and trailing separators", "a\tS", "<t@ke>A/B:a<t@ke>",
     {{"applyCS.scpt", "1,", "1,", "S", "A", "B", "1"}}},
    {"three head fields, a further colon in the text", ":\tS", "A/B/C:x:y:",
     {{"applyCS.scpt", "2,4,", "2,4,", "S", "A", "B", "1"}}},
    {"head without a slash", "a\tS", "Head:a",
     {{"applyCS.scpt", "1,", "1,", "S", "Head", "", "1"}}},
    {"empty text still gets every rule", "a\tS\na\tT\tp", "A/B:",
     {{"applyCS.scpt", "", "", "S", "A", "B", "1"}, {"applyPS.scpt", "", "T", "A", "B", "1"}}},
    {"piece without a colon is all text", "c\tS", "abc",
     {{"applyCS.scpt", "3,", "3,", "S", "", "", "1"}}},
    {"empty rule file is one empty character rule", "", "A/B:ab<t@ke>C/D:x",
     {{"applyCS.scpt", "*", "*", "", "A", "B", "1"}, {"applyCS.scpt", "*", "*", "", "C", "D", "1"}}},
    {"final line end adds no rule", "a\tS\n", "A/B:a",
     {{"applyCS.scpt", "1,", "1,", "S", "A", "B", "1"}}},
    {"blank middle line is an empty character rule", "a\tS\n\nb\tT", "A/B:ab",
     {{"applyCS.scpt", "1,", "1,", "S", "A", "B", "1"},
      {"applyCS.scpt", "*", "*", "", "A", "B", "1"},
      {"applyCS.scpt", "2,", "2,", "T", "A", "B", "1"}}},
    {"CRLF line ends stay out of the fields", "a\tS\r\nb\tT\tp\r\n", "A/B:ab",
     {{"applyCS.scpt", "1,", "1,", "S", "A", "B", "1"}, {"applyPS.scpt", "1,", "T", "A", "B", "1"}}},
    {"a fourth field is ignored", "a\tS\tp\textra", "A/B:a",
     {{"applyPS.scpt", "1,", "S", "A", "B", "1"}}},
    {"a kind with a space is a character rule", "a\tS\t p\na\tT\tp ", "A/B:a",
     {{"applyCS.scpt", "1,", "1,", "S", "A", "B", "1"},
      {"applyCS.scpt", "1,", "1,", "T", "A", "B", "1"}}},
    {"kind P is a paragraph rule", "a\tS\tP", "A/B:x\ra",
     {{"applyPS.scpt", "2,", "S", "A", "B", "1"}}},
    {"nothing is trimmed", " a\t S \t", "A/B:a a",
     {{"applyCS.scpt", "2,", "3,", " S ", "A", "B", "1"}}},
    {"Japanese positions count characters", "テキスト\t見出し\n二\t段落\tp",
     "表/1:日本語のテキスト\r二行目",
     {{"applyCS.scpt", "5,", "8,", "見出し", "表", "1", "1"},
      {"applyPS.scpt", "2,", "段落", "表", "1", "1"}}},
    {"a byte-order mark is not part of the first pattern", "\xEF\xBB\xBF" "a\tS", "A/B:a",
     {{"applyCS.scpt", "1,", "1,", "S", "A", "B", "1"}}},
    {"a Shift_JIS rule file", "\x83\x65\x83\x4c\x83\x58\x83\x67\t\x8c\xa9\x8f\x6f\x82\xb5",
     "A/B:日本語のテキスト",
     {{"applyCS.scpt", "5,", "8,", "見出し", "A", "B", "1"}}},
    {"a rejected character pattern ends the run", "a\tR1\n(\tR2\nb\tR3",
     "A/1:ab<t@ke>B/2:ab",
     {{"applyCS.scpt", "1,", "1,", "R1", "A", "1", "1"}}},
    {"a rejected paragraph pattern gives an empty list", "a\tR1\n(\tR2\tp\nb\tR3",
     "A/1:ab<t@ke>B/2:ab",
     {{"applyCS.scpt", "1,", "1,", "R1", "A", "1", "1"},
      {"applyPS.scpt", "", "R2", "A", "1", "1"},
      {"applyCS.scpt", "2,", "2,", "R3", "A", "1", "1"},
      {"applyCS.scpt", "1,", "1,", "R1", "B", "2", "1"},
      {"applyPS.scpt", "", "R2", "B", "2", "1"},
      {"applyCS.scpt", "2,", "2,", "R3", "B", "2", "1"}}},
};

TEST_F(StylingRunTest, RequestsFollowTheRulesAndTheContent) {
  for (const RunCase& c : kRunCases) {
    SCOPED_TRACE(c.name);
    std::vector<Call> expected{kGet};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    ExpectCalls(Run(c.rules, c.content), expected);
  }
}

TEST_F(StylingRunTest, ValuesReachTheScriptByteForByte) {
  const std::string style = "He said \"hi\" 'x' $(touch pwned) `id` \\n -- ; * 見出し";
  const std::string address1 = "-rf\t*";
  const std::string address2 = " $(id) \"q\" 'r'\t日本\nend ";
  ExpectCalls(Run("a\t" + style + "\na\t--help\tp", address1 + "/" + address2 + ":a"),
              {kGet,
               {"applyCS.scpt", "1,", "1,", style, address1, address2, "1"},
               {"applyPS.scpt", "1,", "--help", address1, address2, "1"}});
  EXPECT_FALSE(fs::exists(root + "/pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(StylingRunTest, NoNameOrNoEntryRunsNoScript) {
  WriteRuleSet("set.txt", "a\tS");
  SetContent("A/B:a");
  fs::create_directory(reglist + "/folder.txt");
  for (const char* name : {"", "absent.txt", "set"}) {
    SCOPED_TRACE(name);
    ClearCalls();
    const uint64_t before = platform::RuntimeBackgroundTaskCount();
    Window1()->MainScpt(name);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(platform::RuntimeBackgroundTaskCount(), before);
  }
  // An entry that exists but cannot be read as a file: the host is asked
  // once, and no rule means no request.
  ClearCalls();
  Window1()->MainScpt("folder.txt");
  ExpectCalls(Flat(Calls()), {kGet});
}

TEST_F(StylingRunTest, CheckboxIsReadAtEveryRequest) {
  auto window = Window1();
  auto box = window->CB1();
  ASSERT_TRUE(box->Value()) << "ticked by design";
  ClearCalls();
  window->applyChaStyle("3,10,<>5,12,", "S", "a", "b");
  box->Value(false);
  window->applyParaStyle("1,3,", "T", "c", "d");
  window->applyChaStyle("<>", "U", "", "");
  box->Value(true);
  window->applyParaStyle("", "", "", "");
  ExpectCalls(Flat(Calls()), {{"applyCS.scpt", "3,10,", "5,12,", "S", "a", "b", "1"},
                              {"applyPS.scpt", "1,3,", "T", "c", "d", "0"},
                              {"applyCS.scpt", "", "", "U", "", "", "0"},
                              {"applyPS.scpt", "", "", "", "", "1"}});

  // A whole run carries the state the box has while it runs.
  box->Value(false);
  ExpectCalls(Run("a\tS\na\tT\tp", "A/B:a"),
              {kGet, {"applyCS.scpt", "1,", "1,", "S", "A", "B", "0"},
               {"applyPS.scpt", "1,", "T", "A", "B", "0"}});
}

// Delegates to the main window and flips its checkbox after every request,
// as a user would between two requests of one run.
class FlippingTarget : public engine::StylingTarget {
 public:
  std::string getRegPos(const std::string& t, const std::string& p) override {
    return Window1()->getRegPos(t, p);
  }
  std::string getRegParaPos(const std::string& t, const std::string& p) override {
    return Window1()->getRegParaPos(t, p);
  }
  void applyChaStyle(const std::string& l, const std::string& s, const std::string& a1,
                     const std::string& a2) override {
    Window1()->applyChaStyle(l, s, a1, a2);
    Window1()->CB1()->UserToggle();
  }
  void applyParaStyle(const std::string& l, const std::string& s, const std::string& a1,
                      const std::string& a2) override {
    Window1()->applyParaStyle(l, s, a1, a2);
    Window1()->CB1()->UserToggle();
  }
};

TEST_F(StylingRunTest, CheckboxChangedDuringARunChangesTheLaterRequestsOnly) {
  WriteRuleSet("set.txt", "a\tS\na\tT\tp");
  SetContent("A/B:a<t@ke>C/D:a");
  ClearCalls();
  FlippingTarget target;
  engine::MainScpt(target, "set.txt");
  const auto calls = Flat(Calls());
  ASSERT_EQ(calls.size(), 5u) << Show(calls);
  EXPECT_EQ(calls[1].back(), "1");
  EXPECT_EQ(calls[2].back(), "0");
  EXPECT_EQ(calls[3].back(), "1");
  EXPECT_EQ(calls[4].back(), "0");
}

TEST_F(StylingRunTest, BackgroundHookOncePerLinePerRequestPerPiece) {
  // Two rule lines; three pieces, one of them empty; two requests per
  // non-empty piece.
  const std::string p1 = "xa", p2 = "ab\rb";
  WriteRuleSet("set.txt", "a\tS\nb\tT\tp");
  SetContent("A/1:" + p1 + "<t@ke><t@ke>B/2:" + p2);
  auto window = Window1();
  // What the matchers themselves add for their own loops.
  uint64_t matching = 0;
  for (const std::string& text : {p1, p2}) {
    uint64_t before = platform::RuntimeBackgroundTaskCount();
    window->getRegPos(text, "a");
    window->getRegParaPos(text, "b");
    matching += platform::RuntimeBackgroundTaskCount() - before;
  }
  const uint64_t before = platform::RuntimeBackgroundTaskCount();
  window->MainScpt("set.txt");
  EXPECT_EQ(platform::RuntimeBackgroundTaskCount() - before, 2u + 4u + 3u + matching);

  // An empty rule file is one line; a content of two empty pieces has no
  // request and no matching.
  WriteRuleSet("empty.txt", "");
  SetContent("<t@ke>");
  const uint64_t start = platform::RuntimeBackgroundTaskCount();
  window->MainScpt("empty.txt");
  EXPECT_EQ(platform::RuntimeBackgroundTaskCount() - start, 1u + 2u);
}

TEST_F(StylingRunTest, AClickRunsTheRowsRuleSet) {
  WriteRuleSet("Titles.txt", "a\tHead");
  SetContent("A/B:a");
  auto window = Window1();
  window->UserDeactivate();
  window->UserActivate();
  ASSERT_EQ(window->Listbox1()->ListCount(), 1);
  ClearCalls();
  EXPECT_FALSE(window->Listbox1()->UserClickCell(0, 0));
  ExpectCalls(Flat(Calls()), {kGet, {"applyCS.scpt", "1,", "1,", "Head", "A", "B", "1"}});
}

struct BrokenScript {
  const char* name;
  const char* body;  // nullptr: no file at all
  mode_t mode;
  const char* said;  // what standard error says besides the script's name
};

const BrokenScript kBrokenScripts[] = {
    {"missing", nullptr, 0755, "cannot start"},
    {"not executable", "#!/bin/sh\necho 'A/B:a'\n", 0644, "cannot start"},
    {"fails after printing", "#!/bin/sh\necho 'A/B:a'\nexit 3\n", 0755, "status 3"},
    {"killed", "#!/bin/sh\necho 'A/B:a'\nkill -9 $$\n", 0755, "signal 9"},
};

TEST_F(StylingRunTest, FailingGetcontentsActsAsAnEmptyDocument) {
  WriteRuleSet("set.txt", "a\tS");
  for (const BrokenScript& b : kBrokenScripts) {
    SCOPED_TRACE(b.name);
    if (b.body) {
      ReplaceScript("getcontents.scpt", b.body, b.mode);
    } else {
      fs::remove(resources + "/getcontents.scpt");
    }
    ClearCalls();
    const std::string err = CaptureStderr([&] { Window1()->MainScpt("set.txt"); });
    EXPECT_TRUE(Calls().empty()) << "no request without content";
    EXPECT_NE(err.find("getcontents.scpt"), std::string::npos) << err;
    EXPECT_NE(err.find(b.said), std::string::npos) << err;
  }
  // The program goes on: with the script back, the next run works.
  fs::remove(resources + "/getcontents.scpt");
  fs::copy_file(resources + "/applyCS.scpt", resources + "/getcontents.scpt");
  ExpectCalls(Run("a\tS", "A/B:a"), {kGet, {"applyCS.scpt", "1,", "1,", "S", "A", "B", "1"}});
}

TEST_F(StylingRunTest, FailingStyleScriptLeavesTheRunGoingOn) {
  for (const BrokenScript& b : kBrokenScripts) {
    SCOPED_TRACE(b.name);
    if (b.body) {
      ReplaceScript("applyCS.scpt", b.body, b.mode);
    } else {
      fs::remove(resources + "/applyCS.scpt");
    }
    WriteRuleSet("set.txt", "a\tS\na\tT\tp");
    SetContent("A/B:a<t@ke>C/D:a");
    ClearCalls();
    const std::string err = CaptureStderr([&] { Window1()->MainScpt("set.txt"); });
    ExpectCalls(Flat(Calls()), {kGet, {"applyPS.scpt", "1,", "T", "A", "B", "1"},
                                {"applyPS.scpt", "1,", "T", "C", "D", "1"}});
    // One line per failed request, each naming the script.
    size_t lines = 0;
    for (size_t at = err.find("applyCS.scpt"); at != std::string::npos;
         at = err.find("applyCS.scpt", at + 1))
      ++lines;
    EXPECT_EQ(lines, 2u) << err;
  }
}

TEST_F(StylingRunTest, StyleScriptAnswersAreNotLookedAt) {
  ReplaceScript("applyCS.scpt", "#!/bin/sh\necho 'error: no such style'\necho '<t@ke>X/Y:a'\n");
  ExpectCalls(Run("a\tS\na\tT\tp", "A/B:a<t@ke>C/D:a"),
              {kGet, {"applyPS.scpt", "1,", "T", "A", "B", "1"},
               {"applyPS.scpt", "1,", "T", "C", "D", "1"}});
}

TEST_F(StylingRunTest, WithoutAnApplicationObjectNoScriptRuns) {
  WriteRuleSet("set.txt", "a\tS");
  SetContent("A/B:a");
  auto window = Window1();
  window->UserDeactivate();
  window->UserActivate();
  ASSERT_EQ(window->Listbox1()->ListCount(), 1);
  auto app = App();
  platform::RuntimeRegisterAppObject(nullptr);
  ClearCalls();
  EXPECT_THROW(window->Listbox1()->UserClickCell(0, 0), platform::NilObjectException);
  EXPECT_THROW(applyCS({"", "", "", "", "", "1"}), platform::NilObjectException);
  EXPECT_TRUE(Calls().empty());
  platform::RuntimeRegisterAppObject(app);
}

TEST(HostScriptsBeforeStartUp, NoApplicationObjectRaisesNilObject) {
  platform::RuntimeResetForTesting();
  EXPECT_THROW(getcontents({}), platform::NilObjectException);
  EXPECT_THROW(applyPS({"", "", "", "", "1"}), platform::NilObjectException);
}

}  // namespace
