#include "engine/style_rules.h"
#include "host/host_scripts.h"
#include "platform/regex.h"
#include "platform/runtime.h"
#include "platform/text.h"

namespace engine {
namespace {

void Run(StylingTarget& self, const std::string& file_name) {
  RegRuleSet rules;
  if (file_name.empty()) return;

  auto folder = platform::GetFolderItem("reglist", 0);
  auto entry = platform::Deref(folder, "rule-set folder").Child(file_name);
  if (!platform::Deref(entry, "rule-set entry").Exists()) return;

  // The rule set is read whole, and closed, before the host is contacted.
  if (auto stream = entry->OpenAsTextFile()) {
    rules = ReadRuleSet(*stream);
    stream->Close();
  }
  const int rule_count = rules.Count();

  const std::vector<std::string> pieces = SplitContent(getcontents({}));
  for (const std::string& piece : pieces) {
    if (!piece.empty()) {
      const ContentChunk chunk = ParseContentChunk(piece);
      const std::string& a1 = chunk.address.field1;
      const std::string& a2 = chunk.address.field2;
      for (int i = 0; i < rule_count; ++i) {
        const auto k = static_cast<size_t>(i);
        const std::string& pattern = rules.patterns[k];
        const std::string& style = rules.styles[k];
        if (platform::TextEquals(rules.kinds[k], "p")) {
          self.applyParaStyle(self.getRegParaPos(chunk.text, pattern), style, a1, a2);
        } else {
          self.applyChaStyle(self.getRegPos(chunk.text, pattern), style, a1, a2);
        }
        platform::RuntimeBackgroundTask();
      }
    }
    platform::RuntimeBackgroundTask();
  }
}

}  // namespace

void MainScpt(StylingTarget& self, const std::string& file_name) {
  try {
    Run(self, file_name);
  } catch (const platform::RegExException&) {
    // A rejected character pattern ends the run; what was sent stays applied.
  }
}

}  // namespace engine
