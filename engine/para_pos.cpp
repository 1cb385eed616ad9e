#include <algorithm>
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

// The paragraph number as the decimal text Str gives, followed by ",",
// counted up in place: no division per paragraph.
class DecimalCounter {
 public:
  DecimalCounter() {
    text_[kLast] = ',';
    text_[kLast - 1] = '1';
  }
  std::string_view Text() const { return {text_ + first_, kLast + 1 - first_}; }
  void Next() {
    size_t at = kLast - 1;
    while (text_[at] == '9') text_[at--] = '0';
    if (at < first_) {
      text_[at] = '1';
      first_ = at;
    } else {
      ++text_[at];
    }
  }

 private:
  static constexpr size_t kLast = 23;  // room for every 64-bit count
  char text_[kLast + 1] = {};
  size_t first_ = kLast - 1;
};

// Makes room in the list for what the part of the text searched so far
// (`done` of `total` bytes) foretells for the whole, so that a long list
// grows a few times instead of doubling again and again, each time copying
// all of it.
void Grow(std::string& list, size_t done, size_t total) {
  size_t room = 2 * list.capacity();
  if (done > 0 && list.size() > 0) {
    const double per_byte = static_cast<double>(list.size()) / static_cast<double>(done);
    room = std::max(room, static_cast<size_t>(per_byte * 1.1 * static_cast<double>(total)));
  }
  list.reserve(std::max<size_t>(room, 256));
}

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
    // One budget for the search of the whole text, however it is cut.
    platform::SearchBudget budget(all.size());
    size_t paragraph = 0;
    for (DecimalCounter number;; number.Next()) {
      passes.Begin();
      const void* cr_at = std::memchr(all.data() + paragraph, '\r', all.size() - paragraph);
      bool matched;
      size_t next = 0;
      if (cr_at) {
        next = static_cast<const char*>(cr_at) - all.data() + 1;
        matched = re.Matches(checked, paragraph, next, budget);
      } else {
        matched = re.Matches(platform::CheckedText(checked, paragraph, all.size(), "\r"), budget);
      }
      if (matched) {
        if (list.capacity() - list.size() < 24) Grow(list, paragraph, all.size());
        list.append(number.Text());
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
