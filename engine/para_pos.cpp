#include <charconv>
#include <cstring>

#include "engine/match_positions.h"
#include "platform/regex.h"
#include "platform/runtime.h"

namespace engine {

std::string getRegParaPos(const std::string& text, const std::string& pattern) {
  try {
    platform::RegEx re;
    re.SearchPattern(pattern);
    std::string list;
    // Each paragraph is searched together with the carriage return that
    // ends it, where it lies in the text; only the last, which has none,
    // is copied to get one.
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* paragraph = begin;
    std::string last;
    for (int64_t number = 1;; ++number) {
      platform::RuntimeBackgroundTask();
      const char* cr = static_cast<const char*>(std::memchr(paragraph, '\r', end - paragraph));
      bool matched;
      if (cr) {
        matched = re.Search(std::string_view(paragraph, cr + 1 - paragraph)) != nullptr;
      } else {
        last.assign(paragraph, end - paragraph);
        last += '\r';
        matched = re.Search(last) != nullptr;
      }
      if (matched) {  // the decimal text Str gives, without a string per number
        char digits[24];
        list.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
        list += ',';
      }
      if (!cr) break;
      paragraph = cr + 1;
    }
    return list;
  } catch (const platform::RegExException&) {
    // A rejected pattern gives no paragraphs at all, whatever matched before.
    return std::string();
  }
}

}  // namespace engine
