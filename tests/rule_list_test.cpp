// The rule-set list: refreshed from "reglist" on every activation, and a
// click on a row runs that rule set.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/runtime.h"
#include "support/app_fixture.h"

namespace fs = std::filesystem;

namespace {

class RuleListTest : public AppFixture {
 protected:
  void Start() {
    CaptureStderr([&] { StartUp(); });
  }
  std::vector<std::string> Rows() {
    auto list = Window1()->Listbox1();
    std::vector<std::string> rows;
    for (int i = 0; i < list->ListCount(); ++i) rows.push_back(list->Cell(i, 0));
    return rows;
  }
  void Reactivate() {
    Window1()->UserDeactivate();
    Window1()->UserActivate();
  }
};

using Names = std::vector<std::string>;

TEST_F(RuleListTest, ListsTxtEntriesWithoutTheirEndingInFolderOrder) {
  for (const char* name : {"Titles.txt", "body.txt", ".hidden.txt", "notes.rtf", "Old.TXT",
                           "a.txt.txt", ".txt", "txt", "ab", "x.tx", "見出し.txt", "Zeta.txt"})
    WriteRuleSet(name, "a\tS");
  fs::create_directory(reglist + "/set.txt");
  fs::create_directory(reglist + "/other");
  Start();
  EXPECT_EQ(Rows(), (Names{"a.txt", "body", "Old", "set", "Titles", "Zeta", "見出し"}));
}

TEST_F(RuleListTest, EveryActivationRebuildsTheRowsOnce) {
  WriteRuleSet("one.txt", "");
  WriteRuleSet("two.txt", "");
  Start();
  const Names first = Rows();
  ASSERT_EQ(first, (Names{"one", "two"}));
  Reactivate();
  Reactivate();
  EXPECT_EQ(Rows(), first) << "never duplicated";

  // Changes show at the next activation, not before.
  WriteRuleSet("three.txt", "");
  fs::remove(reglist + "/one.txt");
  EXPECT_EQ(Rows(), first);
  Reactivate();
  EXPECT_EQ(Rows(), (Names{"three", "two"}));
}

TEST_F(RuleListTest, HookIsCalledOncePerEntry) {
  for (const char* name : {"a.txt", ".b.txt", "c.rtf", "d.txt", "ee"}) WriteRuleSet(name, "");
  fs::create_directory(reglist + "/f.txt");
  Start();
  const uint64_t before = platform::RuntimeBackgroundTaskCount();
  Window1()->Event_Activate();
  EXPECT_EQ(platform::RuntimeBackgroundTaskCount() - before, 6u);
  EXPECT_EQ(Rows(), (Names{"a", "d", "f"}));
}

TEST_F(RuleListTest, MissingOrEmptyFolderGivesAnEmptyList) {
  fs::remove_all(reglist);
  Start();
  EXPECT_TRUE(Rows().empty());
  fs::create_directory(reglist);
  Reactivate();
  EXPECT_TRUE(Rows().empty());

  // A folder that goes away empties the list at the next activation.
  WriteRuleSet("a.txt", "");
  Reactivate();
  ASSERT_EQ(Rows(), (Names{"a"}));
  fs::remove_all(reglist);
  const uint64_t before = platform::RuntimeBackgroundTaskCount();
  Reactivate();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(platform::RuntimeBackgroundTaskCount(), before);
}

TEST_F(RuleListTest, AClickRunsTheNameRebuiltFromColumnZero) {
  WriteRuleSet("a.txt.txt", "a\tDouble");
  WriteRuleSet("a.txt", "a\tSingle");
  SetContent("A/B:a");
  Start();
  ASSERT_EQ(Rows(), (Names{"a", "a.txt"}));
  auto list = Window1()->Listbox1();
  ClearCalls();
  // Any column: the row's name is always taken from column 0.
  EXPECT_FALSE(list->UserClickCell(1, 3, 40, 7));
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].script, "getcontents.scpt");
  EXPECT_EQ(calls[1].values, (std::vector<std::string>{"1,", "1,", "Double", "A", "B", "1"}));

  ClearCalls();
  EXPECT_FALSE(list->UserClickCell(0, 0));
  calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].values[2], "Single");
  EXPECT_EQ(Rows(), (Names{"a", "a.txt"})) << "a click does not refresh";
}

TEST_F(RuleListTest, ADeletedRuleSetsRowRunsNothing) {
  WriteRuleSet("gone.txt", "a\tS");
  SetContent("A/B:a");
  Start();
  ASSERT_EQ(Rows(), (Names{"gone"}));
  fs::remove(reglist + "/gone.txt");
  ClearCalls();
  EXPECT_FALSE(Window1()->Listbox1()->UserClickCell(0, 0));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(Rows(), (Names{"gone"}));
}

}  // namespace
