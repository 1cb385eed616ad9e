// Rule sets as users keep them on real disks: names whose ending is written
// in capitals, and files saved as UTF-16 by a text editor. Each is run the
// way a user runs it, by a click on its row, and judged by what the host
// scripts received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults_support.h"

namespace faults {
namespace {

using Names = std::vector<std::string>;

class RealFilesTest : public FaultTest {
 protected:
  // The style names the click on `row` sent, in order; each rule set below
  // names its styles after its own file, so they tell which file ran.
  std::vector<std::string> StylesSentByAClickOn(const std::string& row) {
    ClearCalls();
    if (!ClickRow(row)) {
      ADD_FAILURE() << "no row " << row << " among: " << Joined(Rows());
      return {};
    }
    std::vector<std::string> styles;
    for (const ScriptCall& call : Calls()) {
      if (call.script == "applyCS.scpt" && call.values.size() == 6) styles.push_back(call.values[2]);
      if (call.script == "applyPS.scpt" && call.values.size() == 5) styles.push_back(call.values[1]);
    }
    return styles;
  }
};

TEST_F(RealFilesTest, EveryListedRowRunsItsOwnRuleSet) {
  // file name -> what its row shows
  const std::vector<std::pair<std::string, std::string>> sets = {
      {"a.txt.TXT", "a.txt"}, {"body.txt", "body"},      {"DUP.txt", "DUP"},
      {"dup.TXT", "dup"},     {"MiXeD.tXt", "MiXeD"},    {"Old.TXT", "Old"},
      {"見出し.Txt", "見出し"},
  };
  for (const auto& [file, row] : sets) WriteRuleSet(file, "x\tstyle of " + file);
  SetContent("A/B:x");
  Start();
  Names expected_rows;
  for (const auto& [file, row] : sets) expected_rows.push_back(row);
  ASSERT_EQ(Rows(), expected_rows);
  for (const auto& [file, row] : sets) {
    SCOPED_TRACE(row);
    EXPECT_EQ(StylesSentByAClickOn(row), std::vector<std::string>{"style of " + file});
  }
}

// UTF-16 code units of a text of ASCII, kana and kanji (no surrogates),
// with the byte-order mark first.
std::string Utf16(const std::u16string& text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST_F(RealFilesTest, RuleSetsInUtf16StyleWhatTheSameRulesInUtf8Do) {
  // Character and paragraph rules, Japanese patterns and style names, a
  // blank line, CRLF line ends.
  const std::u16string rules =
      u"\u65e5\u672c\t\u5f37\u8abf\r\n"             // 日本 -> 強調
      u"[0-9]+\tNumber\r\n"
      u"\r\n"
      u"^\u898b\u51fa\u3057\t\u898b\u51fa\u3057\tp\r\n";  // ^見出し -> paragraph 見出し
  const std::string utf8 =
      "\xE6\x97\xA5\xE6\x9C\xAC\t\xE5\xBC\xB7\xE8\xAA\xBF\r\n"
      "[0-9]+\tNumber\r\n"
      "\r\n"
      "^\xE8\xA6\x8B\xE5\x87\xBA\xE3\x81\x97\t\xE8\xA6\x8B\xE5\x87\xBA\xE3\x81\x97\tp\r\n";
  WriteRuleSet("utf8.txt", utf8);
  WriteRuleSet("utf16le.txt", Utf16(rules, false));
  WriteRuleSet("utf16be.txt", Utf16(rules, true));
  // 見出し 2024\r日本の本文 12 日本
  SetContent(
      "A/B:\xE8\xA6\x8B\xE5\x87\xBA\xE3\x81\x97 2024\r\xE6\x97\xA5\xE6\x9C\xAC\xE3\x81\xAE"
      "\xE6\x9C\xAC\xE6\x96\x87 12 \xE6\x97\xA5\xE6\x9C\xAC");
  Start();
  ASSERT_EQ(Rows(), (Names{"utf16be", "utf16le", "utf8"}));

  ClearCalls();
  ASSERT_TRUE(ClickRow("utf8"));
  const std::vector<ScriptCall> reference = Calls();
  // What the UTF-8 rules sent, written out: the rules did match.
  ASSERT_EQ(reference.size(), 5u);
  EXPECT_EQ(reference[1].values,
            (std::vector<std::string>{"10,19,", "11,20,", "\xE5\xBC\xB7\xE8\xAA\xBF", "A", "B", "1"}));
  EXPECT_EQ(reference[2].values[0], "5,16,");
  EXPECT_EQ(reference[4].values[0], "1,");

  for (const char* row : {"utf16le", "utf16be"}) {
    SCOPED_TRACE(row);
    ClearCalls();
    ASSERT_TRUE(ClickRow(row));
    const std::vector<ScriptCall> calls = Calls();
    ASSERT_EQ(calls.size(), reference.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].script, reference[i].script) << "call " << i;
      EXPECT_EQ(calls[i].values, reference[i].values) << "call " << i;
    }
  }
}

}  // namespace
}  // namespace faults
