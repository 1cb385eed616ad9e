// The style-rule engine: rule sets, the host's content, position lists,
// style requests and the styling run.
#pragma once

#include <string>
#include <vector>

#include "engine/match_positions.h"
#include "platform/files.h"

namespace engine {

// One rule: one line of a rule-set file, its TAB-separated fields 1 to 3. A
// kind equal to "p" asks for a paragraph style, every other kind for a
// character style.
struct RegRule {
  std::string pattern;
  std::string style;
  std::string kind;
};

// The rules of one rule-set file, in file order, as three parallel lists.
struct RegRuleSet {
  std::vector<std::string> patterns;
  std::vector<std::string> styles;
  std::vector<std::string> kinds;

  int Count() const { return static_cast<int>(patterns.size()); }
  RegRule Rule(int i) const;
  void Append(const RegRule& rule);
};

// One rule from one line.
RegRule ParseRuleLine(const std::string& line);
// Every line of the stream, the first read before any end test (an empty
// file gives one empty rule); the hook is called after each line.
RegRuleSet ReadRuleSet(platform::TextInputStream& stream);

// The two fields of a piece's head, handed back to the host unread.
struct ChunkAddress {
  std::string field1;
  std::string field2;
};

// One non-empty piece of the host's content: "<head>:<text>", the head cut
// at "/" into the address.
struct ContentChunk {
  ChunkAddress address;
  std::string text;
};

// The separator of the pieces in the host's content.
inline constexpr const char* kChunkSeparator = "<t@ke>";

// The pieces of the host's content, empty ones included (they are skipped).
std::vector<std::string> SplitContent(const std::string& content);
// A non-empty piece: the head is what comes before the first ":", the text
// what comes after it (the whole piece when it holds no ":").
ContentChunk ParseContentChunk(const std::string& piece);

// "1" when the "clearing overrides" checkbox is ticked, else "0".
std::string ClearOverridesFlag(bool ticked);

// The style requests, given the flag read at the moment of the request:
// applyCS gets starts, ends, style, address 1, address 2, flag; applyPS the
// paragraph list, style, address 1, address 2, flag. The host's answers are
// dropped. Lists too long for one script call go in several calls, each
// with a run of whole entries in order (the i-th start with the i-th end)
// and every other value unchanged.
void SendCharacterRequest(const std::string& positions, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag);
void SendParagraphRequest(const std::string& paragraphs, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag);

// What a styling run calls on the window it runs on.
class StylingTarget {
 public:
  virtual std::string getRegPos(const std::string& text, const std::string& pattern) = 0;
  virtual std::string getRegParaPos(const std::string& text, const std::string& pattern) = 0;
  virtual void applyChaStyle(const std::string& positions, const std::string& style,
                             const std::string& address1, const std::string& address2) = 0;
  virtual void applyParaStyle(const std::string& paragraphs, const std::string& style,
                              const std::string& address1, const std::string& address2) = 0;

 protected:
  ~StylingTarget() = default;
};

// One styling run: the rule set of that name in "reglist" against the host's
// document. Returns at once for an empty name or a missing entry; a rejected
// character pattern ends the run quietly.
void MainScpt(StylingTarget& self, const std::string& file_name);

}  // namespace engine
