// getRegPos and getRegParaPos against an oracle that asks PCRE2 itself,
// compiled and limited as the pattern component is, for the matches' byte
// offsets and counts the characters before them.
//
// Input: the pattern, a line feed, the text (no line feed: all pattern, empty
// text). Patterns come from lines of a rule file, so they never hold a line
// feed; texts are taken as they come, invalid UTF-8 included (the component
// searches the repaired form, and so does the oracle).
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/regex_binding.h"
#include "engine/match_positions.h"
#include "fuzz/fuzz_support.h"
#include "platform/regex.h"
#include "platform/text.h"
#include "tests/support/pcre2_oracle.h"

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

  // JIT code, so that a search hits the limits where the component's does.
  const oracle::Pcre2Oracle expected(pattern, /*jit=*/true);
  const auto positions_expected = expected.Positions(subject);
  const auto paragraphs = expected.Paragraphs(subject);
  // The component also bounds the search as a whole. For a text of a few KB
  // its budget holds every search whose starts each take at most a few
  // hundred steps; where one needs more, the limit outcome is allowed too.
  const oracle::Pcre2Oracle light(pattern, /*jit=*/true, /*match_limit=*/250);
  const bool heavy = positions_expected && paragraphs &&
                     (!light.Positions(subject) || !light.Paragraphs(subject));

  std::string positions;
  bool raised = false;
  try {
    positions = engine::getRegPos(text, pattern);
  } catch (const platform::RegExException&) {
    raised = true;
  }
  if (!positions_expected) {
    if (!raised)
      fuzz::Fail("getRegPos: a rejected pattern or a failed search gave a list",
                 "  got: " + fuzz::Show(positions) + "\n  " + context);
  } else if (!(raised && heavy)) {
    if (raised) fuzz::Fail("getRegPos raised for a pattern PCRE2 accepts", "  " + context);
    fuzz::CheckEqual("getRegPos", positions, *positions_expected, context);
  }

  const std::string para = engine::getRegParaPos(text, pattern);
  if (!(para.empty() && heavy))
    fuzz::CheckEqual("getRegParaPos", para, paragraphs.value_or(std::string()), context);
  return 0;
}
