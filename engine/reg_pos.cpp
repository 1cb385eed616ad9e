#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

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

// Decimal digits of n.
inline size_t Digits(uint64_t n) {
  size_t d = 1;
  while (n >= 10000) {
    n /= 10000;
    d += 4;
  }
  return d + (n >= 10) + (n >= 100) + (n >= 1000);
}

uint64_t CountChars(const char* from, const char* to) {
  return static_cast<uint64_t>(platform::Len(std::string_view(from, to - from)));
}

// The numbers of both lists as the scan meets them, kept compact until the
// scan is over and the lists' exact length is known, so that the lists are
// written once into a text of their final size, after the marked text is
// gone. Per number one byte for a small step from the number before (a
// start from the end before it, an end from its start), a larger step
// escaped into the bytes that follow it. The buffer grows by realloc, which
// moves large blocks without copying them.
class NumberLog {
 public:
  NumberLog() = default;
  NumberLog(const NumberLog&) = delete;
  NumberLog& operator=(const NumberLog&) = delete;
  ~NumberLog() { std::free(data_); }

  void Add(uint64_t step) {
    if (size_ + 10 > capacity_) Grow();
    if (step < 0x80) {
      data_[size_++] = static_cast<unsigned char>(step);
      return;
    }
    while (step >= 0x80) {  // a varint: seven bits a byte, the last below 0x80
      data_[size_++] = static_cast<unsigned char>(step | 0x80);
      step >>= 7;
    }
    data_[size_++] = static_cast<unsigned char>(step);
  }

  class Reader {
   public:
    explicit Reader(const unsigned char* p) : p_(p) {}
    uint64_t Next() {
      uint64_t step = *p_++;
      if (step < 0x80) return step;
      step &= 0x7F;
      for (int shift = 7;; shift += 7) {
        const uint64_t byte = *p_++;
        step |= (byte & 0x7F) << shift;
        if (byte < 0x80) return step;
      }
    }

   private:
    const unsigned char* p_;
  };
  Reader Read() const { return Reader(data_); }

 private:
  void Grow() {
    const size_t capacity = capacity_ ? 2 * capacity_ : 4096;
    void* grown = std::realloc(data_, capacity);
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<unsigned char*>(grown);
    capacity_ = capacity;
  }
  unsigned char* data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
};

// Appends the starts (or the ends) of the matches the log holds, each
// followed by ",".
void AppendNumbers(std::string& out, const NumberLog& log, uint64_t matches, bool ends) {
  char buffer[4096];
  char* at = buffer;
  NumberLog::Reader read = log.Read();
  uint64_t number = 0;
  for (uint64_t i = 0; i < matches; ++i) {
    number += read.Next();
    const uint64_t start = number;
    number += read.Next() - 1;
    if (buffer + sizeof buffer - at < 24) {
      out.append(buffer, at - buffer);
      at = buffer;
    }
    at = std::to_chars(at, buffer + sizeof buffer, ends ? number : start).ptr;
    *at++ = ',';
  }
  out.append(buffer, at - buffer);
}

// One scan of the marked text, which it releases when done. A text
// character never begins a marker (markers are absent from the text, and no
// marker's second or third byte can begin one), so the markers are exactly
// the places where they occur; between them the characters are counted in
// bulk.
//
// The background-task hook is told of the passes in one call: the
// character-by-character scan makes one pass per marker and one per text
// character, except the last two characters of the marked text when they
// are text, which it never reaches.
std::string ScanMarked(std::string&& marked_text, const MarkerPair& markers) {
  NumberLog log;
  uint64_t matches = 0, chars = 0;
  {
    const std::string marked = std::move(marked_text);  // released at the end of the scan
    const char* const begin = marked.data();
    const char* const opening = markers.opening.data();
    const char* const closing = markers.closing.data();
    uint64_t marker_count = 0, chars_at_last_marker = 0, last_number = 0;
    // The scan goes in batches of the places where a marker may begin,
    // each with the characters before it; markers' own bytes (three
    // one-byte characters each) are taken off as they are met.
    platform::BytePlace places[256];
    size_t from = 0;               // where the batch starts, in bytes
    uint64_t chars_at_from = 0;    // text characters before that
    for (;;) {
      size_t total = 0;
      const std::string_view rest(begin + from, marked.size() - from);
      const size_t found = platform::FindAllEither(rest, opening[0], closing[0], places,
                                                   std::size(places), &total);
      uint64_t marker_chars = 0;  // characters of markers met in this batch
      bool last_was_marker = false;
      for (size_t i = 0; i < found; ++i) {
        const char* const hit = rest.data() + places[i].offset;
        const size_t left = rest.size() - places[i].offset;
        chars = chars_at_from + places[i].chars - marker_chars;
        last_was_marker = true;
        if (left >= 3 && std::memcmp(hit, opening, 3) == 0) {
          // A start follows the end before it (or 0): step from that number.
          log.Add(chars + 1 - last_number);
          last_number = chars + 1;
          ++matches;
        } else if (left >= 3 && std::memcmp(hit, closing, 3) == 0) {
          // An end is at least its start less one (an empty match).
          log.Add(chars + 1 - last_number);
          last_number = chars;
        } else {
          last_was_marker = false;  // a bracket of the text itself, counted as such
          continue;
        }
        marker_chars += 3;
        ++marker_count;
        chars_at_last_marker = chars;
      }
      if (found < std::size(places)) {
        chars = chars_at_from + total - marker_chars;
        break;
      }
      // A full batch: the next one starts after its last place, a marker
      // (whose characters are not the text's) or a bracket of the text.
      const platform::BytePlace& last = places[found - 1];
      if (last_was_marker) {
        chars_at_from += last.chars - (marker_chars - 3);
        from += last.offset + 3;
      } else {
        chars_at_from += last.chars + 1 - marker_chars;
        from += last.offset + 1;
      }
    }
    const uint64_t trailing = chars - chars_at_last_marker;
    platform::RuntimeBackgroundTaskPasses(marker_count + chars - (trailing < 2 ? trailing : 2));
  }
  // Every match has its opening and its closing marker, in that order, so
  // the log holds start, end, start, end and so on. The lists are written
  // in their final place in two passes over the log, first the starts and
  // then the ends, through a small buffer.
  // Room for numbers as long as the last position's: memory that is reserved
  // but never written costs nothing.
  std::string lists;
  lists.reserve(2 * matches * (Digits(chars + 1) + 1) + 2);
  AppendNumbers(lists, log, matches, /*ends=*/false);
  lists += "<>";
  AppendNumbers(lists, log, matches, /*ends=*/true);
  return lists;
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
  return ScanMarked(re.Replace(text), markers);
}

}  // namespace engine
