#include "engine/style_rules.h"

#include "platform/runtime.h"
#include "platform/text.h"

namespace engine {

RegRule RegRuleSet::Rule(int i) const {
  const auto k = static_cast<size_t>(i);
  return {patterns.at(k), styles.at(k), kinds.at(k)};
}

void RegRuleSet::Append(const RegRule& rule) {
  patterns.push_back(rule.pattern);
  styles.push_back(rule.style);
  kinds.push_back(rule.kind);
}

RegRule ParseRuleLine(const std::string& line) {
  const std::string tab = platform::Chr(9);
  return {platform::NthField(line, tab, 1), platform::NthField(line, tab, 2),
          platform::NthField(line, tab, 3)};
}

RegRuleSet ReadRuleSet(platform::TextInputStream& stream) {
  RegRuleSet rules;
  do {
    rules.Append(ParseRuleLine(stream.ReadLine()));
    platform::RuntimeBackgroundTask();
  } while (!stream.Eof());
  return rules;
}

std::vector<std::string> SplitContent(const std::string& content) {
  return platform::Split(content, kChunkSeparator);
}

ContentChunk ParseContentChunk(const std::string& piece) {
  const int colon = platform::InStr(0, piece, ":");
  // Without a ":" the head is Left(piece, -1), the empty text, and the text
  // is the whole piece.
  const std::string head = platform::Left(piece, colon - 1);
  ContentChunk chunk;
  chunk.address.field2 = platform::NthField(head, "/", 2);
  chunk.address.field1 = platform::NthField(head, "/", 1);
  chunk.text = platform::Mid(piece, colon + 1);
  return chunk;
}

std::string ClearOverridesFlag(bool ticked) { return ticked ? "1" : "0"; }

}  // namespace engine
