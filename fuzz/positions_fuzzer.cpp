// getRegPos and getRegParaPos against an oracle that asks PCRE2 itself,
// compiled and limited as the pattern component is, for the matches' byte
// offsets and counts the characters before them.
//
// Input: the pattern, a line feed, the text (no line feed: all pattern, empty
// text). Patterns come from lines of a rule file, so they never hold a line
// feed; texts are taken as they come, invalid UTF-8 included (the component
// searches the repaired form, and so does the oracle).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/regex_binding.h"
#include "engine/match_positions.h"
#include "fuzz/fuzz_support.h"
#include "platform/regex.h"
#include "platform/text.h"

namespace {

// The component's settings: caseless, multiline, UTF, no \C, line ends CR,
// LF or CRLF, and its limits on a single search.
constexpr uint32_t kCompileOptions =
    PCRE2_UTF | PCRE2_NEVER_BACKSLASH_C | PCRE2_CASELESS | PCRE2_MULTILINE;

struct Engine {
  pcre2_compile_context* compile = pcre2_compile_context_create(nullptr);
  pcre2_match_context* match = pcre2_match_context_create(nullptr);
  pcre2_jit_stack* stack = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
  Engine() {
    pcre2_set_newline(compile, PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_match_limit(match, 10'000'000);
    pcre2_set_depth_limit(match, 250'000);
    pcre2_set_heap_limit(match, 256 * 1024);
    pcre2_jit_stack_assign(match, nullptr, stack);
  }
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

struct Compiled {
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
  bool crlf_newline = false;
  ~Compiled() {
    if (data) pcre2_match_data_free(data);
    if (code) pcre2_code_free(code);
  }
  bool ok() const { return code && data; }
};

void Compile(Compiled& c, const std::string& pattern) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  c.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                         kCompileOptions, &error, &offset, TheEngine().compile);
  if (!c.code) return;
  pcre2_jit_compile(c.code, PCRE2_JIT_COMPLETE);
  c.data = pcre2_match_data_create_from_pattern(c.code, nullptr);
  uint32_t newline = 0;
  pcre2_pattern_info(c.code, PCRE2_INFO_NEWLINE, &newline);
  c.crlf_newline = newline == PCRE2_NEWLINE_ANY || newline == PCRE2_NEWLINE_CRLF ||
                   newline == PCRE2_NEWLINE_ANYCRLF;
}

int Match(const Compiled& c, const std::string& subject, size_t offset, uint32_t options) {
  return pcre2_match(c.code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), offset,
                     options, c.data, TheEngine().match);
}

// Every match in text order, the way pcre2demo walks them: after an empty
// match, try a non-empty one anchored at the same place, else step one
// character (a CRLF as one when it is a line end). Nothing when a search
// fails for any reason but "no match".
std::optional<std::vector<std::pair<size_t, size_t>>> AllMatches(const Compiled& c,
                                                                  const std::string& s) {
  std::vector<std::pair<size_t, size_t>> matches;
  size_t offset = 0;
  bool after_empty = false;
  while (offset <= s.size()) {
    const int rc =
        Match(c, s, offset, after_empty ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0);
    if (rc == PCRE2_ERROR_NOMATCH) {
      if (!after_empty || offset == s.size()) break;
      size_t next = offset + 1;
      if (c.crlf_newline && s[offset] == '\r' && next < s.size() && s[next] == '\n') {
        ++next;
      } else {
        while (next < s.size() && (static_cast<unsigned char>(s[next]) & 0xC0) == 0x80) ++next;
      }
      offset = next;
      after_empty = false;
      continue;
    }
    if (rc < 0) return std::nullopt;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c.data);
    if (ov[0] > ov[1] || ov[1] < offset) return std::nullopt;
    matches.emplace_back(ov[0], ov[1]);
    offset = ov[1];
    after_empty = ov[0] == ov[1];
  }
  return matches;
}

std::string ExpectedPositions(const std::string& s,
                              const std::vector<std::pair<size_t, size_t>>& matches) {
  // chars_before[b]: characters that start before byte b.
  std::vector<uint64_t> chars_before(s.size() + 1, 0);
  for (size_t b = 0; b < s.size(); ++b)
    chars_before[b + 1] = chars_before[b] + ((static_cast<unsigned char>(s[b]) & 0xC0) != 0x80);
  std::string starts, ends;
  for (const auto& [from, to] : matches) {
    starts += std::to_string(chars_before[from] + 1) + ",";
    ends += std::to_string(chars_before[to]) + ",";
  }
  return starts + "<>" + ends;
}

// The paragraphs (cut at CR) in which a search of the paragraph and one CR
// finds a match; nothing when some search fails.
std::optional<std::string> ExpectedParagraphs(const Compiled& c, const std::string& s) {
  std::string list;
  size_t start = 0;
  for (int number = 1;; ++number) {
    const size_t cr = s.find('\r', start);
    const std::string paragraph =
        s.substr(start, cr == std::string::npos ? std::string::npos : cr - start) + "\r";
    const int rc = Match(c, paragraph, 0, 0);
    if (rc >= 0) list += std::to_string(number) + ",";
    else if (rc != PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (cr == std::string::npos) break;
    start = cr + 1;
  }
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BindRegExComponent();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t lf = input.find('\n');
  const std::string pattern = input.substr(0, lf);
  const std::string text = lf == std::string::npos ? std::string() : input.substr(lf + 1);
  const std::string subject = platform::ToValidUtf8(text);
  const std::string context = "pattern " + fuzz::Show(pattern) + ", text " + fuzz::Show(text);

  Compiled compiled;
  Compile(compiled, pattern);
  std::optional<std::vector<std::pair<size_t, size_t>>> matches;
  std::optional<std::string> paragraphs;
  if (compiled.ok()) {
    matches = AllMatches(compiled, subject);
    paragraphs = ExpectedParagraphs(compiled, subject);
  }

  std::string positions;
  bool raised = false;
  try {
    positions = engine::getRegPos(text, pattern);
  } catch (const platform::RegExException&) {
    raised = true;
  }
  if (!matches) {
    if (!raised)
      fuzz::Fail("getRegPos: a rejected pattern or a failed search gave a list",
                 "  got: " + fuzz::Show(positions) + "\n  " + context);
  } else {
    if (raised) fuzz::Fail("getRegPos raised for a pattern PCRE2 accepts", "  " + context);
    fuzz::CheckEqual("getRegPos", positions, ExpectedPositions(subject, *matches), context);
  }

  const std::string para = engine::getRegParaPos(text, pattern);
  fuzz::CheckEqual("getRegParaPos", para, paragraphs.value_or(std::string()), context);
  return 0;
}
