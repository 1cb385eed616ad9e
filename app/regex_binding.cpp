#include "app/regex_binding.h"

#include "platform/regex.h"

namespace {

// The component's entry points, in the order of the table's places.
const char* const kRegExEntrypointNames[platform::kRegExEntryCount] = {
    "RegEx.__init",
    "RegEx.__exit",
    "RegEx.Search(TargetString as String) as RegExMatch",
    "RegEx.Search(TargetString as String, SearchStartPosition as Integer) as RegExMatch",
    "RegEx.Search() as RegExMatch",
    "RegEx.Replace(TargetString as String) as String",
    "RegEx.Replace(TargetString as String, SearchStartPosition as Integer) as String",
    "RegEx.Replace() as String",
    "RegEx.SearchPattern.Set",
    "RegEx.Options.Set",
    "RegExOptions.__init",
    "RegExOptions.__exit",
    "RegExOptions.LineEndType.Set",
    "RegExMatch.__init",
    "RegExMatch.__exit",
    "RegExMatch.Replace() as String",
    "RegExMatch.Replace(ReplacementPattern as string) as String",
    "RegExMatch.SubExpressionString(MatchNumber as Integer) as String",
    "RegExMatch.SubExpressionStartB(MatchNumber as Integer) as Integer",
};

}  // namespace

void BindRegExComponent() {
  platform::PluginEntry* table =
      platform::RuntimeAllocatePluginEntrypointsTable(platform::kRegExEntryCount);
  // Nothing is tested: a missing entry point leaves its place empty, and the
  // operation that calls through it raises NilObjectException.
  for (int i = 0; i < platform::kRegExEntryCount; ++i)
    table[i] = platform::RuntimeLookupPluginEntrypoint(kRegExEntrypointNames[i]);
  platform::gRegExEntrypoints = table;
}
