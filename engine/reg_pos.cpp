#include <charconv>
#include <cstring>

#include "engine/match_positions.h"
#include "platform/regex.h"
#include "platform/runtime.h"
#include "platform/text.h"

namespace engine {

namespace {

// The three bracket kinds of the marker chains, in order of preference:
// opening markers are X@Y, closing markers X/Y.
constexpr char kBrackets[3][2] = {{'<', '>'}, {'[', ']'}, {'{', '}'}};

struct Presence {
  bool opening = false, closing = false;
};

// Whether the opening and the closing marker of one bracket kind occur in
// the text: one memchr pass over the text for the bracket's first byte.
Presence FindMarkers(std::string_view text, char open, char close) {
  Presence found;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (end - p >= 3 && !(found.opening && found.closing)) {
    const char* hit = static_cast<const char*>(std::memchr(p, open, (end - p) - 2));
    if (!hit) break;
    if (hit[2] == close) {
      if (hit[1] == '@') found.opening = true;
      if (hit[1] == '/') found.closing = true;
    }
    p = hit + 1;
  }
  return found;
}

void AppendNumber(std::string& list, uint64_t n) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
  (void)ec;
  list.append(digits, end);
  list += ',';
}

// The next place, at or after `from`, of either of two bytes; remembers the
// last place of each so that every byte of the text is looked at once.
class TwoByteFinder {
 public:
  TwoByteFinder(const char* end, char a, char b) : end_(end), a_(a), b_(b) {}
  const char* Next(const char* from) {
    if (!next_a_ || next_a_ < from) next_a_ = Find(from, a_);
    if (a_ == b_) return next_a_;
    if (!next_b_ || next_b_ < from) next_b_ = Find(from, b_);
    return next_a_ < next_b_ ? next_a_ : next_b_;
  }

 private:
  const char* Find(const char* from, char c) const {
    const void* hit = std::memchr(from, c, end_ - from);
    return hit ? static_cast<const char*>(hit) : end_;
  }
  const char* end_;
  char a_, b_;
  const char* next_a_ = nullptr;
  const char* next_b_ = nullptr;
};

uint64_t CountChars(const char* from, const char* to) {
  return static_cast<uint64_t>(platform::Len(std::string_view(from, to - from)));
}

// One scan of the marked text. A text character never begins a marker
// (markers are absent from the text, and no marker's second or third byte
// can begin one), so the markers are exactly the places where they occur;
// between them the characters are counted in bulk.
//
// The background-task hook is told of the passes in one call: the
// character-by-character scan makes one pass per marker and one per text
// character, except the last two characters of the marked text when they
// are text, which it never reaches.
std::string ScanMarked(std::string_view marked, const MarkerPair& markers, size_t text_bytes) {
  const char* p = marked.data();
  const char* const end = p + marked.size();
  const char* const opening = markers.opening.data();
  const char* const closing = markers.closing.data();
  std::string starts, ends;
  {
    // Every match added six bytes of markers, and no number is longer than
    // the text's byte count: room for both lists at once, so that a list of
    // millions of numbers is never copied while it grows.
    const size_t matches = marked.size() > text_bytes ? (marked.size() - text_bytes) / 6 : 0;
    size_t digits = 1;
    for (size_t n = text_bytes + 1; n >= 10; n /= 10) ++digits;
    starts.reserve(2 * matches * (digits + 1) + 2);
    ends.reserve(matches * (digits + 1));
  }
  uint64_t chars = 0, marker_count = 0, chars_at_last_marker = 0;
  TwoByteFinder finder(end, opening[0], closing[0]);
  for (;;) {
    const char* hit = finder.Next(p);
    chars += CountChars(p, hit);
    if (hit == end) break;
    if (end - hit >= 3 && std::memcmp(hit, opening, 3) == 0) {
      AppendNumber(starts, chars + 1);
      ++marker_count;
      chars_at_last_marker = chars;
      p = hit + 3;
    } else if (end - hit >= 3 && std::memcmp(hit, closing, 3) == 0) {
      AppendNumber(ends, chars);
      ++marker_count;
      chars_at_last_marker = chars;
      p = hit + 3;
    } else {
      ++chars;  // a bracket of the text itself: one byte, one character
      p = hit + 1;
    }
  }
  const uint64_t trailing = chars - chars_at_last_marker;
  platform::RuntimeBackgroundTaskPasses(marker_count + chars - (trailing < 2 ? trailing : 2));
  starts += "<>";
  starts += ends;
  return starts;
}

// When a marker chain is used up, markers cannot tell matches from text, so
// the positions come from the matches' own offsets instead, counting the
// characters between one match and the next. One pass of the hook per match.
std::string PositionsFromMatches(platform::RegEx& re, const std::string& original) {
  // Offsets refer to the text the component searched, which is the repaired
  // form of a text that is not valid UTF-8.
  std::string repaired;
  if (!platform::IsValidUtf8(original)) repaired = platform::ToValidUtf8(original);
  const std::string& text = repaired.empty() ? original : repaired;
  std::string starts, ends;
  size_t counted_to = 0;   // byte offset up to which characters are counted
  uint64_t before = 0;     // characters before counted_to
  for (auto match = re.Search(text); match; match = re.Search()) {
    platform::RuntimeBackgroundTask();
    const size_t at = static_cast<size_t>(match->SubExpressionStartB(0));
    const std::string whole = match->SubExpressionString(0);
    if (at < counted_to || at > text.size()) break;  // cannot happen with ordered matches
    before += CountChars(text.data() + counted_to, text.data() + at);
    counted_to = at;
    AppendNumber(starts, before + 1);
    AppendNumber(ends, before + static_cast<uint64_t>(platform::Len(whole)));
  }
  starts += "<>";
  starts += ends;
  return starts;
}

}  // namespace

MarkerPair ChooseMarkerPair(std::string_view text) {
  MarkerPair pair;
  bool opening_chosen = false, closing_chosen = false;
  for (const auto& bracket : kBrackets) {
    if (opening_chosen && closing_chosen) break;
    const Presence found = FindMarkers(text, bracket[0], bracket[1]);
    if (!opening_chosen && !found.opening) {
      pair.opening = {bracket[0], '@', bracket[1]};
      opening_chosen = true;
    }
    if (!closing_chosen && !found.closing) {
      pair.closing = {bracket[0], '/', bracket[1]};
      closing_chosen = true;
    }
  }
  return pair;
}

std::string getRegPos(const std::string& text, const std::string& pattern) {
  platform::RegEx re;
  const MarkerPair markers = ChooseMarkerPair(text);
  re.SearchPattern(pattern);
  if (markers.opening.empty() || markers.closing.empty()) return PositionsFromMatches(re, text);
  re.ReplacementPattern(markers.opening + "\\0" + markers.closing);
  platform::Deref(re.Options(), "RegEx.Options").ReplaceAllMatches = true;
  const std::string marked = re.Replace(text);
  return ScanMarked(marked, markers, text.size());
}

}  // namespace engine
