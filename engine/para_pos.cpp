#include <charconv>
#include <cstring>

#include "engine/match_positions.h"
#include "platform/regex.h"
#include "platform/runtime.h"

namespace engine {

namespace {

// Tells the background-task hook of one pass per paragraph begun, in one
// call when the search ends, however it ends.
class ParagraphPasses {
 public:
  ParagraphPasses() = default;
  ParagraphPasses(const ParagraphPasses&) = delete;
  ParagraphPasses& operator=(const ParagraphPasses&) = delete;
  ~ParagraphPasses() { platform::RuntimeBackgroundTaskPasses(count_); }
  void Begin() { ++count_; }

 private:
  uint64_t count_ = 0;
};

}  // namespace

std::string getRegParaPos(const std::string& text, const std::string& pattern) {
  ParagraphPasses passes;
  try {
    platform::RegEx re;
    re.SearchPattern(pattern);
    std::string list;
    // The text is checked once; each paragraph is then searched together
    // with the carriage return that ends it, where it lies. Only the last,
    // which has none, is copied to get one. Only whether it matches counts.
    const platform::CheckedText checked(text);
    const std::string_view all = checked.view();
    size_t paragraph = 0;
    for (int64_t number = 1;; ++number) {
      passes.Begin();
      const void* cr_at = std::memchr(all.data() + paragraph, '\r', all.size() - paragraph);
      bool matched;
      size_t next = 0;
      if (cr_at) {
        next = static_cast<const char*>(cr_at) - all.data() + 1;
        matched = re.Matches(checked, paragraph, next);
      } else {
        matched = re.Matches(platform::CheckedText(checked, paragraph, all.size(), "\r"));
      }
      if (matched) {  // the decimal text Str gives, without a string per number
        char digits[24];
        list.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
        list += ',';
      }
      if (!cr_at) break;
      paragraph = next;
    }
    return list;
  } catch (const platform::RegExException&) {
    // A rejected pattern gives no paragraphs at all, whatever matched before.
    return std::string();
  }
}

}  // namespace engine
